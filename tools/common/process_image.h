// What a running process was started from: its image file and that file's version.
#pragma once

#include <windows.h>

#include <string>

namespace tools {

// The full path of the image `process` runs (opened with at least
// PROCESS_QUERY_LIMITED_INFORMATION); empty when it cannot be queried, with the reason left in
// GetLastError().
[[nodiscard]] std::wstring ImagePathOf(HANDLE process);

// "major.minor.build" from the version resource of the file at `path`; empty when the file has
// none. The sample product builds every version from one source and tells them apart by this.
[[nodiscard]] std::wstring FileVersionOf(const std::wstring& path);

// A running process as a user would tell it apart: its image path and, where the image has
// one, its version. `pid` names a process that can be opened for querying.
struct ProgramSeen {
  DWORD pid = 0;
  std::wstring image;    // empty when the process cannot be opened or queried
  std::wstring version;  // empty when the image has no version resource
};
[[nodiscard]] ProgramSeen SeeProgram(DWORD pid);

}  // namespace tools
