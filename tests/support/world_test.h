// The base of every test that touches Windows, and the updater's texts as
// tests expect them. On the host it starts a fresh simulated machine and
// checks at the end that no handle was left open, nothing was misused and no
// program was started with more than it needs; under Wine it clears what the
// tests leave in the real registry.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cwctype>
#include <string>

#include "shared/status_record_text.h"
#include "shared/unique_handles.h"
#include "shared/updater_contract.h"

#if !defined(_WIN32)
#include "support/run_rules.h"
#endif

using updater_contract::kCompletedOutcome;
using updater_contract::kStatusKeyPath;
using updater_contract::kStatusValueName;

// A failure whose details are in the Windows Installer's log beside `msi`.
inline std::wstring FailedWithLogText(const std::wstring& reason, const std::wstring& msi) {
  return FailedOutcomeWithLog(reason, msi + updater_contract::kLogSuffix);
}

// Watcher log lines as the file holds them.
inline std::string WatcherLine(const std::string& text) { return text + "\r\n"; }
inline std::string LaunchLine(DWORD pid, DWORD exit_code) {
  return WatcherLine(updater_contract::kWatcherLaunchPid + std::to_string(pid) +
                     updater_contract::kWatcherLaunchExit + std::to_string(exit_code));
}
inline std::string CreateFailedLine(DWORD error) {
  return WatcherLine(updater_contract::kWatcherCreateFailed + std::to_string(error));
}

// The text with its letters in upper case.
inline std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
  return text;
}

// The file's bytes, read through the file API; empty when it cannot be read.
inline std::string ReadWholeFile(const std::wstring& path) {
  const UniqueHandle file =
      OwnHandle(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string content;
  char chunk[4096];
  DWORD got = 0;
  while (file && ::ReadFile(file.get(), chunk, sizeof(chunk), &got, nullptr) && got > 0) {
    content.append(chunk, got);
  }
  return content;
}

// Names a table's cases after their rows' `name`.
inline constexpr auto kRowName = [](const auto& info) { return std::string(info.param.name); };

class WorldTest : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(_WIN32)
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kStatusKeyPath);
#else
    ResetMachine();
#endif
  }

  void TearDown() override {
#if defined(_WIN32)
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kStatusKeyPath);
#else
    std::vector<std::string> broken;
    run_rules::CheckWorld(broken);
    run_rules::CheckLaunches(broken);
    for (const std::string& rule : broken) ADD_FAILURE() << rule;
#endif
  }
};
