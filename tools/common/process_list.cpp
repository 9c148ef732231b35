#include "common/process_list.h"

#include <windows.h>

#include <tlhelp32.h>

#include "shared/unique_handles.h"

namespace tools {

std::vector<ProcessEntry> RunningProcesses() {
  std::vector<ProcessEntry> found;
  const UniqueHandle snapshot = OwnHandle(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return found;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
       more = ::Process32NextW(snapshot.get(), &entry)) {
    found.push_back({entry.th32ProcessID, entry.th32ParentProcessID, entry.szExeFile});
  }
  return found;
}

bool SameName(const std::wstring& a, const wchar_t* b) noexcept {
  return ::lstrcmpiW(a.c_str(), b) == 0;
}

}  // namespace tools
