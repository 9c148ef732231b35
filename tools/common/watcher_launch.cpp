#include "common/watcher_launch.h"

#include <cwchar>

#include "shared/updater_contract.h"

namespace tools {

namespace {

// The log's lines are ASCII, so each byte widens to its own character.
[[nodiscard]] std::wstring Widen(const char* ascii) {
  const std::string text = ascii;
  return std::wstring(text.begin(), text.end());
}

}  // namespace

DWORD LaunchedPid(const std::wstring& line) {
  const std::wstring prefix = Widen(updater_contract::kWatcherLaunchPid);
  if (line.compare(0, prefix.size(), prefix) != 0) return 0;
  const wchar_t* digits = line.c_str() + prefix.size();
  wchar_t* end = nullptr;
  const unsigned long long pid = std::wcstoull(digits, &end, 10);
  const std::wstring exit = Widen(updater_contract::kWatcherLaunchExit);
  const bool whole = end != digits && std::wstring(end).compare(0, exit.size(), exit) == 0;
  return whole && pid <= 0xFFFFFFFFull ? static_cast<DWORD>(pid) : 0;
}

DWORD LastLaunchedPid(const std::vector<std::wstring>& lines) {
  DWORD last = 0;
  for (const std::wstring& line : lines) {
    const DWORD pid = LaunchedPid(line);
    if (pid != 0) last = pid;
  }
  return last;
}

}  // namespace tools
