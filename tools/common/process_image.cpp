#include "common/process_image.h"

#include <windows.h>

#include <winver.h>

#include <vector>

#include "shared/unique_handles.h"

namespace tools {

std::wstring ImagePathOf(HANDLE process) {
  std::vector<wchar_t> buffer(32768);
  DWORD size = static_cast<DWORD>(buffer.size());
  if (!::QueryFullProcessImageNameW(process, 0, buffer.data(), &size)) return {};
  return std::wstring(buffer.data(), size);
}

std::wstring FileVersionOf(const std::wstring& path) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return {};
  std::vector<BYTE> data(size);
  void* found = nullptr;
  UINT found_size = 0;
  if (!::GetFileVersionInfoW(path.c_str(), 0, size, data.data()) ||
      !::VerQueryValueW(data.data(), L"\\", &found, &found_size) ||
      found_size < sizeof(VS_FIXEDFILEINFO)) {
    return {};
  }
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(found);
  return std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." +
         std::to_wstring(LOWORD(fixed->dwFileVersionMS)) + L"." +
         std::to_wstring(HIWORD(fixed->dwFileVersionLS));
}

ProgramSeen SeeProgram(DWORD pid) {
  ProgramSeen seen;
  seen.pid = pid;
  const UniqueHandle process =
      OwnHandle(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, /*inherit=*/FALSE, pid));
  if (!process) return seen;
  seen.image = ImagePathOf(process.get());
  if (!seen.image.empty()) seen.version = FileVersionOf(seen.image);
  return seen;
}

}  // namespace tools
