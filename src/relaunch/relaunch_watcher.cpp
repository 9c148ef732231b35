#include "relaunch/relaunch_watcher.h"

#include <windows.h>

#include <string>
#include <utility>

#include "relaunch/process_id_text.h"
#include "relaunch/watcher_log.h"
#include "shared/product_location.h"
#include "shared/unique_handles.h"
#include "shared/update_status.h"
#include "shared/updater_contract.h"

namespace {

constexpr DWORD kPollPauseMs = 500;
constexpr int kPausesBeforeGivingUp = 3600;  // 30 minutes of pausing
constexpr int kLaunchAttempts = 20;
constexpr DWORD kFailedAttemptPauseMs = 1000;
constexpr DWORD kInputIdleTimeoutMs = 10000;

struct WaitResult {
  bool launch = false;            // false: the watcher gives up
  bool update_completed = false;  // the last poll saw this token's completion
};

std::string Decimal(DWORD value) { return std::to_string(value); }

// The folder the product runs in: the path up to its last separator.
std::wstring FolderOf(const std::wstring& path) {
  const size_t separator = path.find_last_of(L"\\/");
  return separator == std::wstring::npos ? path : path.substr(0, separator);
}

// Polls every 500 ms until the old UI has ended and the record shows this
// token's outcome, the record shows failure while the old UI still runs, or
// 3600 pauses have passed. Takes the old UI handle, so that it is closed by
// the time the caller launches or logs the give-up line.
[[nodiscard]] WaitResult WaitForOutcomeAndOldUi(UniqueHandle old_ui, const std::wstring& token) {
  // Without a handle there is nothing to wait for: the id named no process
  // we may watch, so it counts as already ended.
  bool old_ui_exited = !old_ui;
  WaitResult result;
  for (int pauses = 0;;) {
    // A failed wait leaves the flag unset: such a process counts as running.
    if (!old_ui_exited) {
      old_ui_exited = ::WaitForSingleObject(old_ui.get(), /*milliseconds=*/0) == WAIT_OBJECT_0;
    }
    const UpdateOutcome outcome = OutcomeForToken(ReadUpdateStatus(), token);
    result.update_completed = outcome == UpdateOutcome::kCompleted;
    if (outcome != UpdateOutcome::kNone && old_ui_exited) {
      result.launch = true;
      return result;
    }
    if (outcome == UpdateOutcome::kFailed) {
      AppendWatcherLogLine(updater_contract::kWatcherFailedEarly);
      return result;
    }
    ::Sleep(kPollPauseMs);
    if (++pauses == kPausesBeforeGivingUp) return result;
  }
}

// Starts the product once and logs the attempt. Returns true when the new
// process is still running after its input-idle wait, or has ended with 0.
[[nodiscard]] bool LaunchProductOnce(const std::wstring& product_path,
                                     const std::wstring& product_folder) {
  // CreateProcessW may write into the command line, so it gets its own copy.
  std::wstring command_line = L"\"" + product_path + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(product_path.c_str(), command_line.data(),
                        /*process_attributes=*/nullptr, /*thread_attributes=*/nullptr,
                        /*inherit_handles=*/FALSE, /*creation_flags=*/0,
                        /*environment=*/nullptr, product_folder.c_str(), &startup, &info)) {
    const DWORD error = ::GetLastError();
    AppendWatcherLogLine(updater_contract::kWatcherCreateFailed + Decimal(error));
    return false;
  }
  ProcessHandles launched = OwnProcessHandles(info);
  launched.thread.reset();

  // The result does not matter: a program without a window never becomes
  // idle and simply uses up the time-out.
  (void)::WaitForInputIdle(launched.process.get(), kInputIdleTimeoutMs);
  // A failed query leaves STILL_ACTIVE in place, and counts as a failure.
  DWORD exit_code = STILL_ACTIVE;
  const bool queried = ::GetExitCodeProcess(launched.process.get(), &exit_code) != FALSE;
  launched.process.reset();

  AppendWatcherLogLine(updater_contract::kWatcherLaunchPid + Decimal(info.dwProcessId) +
                       updater_contract::kWatcherLaunchExit + Decimal(exit_code));
  return queried && (exit_code == STILL_ACTIVE || exit_code == 0);
}

}  // namespace

int RunRelaunchWatcher(const std::wstring& process_id_text, const std::wstring& token) {
  AppendWatcherLogLine(updater_contract::kWatcherWaiting);
  const std::wstring product_path = ProductExecutablePath();
  if (product_path.empty()) return 1;
  const std::wstring product_folder = FolderOf(product_path);

  UniqueHandle old_ui =
      OwnHandle(::OpenProcess(SYNCHRONIZE, /*inherit=*/FALSE, ProcessIdFromText(process_id_text)));
  const WaitResult wait = WaitForOutcomeAndOldUi(std::move(old_ui), token);
  if (!wait.launch) {
    AppendWatcherLogLine(updater_contract::kWatcherGaveUp);
    return 1;
  }

  for (int attempt = 0; attempt < kLaunchAttempts; ++attempt) {
    if (LaunchProductOnce(product_path, product_folder)) return wait.update_completed ? 0 : 1;
    ::Sleep(kFailedAttemptPauseMs);
  }
  return 1;
}
