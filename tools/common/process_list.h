// The processes running now, as the system's process snapshot lists them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tools {

struct ProcessEntry {
  DWORD pid = 0;
  DWORD parent = 0;
  std::wstring exe_name;  // the file name alone, as the snapshot spells it
};

// Every process in one snapshot; empty when no snapshot can be taken.
[[nodiscard]] std::vector<ProcessEntry> RunningProcesses();

// Whether `a` and `b` name the same file, in any letter case.
[[nodiscard]] bool SameName(const std::wstring& a, const wchar_t* b) noexcept;

}  // namespace tools
