#include "contract/road_paths.h"

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>

#include "contract/road_contract.h"
#include "win/machine_registry.h"
#include "win/road_handles.h"

namespace road {

namespace {

// A known folder as the shell knows it; empty when unknown.
[[nodiscard]] std::wstring KnownFolder(const KNOWNFOLDERID& id) {
  wchar_t* raw = nullptr;
  const HRESULT result = ::SHGetKnownFolderPath(id, /*flags=*/0, /*token=*/nullptr, &raw);
  const UniqueCoTaskString folder(raw);
  return SUCCEEDED(result) && folder ? std::wstring(folder.get()) : std::wstring();
}

}  // namespace

std::wstring PathIn(const std::wstring& folder, const std::wstring& name) {
  std::wstring path;
  if (folder.empty()) return path;
  path.reserve(folder.size() + 1 + name.size());
  path.append(folder).append(1, L'\\').append(name);
  return path;
}

std::wstring ProgramDataFolder() { return KnownFolder(FOLDERID_ProgramData); }

std::wstring ProgramFilesFolder() { return KnownFolder(FOLDERID_ProgramFiles); }

bool IsRoadTopName(const std::wstring& name) noexcept {
  const std::wstring prefix = kOwnTopNamePrefix;
  return name == kDefaultTopName || (name.compare(0, prefix.size(), prefix) == 0 &&
                                     IsWellFormedToken(name.substr(prefix.size())));
}

std::wstring RoadTopName() {
  const std::wstring recorded = ReadMachineString(kRoadKeyPath, kRoadFolderValueName);
  return !recorded.empty() && IsRoadTopName(recorded) ? recorded : std::wstring(kDefaultTopName);
}

std::wstring RoadLevelFolder(const RoadFolderLevel& level) {
  const std::wstring top = PathIn(ProgramDataFolder(), RoadTopName());
  return *level.below_top == L'\0' ? top : PathIn(top, level.below_top);
}

std::wstring UpdatesFolder() { return RoadLevelFolder(kUpdatesLevel); }

std::wstring IncomingFolder() { return RoadLevelFolder(kIncomingLevel); }

std::wstring StagingRoot() { return RoadLevelFolder(kStagingLevel); }

std::wstring LogsFolder() { return RoadLevelFolder(kLogsLevel); }

std::wstring QuarantineFolder() { return RoadLevelFolder(kQuarantineLevel); }
std::wstring DownloadsFolder() { return RoadLevelFolder(kDownloadsLevel); }

std::wstring StagingFolder(const std::wstring& token) { return PathIn(StagingRoot(), token); }

std::vector<StagedFolder> ListStagingFolders() { return ListTokenFolders(StagingRoot()); }

std::vector<StagedFolder> ListTokenFolders(const std::wstring& folder) {
  std::vector<StagedFolder> folders;
  if (folder.empty()) return folders;
  WIN32_FIND_DATAW data = {};
  const UniqueFind find = FindFirst(folder + L"\\*", data);
  for (bool more = find != nullptr; more; more = ::FindNextFileW(find.get(), &data) != FALSE) {
    if (!IsWellFormedToken(data.cFileName)) continue;
    const ULONGLONG created = (static_cast<ULONGLONG>(data.ftCreationTime.dwHighDateTime) << 32) |
                              data.ftCreationTime.dwLowDateTime;
    folders.push_back({data.cFileName, data.dwFileAttributes, created});
  }
  return folders;
}

std::wstring ServiceLogPath() { return PathIn(LogsFolder(), L"CorvantaRemoteService.log"); }

std::wstring UiLogFolder() { return PathIn(KnownFolder(FOLDERID_LocalAppData), L"Corvanta"); }

std::wstring UiLogPath() { return PathIn(UiLogFolder(), L"Corvanta Remote.log"); }

}  // namespace road
