// CorvantaRemoteService.exe: the sample product's Windows service "Corvanta Remote".
//
// At every start, before it serves anything, it makes and checks the folders of the update
// road (road_folders.h); then, while RUNNING, it serves the update channel, a pipe whose name
// it draws afresh and publishes (update_pipe.h): asked to, it stages the pending package and
// starts installer mode from the staged copy (update_requests.h). It takes no options; started
// with --guard-update it is the update's guardian instead (update_guardian.h).

#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

#include "contract/road_contract.h"
#include "service/automatic_apply.h"
#include "service/check_board.h"
#include "service/check_schedule.h"
#include "service/housekeeping.h"
#include "service/pending_package.h"
#include "service/road_folders.h"
#include "service/service_hooks.h"
#include "service/service_log.h"
#include "service/staging_ledger.h"
#include "service/status_reporter.h"
#include "service/update_guardian.h"
#include "service/update_pipe.h"
#include "shared/unique_handles.h"
#include "win/own_image.h"
#include "win/work_thread.h"

namespace {

// The wait hint of each pending state, in milliseconds.
constexpr DWORD kPendingHintMs = 2000;
// How long the start waits for the road's folders to be made and judged: well within the 30 s
// that installer mode waits for the service to run again.
constexpr DWORD kPrepareRoadMs = 15000;

sample::StatusReporter g_status;
UniqueHandle g_stop_event;

DWORD WINAPI ControlHandler(DWORD control, DWORD /*event_type*/, void* /*event_data*/,
                            void* /*context*/) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      if (!sample::Hooks().StopRequested()) return NO_ERROR;
      g_status.Report(SERVICE_STOP_PENDING, kPendingHintMs);
      (void)::SetEvent(g_stop_event.get());
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

// Through START_PENDING to RUNNING; false, STOPPED reported, when the start fails.
[[nodiscard]] bool Start(DWORD argc, wchar_t** argv) {
  if (!sample::Hooks().TakeOptions(static_cast<int>(argc), argv, /*from_start=*/true)) {
    g_status.Report(SERVICE_STOPPED, 0, ERROR_INVALID_PARAMETER);
    return false;
  }
  const auto starting = [] { g_status.Report(SERVICE_START_PENDING, kPendingHintMs); };
  starting();
  if (!sample::Hooks().Starting(starting)) {
    g_status.Report(SERVICE_STOPPED, 0, ERROR_SERVICE_SPECIFIC_ERROR);
    return false;
  }
  return true;
}

// Starts the checks of the feed, unless the update folders are not the service's own: nothing
// is then downloaded into them. After each check, a ready package is applied when the policy
// says so.
UniqueHandle StartChecks(const road::ServiceLog& log,
                         const std::shared_ptr<road::UpdateState>& state) {
  if (!state->trust.folders || !state->trust.own_files) return nullptr;
  road::CheckSchedule schedule;
  sample::Hooks().Scheduling(schedule);
  UniqueHandle thread = road::StartCheckThread(
      g_stop_event.get(), log, state->board, [log] { return road::CheckSettingsFromPolicy(log); },
      schedule,
      [state, log](const road::CheckSettings& settings) {
        road::ApplyIfPolicyAllows(settings.policy, *state, log);
      });
  if (!thread) log.Note(L"Could not start the checks of the feed");
  return thread;
}

// Serves the update pipe, checks the feed and keeps house, each on a thread of its own, until
// the stop event; then waits for the pipe's thread within the bound of WaitForUpdatePipeThread:
// no client and no request keeps the service from stopping, least of all installer mode's stop,
// which its own start request began. This thread, which reports the service's state, touches no
// file a user can open; the housekeeping thread, which does, is never waited for, nor is the
// checking thread, which may wait on the network.
void Run(const road::ServiceLog& log, const std::shared_ptr<road::UpdateState>& state) {
  g_status.SetAcceptedControls(
      sample::Hooks().AcceptsStop() ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0);
  sample::Hooks().Running();
  g_status.Report(SERVICE_RUNNING, 0);
  const UniqueHandle housekeeping =
      road::StartHousekeepingThread(g_stop_event.get(), log, state->trust, state->ledger);
  if (!housekeeping && state->trust.folders) {
    log.Note(L"Could not start the housekeeping thread");
  }
  const UniqueHandle pipe_thread = road::StartUpdatePipeThread(
      g_stop_event.get(), log, [] { sample::Hooks().Answering(); }, state);
  const UniqueHandle check_thread = StartChecks(log, state);
  (void)::WaitForSingleObject(g_stop_event.get(), INFINITE);
  if (!pipe_thread) return;
  (void)road::WaitForUpdatePipeThread(
      pipe_thread.get(), log, [] { g_status.Report(SERVICE_STOP_PENDING, kPendingHintMs); });
}

// What the start found of the road's folders and of the service's own files.
struct RoadFound {
  road::RoadPreparation prepared;
  road::FolderVerdict own_files;
};

// Notes in `log` what the start found of the road's folders and of the service's own files.
void NoteWhatWasFound(const RoadFound& found, const road::ServiceLog& log) {
  const road::RoadPreparation& prepared = found.prepared;
  if (!prepared.renamed_aside.empty()) {
    log.Note(L"Renamed a top level of the update folders that was not the service's own aside: " +
             prepared.renamed_aside);
  }
  if (!prepared.own_top_level.empty()) {
    log.Note(L"Made a top level of the update folders of the service's own: " +
             prepared.own_top_level);
  }
  if (!found.own_files.trusted) {
    log.Note(
        L"The service's own files can be changed by users, so every update request is "
        L"refused: " +
        found.own_files.reason);
  }
  if (!prepared.verdict.trusted) {
    log.Note(
        L"The update folders are not the service's own, so every update request is "
        L"refused: " +
        prepared.verdict.reason);
  }
}

// Before the pipe opens: makes and judges the road's folders and the service's own files, and
// notes what it found. No request is served from folders the service did not make its own, or
// while its own files are within users' reach; the service runs on to answer each request with
// the refusal. Users may open the folders and the service's files, and so keep an open of them
// waiting: the work runs on a thread of its own, and the start waits for it kPrepareRoadMs at
// most, then runs on as with folders it could not trust.
road::RoadTrust PrepareRoad(road::CheckBoard& board) {
  const auto found = std::make_shared<RoadFound>();
  if (!road::RunWithin(
          [found] {
            found->prepared = road::PrepareUpdateFolders();
            found->own_files = road::CheckServiceFiles();
          },
          kPrepareRoadMs, [] { g_status.Report(SERVICE_START_PENDING, kPendingHintMs); })) {
    const road::ServiceLog log(/*to_road_folders=*/false);
    log.Note(L"The update folders could not be checked within " +
             std::to_wstring(kPrepareRoadMs / 1000) + L" s, so every update request is refused");
    return {};
  }
  const road::FolderVerdict& folders = found->prepared.verdict;
  const road::ServiceLog log(/*to_road_folders=*/folders.trusted);
  NoteWhatWasFound(*found, log);
  // An update that completed left its package in Incoming: it goes now, before any request.
  if (folders.trusted) board.NoteReady(road::RemoveInstalledPackages(log));
  return {folders.trusted, found->own_files.trusted};
}

void WINAPI ServiceMain(DWORD argc, wchar_t** argv) {
  const SERVICE_STATUS_HANDLE handle =
      ::RegisterServiceCtrlHandlerExW(road::kServiceName, ControlHandler, /*context=*/nullptr);
  if (handle == nullptr) return;
  g_status.Begin(handle);
  if (!Start(argc, argv)) return;
  const auto state = std::make_shared<road::UpdateState>();
  state->trust = PrepareRoad(*state->board);
  Run(road::ServiceLog(/*to_road_folders=*/state->trust.folders), state);
  // The handler has already reported the first STOP_PENDING checkpoint.
  g_status.SetAcceptedControls(0);
  sample::Hooks().Stopping([] { g_status.Report(SERVICE_STOP_PENDING, kPendingHintMs); });
  g_status.Report(SERVICE_STOPPED, 0);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // Before anything of the road runs: the libraries it loads on first use (bcrypt, crypt32,
  // msi, wintrust, delay-loaded) then come from System32 only, never from this folder.
  (void)::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  // The staged copy that the service starts beside installer mode, to start the service
  // again should the update leave it stopped.
  if (road::AsksForGuardian(argc, argv)) return road::RunUpdateGuardian(argc, argv);
  if (!sample::Hooks().TakeOptions(argc, argv, /*from_start=*/false)) return 2;
  g_stop_event = OwnHandle(::CreateEventW(/*security=*/nullptr, /*manual_reset=*/TRUE,
                                          /*initial=*/FALSE, /*name=*/nullptr));
  // The dispatcher's table takes a writable name.
  std::wstring name = road::kServiceName;
  const SERVICE_TABLE_ENTRYW table[] = {{name.data(), ServiceMain}, {nullptr, nullptr}};
  if (!::StartServiceCtrlDispatcherW(table)) {
    const DWORD error = ::GetLastError();
    (void)fwprintf(stderr,
                   L"CorvantaRemoteService %ls runs only as the service \"%ls\" (error %lu)\n",
                   road::OwnVersion().c_str(), road::kServiceName, error);
    return 1;
  }
  // The dispatcher returns once the service has reported STOPPED.
  sample::Hooks().Stopped();
  return 0;
}
