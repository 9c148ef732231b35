#include "ui/apply_update.h"

#include <windows.h>

#include <atomic>
#include <string>

#include "contract/pipe_protocol.h"
#include "contract/road_contract.h"
#include "contract/road_paths.h"
#include "shared/unique_handles.h"
#include "ui/last_update.h"
#include "ui/last_update_text.h"
#include "ui/ui_hooks.h"
#include "ui/update_client.h"
#include "ui/update_outcome_text.h"
#include "win/line_log.h"
#include "win/machine_registry.h"
#include "win/process_start.h"
#include "win/text_conversion.h"

namespace sample {

namespace {

// How often the record is read while the update this program started runs.
constexpr DWORD kRecordPollMs = 500;

// The thread of the update under way, if any; the UI thread alone touches it.
UniqueHandle g_update_worker;
// Whether it runs, for the other threads.
std::atomic<bool> g_applying{false};

void NoteInUiLog(const std::wstring& line) {
  const std::wstring path = road::UiLogPath();
  if (path.empty()) return;
  // The log's folder may not exist yet; one that cannot be made fails the append.
  (void)::CreateDirectoryW(road::UiLogFolder().c_str(), /*security=*/nullptr);
  (void)road::AppendLine(path, line);
}

// Tells the user in the window's update status control. From the worker thread: the control's
// own thread sets the text, as SetWindowTextW sends it the message and waits.
void Show(HWND status, const std::wstring& text) { (void)::SetWindowTextW(status, text.c_str()); }

// Sends one request and notes the answer after `log_prefix`.
road::Answer Ask(const std::string& request, const wchar_t* log_prefix) {
  std::string answer = road::ExchangeWithService(request);
  if (!answer.empty() && answer.back() == '\n') answer.pop_back();
  NoteInUiLog(log_prefix + road::WidenAscii(answer));
  return road::ParseAnswer(answer);
}

// The watcher runs from the staged copy, which the package does not replace, with this
// process's id while it still runs, so that the id cannot belong to another process yet.
ProcessHandles StartRelaunchWatcher(const std::wstring& token, HWND status) {
  const std::wstring staging = road::StagingFolder(token);
  const std::wstring updater = road::PathIn(staging, road::kUpdaterFileName);
  const std::wstring arguments = std::wstring(updater_contract::kRelaunchSwitch) + L" " +
                                 std::to_wstring(::GetCurrentProcessId()) + L" " + token;
  DWORD error = ERROR_PATH_NOT_FOUND;
  ProcessHandles watcher;
  if (!staging.empty()) watcher = road::StartFromFolder(updater, arguments, staging, error);
  if (!watcher.process) {
    Show(status, road::WatcherNotStartedText(error));
    NoteInUiLog(L"Could not start the relaunch watcher (error " + std::to_wstring(error) +
                L"): the update is not started");
    return {};
  }
  NoteInUiLog(road::kUiStartedWatcher + std::to_wstring(::GetProcessId(watcher.process.get())) +
              L" from " + updater);
  return watcher;
}

// Whether the service started the update staged as `token`: its answer says so or, when no
// answer came, the token it keeps of the update it started last does. Ending the watcher of an
// update that runs would leave nobody to open the program again.
bool UpdateStarted(const road::Answer& answer, const std::wstring& token) {
  if (answer.kind == road::Answer::Kind::kStarted) return answer.token == token;
  return answer.kind == road::Answer::Kind::kNone &&
         road::ReadMachineString(road::kRoadKeyPath, road::kStartedTokenValueName) == token;
}

// Follows the update started as `token` until the record holds its outcome or `watcher` has
// ended, and tells the user what there is to tell: installer mode ends this program on the way
// to a completed update, but publishes some failures while this program still runs.
void FollowStartedUpdate(const std::wstring& token, HANDLE watcher, HWND status) {
  for (;;) {
    // The watcher first: one that ended on a failure has read the record before.
    const bool watcher_ended = ::WaitForSingleObject(watcher, kRecordPollMs) != WAIT_TIMEOUT;
    const std::wstring outcome = road::RecordedOutcomeFor(token);
    const std::wstring text = road::StartedUpdateText(outcome, watcher_ended);
    if (!text.empty()) Show(status, text);
    if (!outcome.empty()) {
      NoteInUiLog(road::kUiSawOutcome + outcome);
      return;
    }
    if (watcher_ended) {
      NoteInUiLog(L"The relaunch watcher ended before the update published its outcome");
      return;
    }
  }
}

// The watcher is started before installer mode can be, so that installer mode cannot end this
// program before someone waits to start the new one.
void ApplyUpdate(HWND status) {
  Show(status, road::kPreparingUpdateText);
  const road::Answer staged = Ask(road::ApplyRequestLine(), road::kUiAskedToStage);
  Show(status, road::AnswerText(staged));
  if (staged.kind != road::Answer::Kind::kStaged) return;
  Hooks().BeforeWatcher();
  const ProcessHandles watcher = StartRelaunchWatcher(staged.token, status);
  if (!watcher.process) return;
  const road::Answer started = Ask(road::StartRequestLine(staged.token), road::kUiAskedToStart);
  if (UpdateStarted(started, staged.token)) {
    Show(status, road::kUpdateStartedText);
    FollowStartedUpdate(staged.token, watcher.process.get(), status);
    return;
  }
  (void)::TerminateProcess(watcher.process.get(), 1);
  const road::Answer other_update{road::Answer::Kind::kNone, L"", "it started another update"};
  Show(status,
       road::AnswerText(started.kind == road::Answer::Kind::kStarted ? other_update : started));
  NoteInUiLog(L"Ended the relaunch watcher: the update did not start");
}

DWORD WINAPI ApplyUpdateThread(void* status_control) {
  ApplyUpdate(static_cast<HWND>(status_control));
  g_applying = false;
  return 0;
}

}  // namespace

void ApplyUpdateClicked(HWND status) {
  if (g_update_worker && ::WaitForSingleObject(g_update_worker.get(), 0) == WAIT_TIMEOUT) {
    NoteInUiLog(L"An update is already being asked for");
    return;
  }
  g_applying = true;
  g_update_worker = OwnHandle(::CreateThread(/*security=*/nullptr, /*stack_size=*/0,
                                             ApplyUpdateThread, /*parameter=*/status, /*flags=*/0,
                                             /*thread_id=*/nullptr));
  if (!g_update_worker) {
    const DWORD error = ::GetLastError();
    g_applying = false;
    Show(status, road::AnswerText({road::Answer::Kind::kNone, L"",
                                   "it could not be asked (error " + std::to_string(error) + ")"}));
    NoteInUiLog(L"Could not ask for the update (error " + std::to_wstring(error) + L")");
  }
}

bool UpdateBeingApplied() noexcept { return g_applying; }

}  // namespace sample
