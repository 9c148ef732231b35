#include "service/update_requests.h"

#include <utility>

#include "contract/road_contract.h"
#include "contract/road_paths.h"
#include "service/pending_package.h"
#include "service/staging.h"
#include "service/update_facts.h"
#include "service/update_preflight.h"
#include "win/process_start.h"
#include "win/text_conversion.h"

namespace road {

namespace {

std::string Refuse(const std::string& reason, const ServiceLog& log) {
  log.Note(L"Refused: " + WidenAscii(reason));
  return kRefusedAnswer + reason;
}

// Forgets the update staged but not started, and removes its folder: it can no longer start.
void DropStagedUpdate(UpdateState& state, const ServiceLog& log) {
  if (state.staged_token.empty()) return;
  log.Note(L"Dropped the update staged as " + state.staged_token + L", never started");
  RemoveStagingFolderOf(state.staged_token, log);
  state.staged_token.clear();
  state.staged_package.clear();
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
  DropStagedUpdate(state, log);
  const std::wstring package = FindPendingPackage();
  if (package.empty()) return Refuse("no pending package", log);
  // Asked before staging too, so that the user interface starts no watcher for an update that
  // is refused anyway; asked again before the start, since the machine may change meanwhile.
  const std::string cannot_run = WhyUpdateCannotRunNow(client, IncomingFolder() + L"\\" + package);
  if (!cannot_run.empty()) return Refuse(cannot_run, log);
  const std::wstring token = NewToken();
  const std::string failure = StageUpdate(package, token, log);
  if (!failure.empty()) return Refuse(failure, log);
  state.staged_token = token;
  state.staged_package = package;
  state.staged_for = client;
  return kStagedAnswer + Utf8(token);
}

// Installer mode from the staging folder of `token` for `package`; empty when it cannot start.
UniqueHandle StartInstallerMode(const std::wstring& token, const std::wstring& package,
                                const ServiceLog& log) {
  const std::wstring staging = StagingFolder(token);
  const std::wstring updater = PathIn(staging, kUpdaterFileName);
  const std::wstring arguments = std::wstring(updater_contract::kInstallSwitch) + L" " +
                                 QuoteArgument(PathIn(staging, package)) + L" " + token;
  DWORD error = 0;
  ProcessHandles installer = StartFromFolder(updater, arguments, staging, error);
  if (!installer.process) {
    log.Note(L"Could not start installer mode (error " + std::to_wstring(error) + L")");
    return nullptr;
  }
  log.Note(kServiceStartedInstaller + std::to_wstring(::GetProcessId(installer.process.get())) +
           L" from " + updater + L", token " + token);
  return std::move(installer.process);
}

// Starts installer mode from the staging folder of `token`, the update staged last, once, for
// a client in the session that staged it: a user of another session who lists Staging and
// sees the token cannot start the update before its user interface has started the watcher.
std::string StartStaged(const std::wstring& token, const ClientSession& client, UpdateState& state,
                        const ServiceLog& log) {
  if (InstallerRuns(state)) return Refuse("an update is already running", log);
  if (state.staged_token.empty() || token != state.staged_token ||
      !SameSession(client, state.staged_for)) {
    return Refuse("no update staged as " + Utf8(token), log);
  }
  const std::wstring package = std::move(state.staged_package);
  state.staged_token.clear();
  state.staged_package.clear();
  const std::string cannot_run =
      WhyUpdateCannotRunNow(client, StagingFolder(token) + L"\\" + package);
  if (!cannot_run.empty()) {
    RemoveStagingFolderOf(token, log);
    return Refuse(cannot_run, log);
  }
  UniqueHandle installer = StartInstallerMode(token, package, log);
  if (!installer) {
    RemoveStagingFolderOf(token, log);
    return Refuse("installer mode could not start", log);
  }
  state.installer = std::move(installer);
  // The program the watcher starts afterwards finds here which of the record's outcomes is its.
  const auto token_bytes = static_cast<DWORD>((token.size() + 1) * sizeof(wchar_t));
  if (::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kRoadKeyPath, kStartedTokenValueName, REG_SZ,
                        token.c_str(), token_bytes) != ERROR_SUCCESS) {
    log.Note(L"Could not keep the token of the started update");
  }
  // Started: the same package is not handed over twice.
  const std::wstring incoming = PathIn(IncomingFolder(), package);
  (void)::DeleteFileW((incoming + kHashSuffix).c_str());
  (void)::DeleteFileW(incoming.c_str());
  RemoveOldStagingFolders(log);
  return kStartedAnswer + Utf8(token);
}

}  // namespace

bool SameSession(const ClientSession& client, const ClientSession& staged_for) noexcept {
  return client.known && staged_for.known && client.id == staged_for.id;
}

std::string AnswerRequest(const std::string& line, bool well_formed, const ClientSession& client,
                          UpdateState& state, const ServiceLog& log) {
  if (!well_formed) return Refuse("malformed request", log);
  const Request request = ParseRequest(line);
  if (request.kind == Request::Kind::kUnknown) return Refuse("unknown request", log);
  log.Note(L"Request: " + WidenAscii(line));
  if (!client.known) return Refuse("the client's session cannot be read", log);
  if (!log.FoldersTrusted()) return Refuse("the update folders are not the service's own", log);
  if (request.kind == Request::Kind::kStart) return StartStaged(request.token, client, state, log);
  return StagePendingUpdate(client, state, log);
}

}  // namespace road
