// The contract of the sample product's update road: the names its service, UI program, drivers
// and tests share (programs, files, registry values, log lines, tokens). The pipe's requests and
// answers are in pipe_protocol.h, the access lists in access_lists.h, the folders and their
// paths in road_paths.h, the updater's status record in status_record.h.
//
//   1. An administrator step places <name>.msi and <name>.msi.sha256 in Incoming.
//   2. The UI program, running as the user, checks that the pipe is served by the service and
//      sends "apply-pending-update".
//   3. The service stages RemoteUpdater.exe and the package in Staging\<token>, checks the
//      copy's SHA-256 and creates the watcher log; it answers "staged <token>" or
//      "refused: <reason>".
//   4. The UI starts the relaunch watcher from the staged copy with its own process id, then
//      sends "start <token>".
//   5. The service starts installer mode from the staged copy, once, for the token it staged
//      last, under the watch of the update's guardian, its own program staged beside the
//      updater (update_guardian.h); it answers "started <token>" or "refused: <reason>".
// The watcher thus runs before installer mode can end the UI that starts it.
#pragma once

#include <cstddef>
#include <string>

#include "shared/updater_contract.h"

namespace road {

// The service, the updater and the update status record that installer mode publishes.
using updater_contract::kServiceName;
using updater_contract::kStatusKeyPath;
using updater_contract::kStatusValueName;
using updater_contract::kUpdaterFileName;

// The watcher's log, beside the staged updater: "RemoteUpdater.exe.log".
[[nodiscard]] std::wstring WatcherLogFileName();
// Beside each package <name>.msi in Incoming, <name>.msi.sha256 holds its SHA-256.
inline constexpr wchar_t kHashSuffix[] = L".sha256";
// Staging folders of finished updates are removed once this many later ones exist.
inline constexpr size_t kStagingFoldersKept = 3;

// The lines the UI program writes in its log for each step, each followed by the answer, the
// process id or the reason.
inline constexpr wchar_t kUiAskedToStage[] = L"Asked the service to apply the pending update: ";
inline constexpr wchar_t kUiStartedWatcher[] = L"Started the relaunch watcher pid ";
inline constexpr wchar_t kUiAskedToStart[] = L"Asked the service to start the update: ";
inline constexpr wchar_t kUiSawOutcome[] = L"The started update published its outcome: ";
// The service's program, which starts installer mode, beside the UI program.
inline constexpr wchar_t kServiceProgramName[] = L"CorvantaRemoteService.exe";
// The service's log line for installer mode, followed by its process id.
inline constexpr wchar_t kServiceStartedInstaller[] = L"Started installer mode pid ";

// The update's guardian: the service's own program, staged beside the updater under this name
// and started as "<staged copy> --guard-update <handle> <token>", <handle> being the decimal
// value of the handle to installer mode that it inherits. It runs from the staging folder so
// that nothing of the product's folder is in use while msiexec replaces it.
inline constexpr wchar_t kGuardianFileName[] = L"CorvantaRemoteGuardian.exe";
inline constexpr wchar_t kGuardSwitch[] = L"--guard-update";
// Each of the guardian's lines in the service log starts with this, the token and ": ".
inline constexpr wchar_t kGuardianLinePrefix[] = L"Guardian of update ";
// Its line when it had to start the service and the service runs again, followed by the
// number of starts it asked for.
inline constexpr wchar_t kGuardianBroughtBack[] = L"brought the service back after starts: ";

// The road's own key under HKEY_LOCAL_MACHINE (64-bit view), and in it the token of the update
// the service started last (REG_SZ): the relaunched UI program reads it to know which outcome
// of the updater's record is its own. Users may read it; only the service, as SYSTEM, and
// administrators may write it, as under any key of HKLM\SOFTWARE.
inline constexpr wchar_t kRoadKeyPath[] = L"SOFTWARE\\Corvanta\\Updates";
inline constexpr wchar_t kStartedTokenValueName[] = L"StartedToken";
// In the same key, the token of the update after which the update's guardian had to start the
// service again (REG_SZ), written by the guardian as SYSTEM: the relaunched UI program tells
// its user that the service was brought back.
inline constexpr wchar_t kServiceRestoredValueName[] = L"ServiceRestoredToken";
// In the same key, the name of the road's top level in %ProgramData% (REG_SZ,
// kOwnTopNamePrefix and a GUID), once the service has made a folder of its own because the
// default one was a user's and could not be moved aside. Absent otherwise.
inline constexpr wchar_t kRoadFolderValueName[] = L"RoadFolder";

// In the same key, the update pipe's name as the service published it at its last start
// (REG_SZ). It outlives the service's stop: the client checks who serves it before it sends.
inline constexpr wchar_t kUpdatePipeValueName[] = L"UpdatePipe";

// A token as the service makes them: a GUID without braces. Checked before a token from the
// pipe becomes part of a path.
[[nodiscard]] bool IsWellFormedToken(const std::wstring& token) noexcept;

// A fresh update token: a GUID without braces; empty when none can be made.
[[nodiscard]] std::wstring NewToken();

}  // namespace road
