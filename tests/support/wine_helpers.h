// Helpers for the tests that run under Wine against the real Win32: paths of
// the programs under test, scratch folders, and starting a program to its end.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "shared/unique_handles.h"
#include "support/world_test.h"
#include "win/process_start.h"
#include "win/road_handles.h"

// A well-formed update token, as the service makes them.
inline constexpr char kWellFormedToken[] = "0f8fad5b-d9cb-469f-a165-70867728950e";

// A Linux path handed in by ctest through the environment, as the Windows path Wine maps it to
// (drive Z:); empty when the variable is not set.
inline std::wstring WindowsPathFromEnvironment(const char* variable) {
  const char* value = std::getenv(variable);
  if (value == nullptr) return {};
  std::wstring path = L"Z:";
  for (; *value != '\0'; ++value) path += *value == '/' ? L'\\' : static_cast<wchar_t>(*value);
  return path;
}

inline std::wstring UpdaterExecutable() { return WindowsPathFromEnvironment("REMOTEUPDATER_EXE"); }
inline std::wstring SampleFolder() { return WindowsPathFromEnvironment("CORVANTA_SAMPLE_DIR"); }
// The folder part of a path, without the last separator; empty when there is none.
inline std::wstring FolderOf(const std::wstring& path) {
  const size_t separator = path.find_last_of(L"\\/");
  return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator);
}

// One of the packages the sample's build makes, by its path below msi\.
inline std::wstring SamplePackage(const std::wstring& name) {
  return SampleFolder() + L"\\msi\\" + name;
}
// A file of the test publishers' folder, which the build makes beside RemoteUpdater.exe.
inline std::wstring TestPublisherFile(const std::wstring& name) {
  return FolderOf(UpdaterExecutable()) + L"\\test-publisher\\" + name;
}

// A program of the system folder, as its full path; empty when that folder is unknown.
inline std::wstring SystemProgram(const wchar_t* name) {
  wchar_t system[MAX_PATH] = {};
  if (::GetSystemDirectoryW(system, MAX_PATH) == 0) return {};
  return std::wstring(system) + L"\\" + name;
}

// Whether `condition` holds within `timeout_ms`, looked at every 20 ms.
inline bool WaitUntil(const std::function<bool()>& condition, DWORD timeout_ms) {
  for (DWORD waited = 0; !condition(); waited += 20) {
    if (waited >= timeout_ms) return false;
    ::Sleep(20);
  }
  return true;
}

// A fresh, empty folder on the prefix's own drive, named after `name`.
inline std::wstring MakeScratchFolder(const std::wstring& name) {
  ::CreateDirectoryW(L"C:\\scratch", nullptr);
  std::wstring folder = L"C:\\scratch\\" + name + L"-" + std::to_wstring(::GetTickCount());
  ::CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

// ASCII text of a wide string, for messages and comparisons with 8-bit text.
inline std::string Narrow(const std::wstring& text) {
  return std::string(text.begin(), text.end());
}

// Copies `file` into `folder` and returns the copy's path, or empty.
inline std::wstring CopyInto(const std::wstring& file, const std::wstring& folder,
                             const std::wstring& new_name = L"") {
  const std::wstring target =
      folder + L"\\" + (new_name.empty() ? file.substr(file.find_last_of(L"\\/") + 1) : new_name);
  if (!::CopyFileW(file.c_str(), target.c_str(), /*fail_if_exists=*/FALSE)) return {};
  return target;
}

// Starts `application` with its quoted path and `arguments` as command line.
inline ProcessHandles StartWithArguments(const std::wstring& application,
                                         const std::wstring& arguments = L"") {
  DWORD error = 0;
  return road::StartProcess(application.c_str(), L"\"" + application + L"\"" + arguments,
                            /*folder=*/nullptr, error);
}

// The process's exit code once it has ended within `timeout_ms`.
inline std::optional<DWORD> ExitCodeWithin(HANDLE process, DWORD timeout_ms) {
  DWORD code = 0;
  if (::WaitForSingleObject(process, timeout_ms) != WAIT_OBJECT_0) return std::nullopt;
  if (!::GetExitCodeProcess(process, &code)) return std::nullopt;
  return code;
}

// Starts `application` with `arguments` and waits up to `timeout_ms` for it
// to end. Returns its exit code, or nothing when it could not be started or
// did not end in time (it is then terminated).
inline std::optional<DWORD> RunToExit(const std::wstring& application,
                                      const std::wstring& arguments, DWORD timeout_ms = 60000) {
  const ProcessHandles process = StartWithArguments(application, arguments);
  if (!process.process) return std::nullopt;
  const std::optional<DWORD> exit_code = ExitCodeWithin(process.process.get(), timeout_ms);
  if (!exit_code) ::TerminateProcess(process.process.get(), 99);
  return exit_code;
}

inline bool FileExistsAt(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The names of the files in `folder` that match `pattern`, its folders left out.
inline std::vector<std::wstring> FilesIn(const std::wstring& folder,
                                         const std::wstring& pattern = L"*") {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found = {};
  const road::UniqueFind find = road::FindFirst(folder + L"\\" + pattern, found);
  for (bool more = find != nullptr; more; more = ::FindNextFileW(find.get(), &found)) {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
      names.emplace_back(found.cFileName);
  }
  return names;
}

// What `command` run by the system's cmd.exe writes to its output; nothing when it does not end
// with 0.
inline std::optional<std::string> CommandOutput(const std::wstring& command) {
  const std::wstring output = MakeScratchFolder(L"command") + L"\\output.txt";
  if (RunToExit(SystemProgram(L"cmd.exe"), L" /c " + command + L" > \"" + output + L"\"") != 0u)
    return std::nullopt;
  return ReadWholeFile(output);
}
