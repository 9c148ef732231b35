#include "service/watcher_logs.h"

#include <string>

#include "contract/road_contract.h"
#include "contract/road_paths.h"
#include "win/road_handles.h"
#include "win/security_descriptor.h"

namespace road {

namespace {

// Opens the watcher log at `path` to cut it and change its access list, never through a link;
// empty when there is none, or when what stands there is not a plain file.
UniqueHandle OpenWatcherLog(const std::wstring& path) noexcept {
  UniqueHandle file = OwnHandle(
      ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | WRITE_DAC,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, /*security=*/nullptr,
                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, /*template_file=*/nullptr));
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!file || !::GetFileInformationByHandle(file.get(), &information) ||
      (information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) !=
          0) {
    return nullptr;
  }
  return file;
}

// Cuts the watcher log at `path` back to its limit and seals it when it has grown past it;
// notes what it did.
void BoundWatcherLog(const std::wstring& path, const ServiceLog& log) {
  const UniqueHandle file = OpenWatcherLog(path);
  LARGE_INTEGER size = {};
  if (!file || !::GetFileSizeEx(file.get(), &size) ||
      static_cast<ULONGLONG>(size.QuadPart) <= kWatcherLogLimitBytes) {
    return;
  }
  const UniqueLocal<void> sealed = DescriptorFromSddl(kSealedWatcherLogSddl);
  const bool sealed_now =
      sealed && ::SetKernelObjectSecurity(file.get(), DACL_SECURITY_INFORMATION, sealed.get());
  FILE_END_OF_FILE_INFO end = {};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(kWatcherLogLimitBytes);
  const bool cut = ::SetFileInformationByHandle(file.get(), FileEndOfFileInfo, &end, sizeof(end));
  log.NoteRepeatable(
      L"The watcher log " + path,
      L"The watcher log " + path + L" had grown to " + std::to_wstring(size.QuadPart) +
          L" bytes: " + (cut ? L"cut to " : L"could not be cut to ") +
          std::to_wstring(kWatcherLogLimitBytes) + L" bytes, " +
          (sealed_now ? L"closed to users' writes" : L"still open to users' writes"));
}

}  // namespace

void BoundWatcherLogs(const ServiceLog& log) {
  for (const StagedFolder& folder : ListStagingFolders()) {
    BoundWatcherLog(PathIn(StagingFolder(folder.token), WatcherLogFileName()), log);
  }
}

}  // namespace road
