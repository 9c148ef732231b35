#include "service/update_requests.h"

#include <utility>

#include "contract/pipe_protocol.h"
#include "contract/road_contract.h"
#include "contract/road_paths.h"
#include "service/guarded_start.h"
#include "service/package_check.h"
#include "service/pending_package.h"
#include "service/staging.h"
#include "service/update_facts.h"
#include "service/update_preflight.h"
#include "win/machine_registry.h"
#include "win/process_start.h"
#include "win/text_conversion.h"

namespace road {

namespace {

// Refuses for `reason`, followed by `detail` (a token the client sent): the repeats of one
// reason are counted together, whatever the detail.
std::string Refuse(const std::string& reason, const ServiceLog& log,
                   const std::string& detail = std::string()) {
  const std::wstring kind = L"Refused: " + WidenAscii(reason);
  log.NoteRepeatable(kind, kind + WidenAscii(detail));
  return kRefusedAnswer + reason + detail;
}

// The kind of a well-formed request, for the repeat count: its name without its token.
[[nodiscard]] std::wstring RequestKind(const Request& request) {
  return request.kind == Request::Kind::kStart ? L"Request: start" : L"Request: apply";
}

// Forgets the update that `client`'s session staged but did not start: it can no longer
// start, and its folder goes at the housekeeping thread's next round.
void DropStagedUpdate(const ClientSession& client, UpdateState& state, const ServiceLog& log) {
  const auto staged = state.staged.find(client.id);
  if (staged == state.staged.end()) return;
  log.Note(L"Dropped the update staged as " + staged->second.token + L", never started");
  state.ledger->NoteDropped(staged->second.token);
  state.staged.erase(staged);
}

// Why the update of `package` cannot run now for `client`, or empty when it may: nothing is
// stopped for an update that would fail (a busy Windows Installer, a full disk) or would end
// the program of users in other sessions.
[[nodiscard]] std::string WhyUpdateCannotRunNow(const ClientSession& client,
                                                const std::wstring& package) {
  const UpdateVerdict verdict = DecideWhetherUpdateMayRun(GatherUpdateFacts(client.id, package));
  return verdict.allowed ? std::string() : verdict.reason;
}

[[nodiscard]] bool InstallerRuns(const UpdateState& state) noexcept {
  return state.installer && ::WaitForSingleObject(state.installer.get(), 0) == WAIT_TIMEOUT;
}

// Stages the newest pending package under a fresh token, to be started by StartStaged.
std::string StagePendingUpdate(const ClientSession& client, UpdateState& state,
                               const ServiceLog& log) {
  if (InstallerRuns(state)) return Refuse("an update is already running", log);
  if (client.user_sid.empty()) return Refuse("the client's account cannot be read", log);
  DropStagedUpdate(client, state, log);
  const std::lock_guard<std::mutex> incoming(state.board->IncomingMutex());
  const PendingPackage pending = FindPendingPackage(log);
  state.board->NoteReady(pending.version);
  if (pending.package.empty()) {
    return Refuse(pending.refusal.empty() ? "no pending package" : pending.refusal, log);
  }
  const std::wstring& package = pending.package;
  // Asked before staging too, so that the user interface starts no watcher for an update that
  // is refused anyway; asked again before the start, since the machine may change meanwhile.
  const std::string cannot_run = WhyUpdateCannotRunNow(client, IncomingFolder() + L"\\" + package);
  if (!cannot_run.empty()) return Refuse(cannot_run, log);
  const std::wstring token = NewToken();
  state.ledger->NoteStaged(token);
  const std::string failure = StageUpdate(package, token, client.user_sid, log);
  if (!failure.empty()) {
    state.ledger->NoteDropped(token);
    return Refuse(failure, log);
  }
  state.staged[client.id] = {token, package};
  return kStagedAnswer + Utf8(token);
}

// Installer mode from the staging folder of `token` for `package`, watched by the update's
// guardian, which starts the service again should installer mode end without; empty when
// either cannot start.
UniqueHandle StartInstallerMode(const std::wstring& token, const std::wstring& package,
                                const ServiceLog& log) {
  const std::wstring staging = StagingFolder(token);
  const std::wstring updater = PathIn(staging, kUpdaterFileName);
  const std::wstring arguments = std::wstring(updater_contract::kInstallSwitch) + L" " +
                                 QuoteArgument(PathIn(staging, package)) + L" " + token;
  UniqueHandle installer = StartGuardedInstallerMode(staging, arguments, token, log);
  if (!installer) return nullptr;
  log.Note(kServiceStartedInstaller + std::to_wstring(::GetProcessId(installer.get())) + L" from " +
           updater + L", token " + token);
  return installer;
}

// Keeps `token` where the program that the watcher starts afterwards finds which of the
// record's outcomes is its.
void KeepStartedToken(const std::wstring& token, const ServiceLog& log) {
  if (WriteMachineString(kRoadKeyPath, kStartedTokenValueName, token) != ERROR_SUCCESS) {
    log.Note(L"Could not keep the token of the started update");
  }
}

// Starts installer mode from the staging folder of `token`, the update staged last, once, for
// a client in the session that staged it: a user of another session who lists Staging and
// sees the token cannot start the update before its user interface has started the watcher.
std::string StartStaged(const std::wstring& token, const ClientSession& client, UpdateState& state,
                        const ServiceLog& log) {
  if (InstallerRuns(state)) return Refuse("an update is already running", log);
  const auto found = state.staged.find(client.id);
  if (found == state.staged.end() || token != found->second.token) {
    return Refuse("no update staged as ", log, Utf8(token));
  }
  // Started at most once, whatever happens next.
  const std::wstring package = std::move(found->second.package);
  state.staged.erase(found);
  const std::wstring staged = PathIn(StagingFolder(token), package);
  std::string cannot_run = WhyUpdateCannotRunNow(client, staged);
  // Judged again right before the start: the installed version may have changed since.
  if (cannot_run.empty()) cannot_run = WhyStagedPackageIsRefused(staged, log);
  if (!cannot_run.empty()) {
    state.ledger->NoteDropped(token);
    return Refuse(cannot_run, log);
  }
  UniqueHandle installer = StartInstallerMode(token, package, log);
  if (!installer) {
    state.ledger->NoteDropped(token);
    return Refuse("installer mode could not start", log);
  }
  state.installer = std::move(installer);
  KeepStartedToken(token, log);
  // The package stays in Incoming: a failed update can be tried again from it, and once the
  // update has installed it, RemoveInstalledPackages takes it away. Its folder is kept among
  // the newest, for its logs.
  state.ledger->NoteStarted(token);
  return kStartedAnswer + Utf8(token);
}

// Why no update may be staged from the road's folders with the service's own files, or empty.
[[nodiscard]] std::string WhyRoadIsNotTrusted(const RoadTrust& trust) {
  if (!trust.folders) return "the update folders are not the service's own";
  if (!trust.own_files) return "the service's own folder or updater can be changed by users";
  return {};
}

}  // namespace

std::string AnswerFromBoard(const Request& request, const CheckBoard& board) {
  if (request.kind == Request::Kind::kCheck) board.AskForCheck();
  return StatusAnswerText(board.Progress());
}

std::string AnswerRequest(const std::string& line, bool well_formed, const ClientSession& client,
                          UpdateState& state, const ServiceLog& log) {
  if (!well_formed) return Refuse("malformed request", log);
  const Request request = ParseRequest(line);
  if (request.kind == Request::Kind::kUnknown) return Refuse("unknown request", log);
  if (request.kind == Request::Kind::kStatus || request.kind == Request::Kind::kCheck) {
    return AnswerFromBoard(request, *state.board);
  }
  log.NoteRepeatable(RequestKind(request), L"Request: " + WidenAscii(line));
  if (!client.known) return Refuse("the client's session cannot be read", log);
  const std::string untrusted = WhyRoadIsNotTrusted(state.trust);
  if (!untrusted.empty()) return Refuse(untrusted, log);
  if (request.kind == Request::Kind::kStart) return StartStaged(request.token, client, state, log);
  return StagePendingUpdate(client, state, log);
}

std::string ApplyPendingUpdateUnattended(UpdateState& state, const ServiceLog& log) {
  const std::string untrusted = WhyRoadIsNotTrusted(state.trust);
  if (!untrusted.empty()) return Refuse(untrusted, log);
  // The services' session, where no user interface runs, and LocalSystem, which owns the
  // watcher log that no watcher writes.
  const ClientSession service{/*known=*/true, /*id=*/0, L"S-1-5-18"};
  std::string staged = StagePendingUpdate(service, state, log);
  const Answer answer = ParseAnswer(staged);
  if (answer.kind != Answer::Kind::kStaged) return staged;
  return StartStaged(answer.token, service, state, log);
}

}  // namespace road
