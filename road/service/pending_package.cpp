#include "service/pending_package.h"

#include <windows.h>

#include <cwchar>

#include "contract/road_contract.h"
#include "contract/road_paths.h"
#include "win/road_handles.h"

namespace road {

namespace {

[[nodiscard]] ULONGLONG Ticks(const FILETIME& time) noexcept {
  return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

[[nodiscard]] bool Exists(const std::wstring& path) noexcept {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

std::wstring FindPendingPackage() {
  const std::wstring incoming = IncomingFolder();
  if (incoming.empty()) return L"";
  WIN32_FIND_DATAW data = {};
  const UniqueFind find = FindFirst(incoming + L"\\*.msi" + kHashSuffix, data);
  std::wstring newest;
  ULONGLONG newest_time = 0;
  for (bool more = find != nullptr; more; more = ::FindNextFileW(find.get(), &data) != FALSE) {
    std::wstring package = data.cFileName;
    package.resize(package.size() - std::wcslen(kHashSuffix));
    const ULONGLONG written = Ticks(data.ftLastWriteTime);
    if (Exists(PathIn(incoming, package)) && (newest.empty() || written >= newest_time)) {
      newest = package;
      newest_time = written;
    }
  }
  return newest;
}

}  // namespace road
