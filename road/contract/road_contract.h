// The contract of the sample product's update road: every name, access list, request and
// answer that its service, UI program, drivers and tests share, with a parser for each line so
// that nobody cuts strings by hand. The folders' paths are in road_paths.h, the reader of the
// updater's status record in status_record.h.
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

// The update pipe's name: this prefix and a fresh GUID without braces, drawn at every start of
// the service, so that no process can take the name first while the service is stopped
// (installer mode stops it at every update). The service publishes the name once the pipe
// exists, as kUpdatePipeValueName under kRoadKeyPath, where clients read it.
inline constexpr wchar_t kUpdatePipePrefix[] = L"\\\\.\\pipe\\CorvantaRemoteUpdate-";
// Longer requests are malformed; nothing legitimate comes near it.
inline constexpr size_t kMaxRequestBytes = 256;

// The pipe: SYSTEM and Administrators full control; interactive users read and write data,
// but not FILE_CREATE_PIPE_INSTANCE (which GENERIC_WRITE would include), so that no user can
// put up a second instance of the pipe and answer in the service's name.
inline constexpr wchar_t kPipeSddl[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x0012019b;;;IU)";
// Corvanta, Updates, Staging and each staging folder: owned by SYSTEM; SYSTEM and
// Administrators full control, Users read and execute, nothing inherited from above.
inline constexpr wchar_t kFolderSddl[] =
    L"O:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x001200a9;;;BU)";
// Incoming, Logs and Quarantine: owned by SYSTEM; SYSTEM and Administrators full control,
// Users no access, so that no user can read, add or swap a pending package, nor open (and so
// hold, or lock) the service's log or a refused delivery.
inline constexpr wchar_t kServiceOnlyFolderSddl[] = L"O:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
// The service's log, made with this list whatever its folder gives.
inline constexpr wchar_t kServiceLogSddl[] = L"O:SYD:P(A;;FA;;;SY)(A;;FA;;;BA)";
// The staged copy of a package: as Incoming, no entry for Users. Neither mode of the updater
// reads it as the user (the watcher never opens it), and no user can then hold it open so
// that it cannot be removed.
inline constexpr wchar_t kStagedPackageSddl[] = L"O:SYD:P(A;;FA;;;SY)(A;;FA;;;BA)";
// The watcher log: owned by the user whose UI program asked for the update (`owner_sid`, as
// "S-1-5-..."), who alone may read it and append to it (FILE_APPEND_DATA), never rewrite,
// delete or change its access list: the entry for OWNER RIGHTS takes from the owner the
// implied right to change the list. SYSTEM and Administrators full control. What the user
// writes there counts against that user's disk quota, and no other user can write to it.
[[nodiscard]] std::wstring WatcherLogSddl(const std::wstring& owner_sid);
// A watcher log once it has grown past what a watcher writes (watcher_logs.h): its owner may
// read it only.
inline constexpr wchar_t kSealedWatcherLogSddl[] =
    L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x00120089;;;OW)";

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
// Every level, parents first. The service makes the missing ones and checks them all at every
// start (road_folders.h); road_paths.h forms the paths from them.
inline constexpr RoadFolderLevel kRoadFolderLevels[] = {
    kTopLevel, kUpdatesLevel, kIncomingLevel, kStagingLevel, kLogsLevel, kQuarantineLevel};

// The top level's name in %ProgramData%, unless the service had to make a folder of its own
// instead (kRoadFolderValueName): "Corvanta-<GUID>", its name then.
inline constexpr wchar_t kDefaultTopName[] = L"Corvanta";
inline constexpr wchar_t kOwnTopNamePrefix[] = L"Corvanta-";

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

// The update pipe's name with `guid`; empty unless `guid` is well formed as a token.
[[nodiscard]] std::wstring UpdatePipeName(const std::wstring& guid);

// Whether `name` is one that the service makes: kUpdatePipePrefix, exactly, and a well-formed
// GUID. Checked before a client opens a published name, which could otherwise lead it to
// another machine's pipe or to a file.
[[nodiscard]] bool IsUpdatePipeName(const std::wstring& name) noexcept;

// The requests, one line each, ended by "\n".
inline constexpr char kApplyRequest[] = "apply-pending-update";
inline constexpr char kStartRequest[] = "start ";  // followed by the token
// The answers, one line each: "staged <token>", "started <token>" or "refused: <reason>".
inline constexpr char kStagedAnswer[] = "staged ";
inline constexpr char kStartedAnswer[] = "started ";
inline constexpr char kRefusedAnswer[] = "refused: ";

// The request lines as a client sends them, line end included.
[[nodiscard]] std::string ApplyRequestLine();
[[nodiscard]] std::string StartRequestLine(const std::wstring& token);

// One request, as the service reads it (the line without its end).
struct Request {
  enum class Kind { kApplyPending, kStart, kUnknown } kind = Kind::kUnknown;
  std::wstring token;  // for kStart, always well formed
};
[[nodiscard]] Request ParseRequest(const std::string& line);

// One answer, as a client reads it (with or without its line end). kNone is no answer at all:
// the client's own "no answer: <why>" or a line that is none of the three.
struct Answer {
  enum class Kind { kStaged, kStarted, kRefused, kNone } kind = Kind::kNone;
  std::wstring token;  // for kStaged and kStarted, always well formed
  std::string text;    // the reason of kRefused, the whole line of kNone
};
[[nodiscard]] Answer ParseAnswer(std::string line);

}  // namespace road
