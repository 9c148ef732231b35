// Where the road's folders and logs are, as the service, the UI program, the drivers and the
// tests all find them. Each path is empty when its known folder is unknown: a path must never
// fall back to the root of the current drive, where any user may create folders.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "contract/access_lists.h"
#include "contract/road_contract.h"

namespace road {

// A level of the road: its path below the road's top level (empty for the top level itself)
// and the access list it is made with.
struct RoadFolderLevel {
  const wchar_t* below_top;
  const wchar_t* sddl;
};
inline constexpr RoadFolderLevel kTopLevel = {L"", kFolderSddl};
inline constexpr RoadFolderLevel kUpdatesLevel = {L"Updates", kFolderSddl};
inline constexpr RoadFolderLevel kIncomingLevel = {L"Updates\\Incoming", kServiceOnlyFolderSddl};
inline constexpr RoadFolderLevel kStagingLevel = {L"Updates\\Staging", kFolderSddl};
inline constexpr RoadFolderLevel kLogsLevel = {L"Updates\\Logs", kServiceOnlyFolderSddl};
inline constexpr RoadFolderLevel kQuarantineLevel = {L"Updates\\Quarantine",
                                                     kServiceOnlyFolderSddl};
// Where the service downloads a release, until its size and hash are checked.
inline constexpr RoadFolderLevel kDownloadsLevel = {L"Updates\\Downloads", kServiceOnlyFolderSddl};
// Every level, parents first. The service makes the missing ones and checks them all at every
// start (road_folders.h); road_paths.h forms the paths from them.
inline constexpr RoadFolderLevel kRoadFolderLevels[] = {
    kTopLevel,  kUpdatesLevel,    kIncomingLevel, kStagingLevel,
    kLogsLevel, kQuarantineLevel, kDownloadsLevel};

// The top level's name in %ProgramData%, unless the service had to make a folder of its own
// instead (kRoadFolderValueName): "Corvanta-<GUID>", its name then.
inline constexpr wchar_t kDefaultTopName[] = L"Corvanta";
inline constexpr wchar_t kOwnTopNamePrefix[] = L"Corvanta-";

// The path of `name` in `folder`: the two joined by a backslash; empty when `folder` is, so
// that an unknown folder never becomes the root of the current drive.
[[nodiscard]] std::wstring PathIn(const std::wstring& folder, const std::wstring& name);

// %ProgramData% as the shell knows it, not as the environment says: a user's environment must
// not move the service's folders.
[[nodiscard]] std::wstring ProgramDataFolder();
// The 64-bit Program Files folder, where the product is installed. Empty when unknown.
[[nodiscard]] std::wstring ProgramFilesFolder();

// Whether `name` may be the road's top level in %ProgramData%: kDefaultTopName, or
// kOwnTopNamePrefix followed by a well-formed token, as the service makes its own.
[[nodiscard]] bool IsRoadTopName(const std::wstring& name) noexcept;

// The name of the road's top level in %ProgramData%: the one recorded in HKLM
// (kRoadFolderValueName) when it is well formed, else kDefaultTopName.
[[nodiscard]] std::wstring RoadTopName();

// The folder of `level` below the road's top level %ProgramData%\<RoadTopName()>.
[[nodiscard]] std::wstring RoadLevelFolder(const RoadFolderLevel& level);

// The road's top level, Updates, and in it Incoming, Staging and Staging\<token>, Logs,
// Quarantine and Downloads.
[[nodiscard]] std::wstring UpdatesFolder();
[[nodiscard]] std::wstring IncomingFolder();
[[nodiscard]] std::wstring StagingRoot();
[[nodiscard]] std::wstring StagingFolder(const std::wstring& token);
[[nodiscard]] std::wstring LogsFolder();
[[nodiscard]] std::wstring QuarantineFolder();
[[nodiscard]] std::wstring DownloadsFolder();

// A folder in Staging named by a well-formed token, as the listing found it.
struct StagedFolder {
  std::wstring token;
  DWORD attributes;
  ULONGLONG created;
};
// The entries in `folder` named by well-formed tokens, in the listing's order; none when
// `folder` is missing or cannot be read. Anything else found there is left out.
[[nodiscard]] std::vector<StagedFolder> ListTokenFolders(const std::wstring& folder);
// The same for Staging.
[[nodiscard]] std::vector<StagedFolder> ListStagingFolders();

// The service's own log of the requests it answered and the updates it staged, in Logs.
[[nodiscard]] std::wstring ServiceLogPath();

// The UI program's log, Corvanta\Corvanta Remote.log in the user's own local application
// data, and the folder that holds it.
[[nodiscard]] std::wstring UiLogFolder();
[[nodiscard]] std::wstring UiLogPath();

}  // namespace road
