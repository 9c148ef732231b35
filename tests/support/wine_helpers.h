// Helpers for the tests that run under Wine against the real Win32: paths of
// the programs under test, scratch folders, and starting a program to its end.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <optional>
#include <string>

// Converts a Linux path to the Windows path Wine maps it to (drive Z:).
inline std::wstring WindowsPathOf(const std::string& unix_path) {
  std::wstring path = L"Z:";
  for (char c : unix_path) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
  return path;
}

// A Linux path handed in by ctest through the environment, as a Windows path.
inline std::wstring WindowsPathFromEnvironment(const char* variable) {
  const char* value = std::getenv(variable);
  return value == nullptr ? std::wstring() : WindowsPathOf(value);
}

inline std::wstring UpdaterExecutable() { return WindowsPathFromEnvironment("REMOTEUPDATER_EXE"); }
inline std::wstring SampleFolder() { return WindowsPathFromEnvironment("CORVANTA_SAMPLE_DIR"); }

// A fresh, empty folder on the prefix's own drive, named after `name`.
inline std::wstring MakeScratchFolder(const std::wstring& name) {
  ::CreateDirectoryW(L"C:\\scratch", nullptr);
  std::wstring folder = L"C:\\scratch\\" + name + L"-" + std::to_wstring(::GetTickCount());
  ::CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

inline std::wstring FileNameOf(const std::wstring& path) {
  return path.substr(path.find_last_of(L"\\/") + 1);
}

// Copies `file` into `folder` and returns the copy's path, or empty.
inline std::wstring CopyInto(const std::wstring& file, const std::wstring& folder,
                             const std::wstring& new_name = L"") {
  const std::wstring target = folder + L"\\" + (new_name.empty() ? FileNameOf(file) : new_name);
  if (!::CopyFileW(file.c_str(), target.c_str(), /*fail_if_exists=*/FALSE)) return {};
  return target;
}

// Starts `application` with `command_line` and waits up to `timeout_ms` for it
// to end. Returns its exit code, or nothing when it could not be started or
// did not end in time (it is then terminated).
inline std::optional<DWORD> RunToExit(const std::wstring& application, std::wstring command_line,
                                      DWORD timeout_ms = 60000) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(application.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &info)) {
    return std::nullopt;
  }
  ::CloseHandle(info.hThread);
  std::optional<DWORD> result;
  if (::WaitForSingleObject(info.hProcess, timeout_ms) == WAIT_OBJECT_0) {
    DWORD code = 0;
    if (::GetExitCodeProcess(info.hProcess, &code)) result = code;
  } else {
    ::TerminateProcess(info.hProcess, 99);
  }
  ::CloseHandle(info.hProcess);
  return result;
}

inline bool FileExistsAt(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
