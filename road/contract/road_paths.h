// Where the road's folders and logs are, as the service, the UI program, the drivers and the
// tests all find them. Each path is empty when its known folder is unknown: a path must never
// fall back to the root of the current drive, where any user may create folders.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "contract/road_contract.h"

namespace road {

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

// The road's top level, Updates, and in it Incoming, Staging and Staging\<token>, Logs and
// Quarantine.
[[nodiscard]] std::wstring UpdatesFolder();
[[nodiscard]] std::wstring IncomingFolder();
[[nodiscard]] std::wstring StagingRoot();
[[nodiscard]] std::wstring StagingFolder(const std::wstring& token);
[[nodiscard]] std::wstring LogsFolder();
[[nodiscard]] std::wstring QuarantineFolder();

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
