#include "ui/next_update.h"

#include <windows.h>

#include <commctrl.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "shared/unique_handles.h"
#include "ui/apply_update.h"
#include "ui/ui_window.h"
#include "ui/update_client.h"
#include "win/work_thread.h"

namespace sample {

namespace {

// At the window's start and after "check-for-update" the status is asked for every second this
// many times, whatever it says: the program often starts right after an update, while the
// service is still opening its pipe, and the service answers a check before it has begun.
constexpr int kQuickPolls = 5;

// What the UI thread and the status thread share. The thread holds a share of its own, so
// that nothing it uses goes away before the process ends.
struct StatusPoller {
  HWND window = nullptr;
  UniqueHandle wake;  // auto-reset: set by a click, so that the thread asks at once
  std::atomic<bool> check_requested{false};
  std::mutex latest_lock;
  road::UpdateStatusView latest;  // the view of the last answer
};

std::shared_ptr<StatusPoller> g_poller;

// Asks once, "check-for-update" when a click asked for it, and shows the answer's view;
// returns how long to wait before the next question.
DWORD AskAndShow(StatusPoller& poller, int& quick_polls) {
  const bool check = poller.check_requested.exchange(false);
  const std::string answer = check ? road::RequestUpdateCheck() : road::QueryUpdateProgress();
  // The policy is read afresh each time: an administrator may change it while the window runs.
  const road::UpdateStatusView view = road::ViewUnderPolicy(
      road::ViewOfStatusAnswer(answer), road::JudgePolicyValues(road::ReadPolicyValues()).policy);
  {
    const std::lock_guard<std::mutex> lock(poller.latest_lock);
    poller.latest = view;
  }
  (void)::PostMessageW(poller.window, kShowNextUpdateMessage, /*wparam=*/0, /*lparam=*/0);
  if (check) quick_polls = kQuickPolls;
  if (quick_polls == 0) return view.poll_ms;
  --quick_polls;
  return road::kBusyStatusPollMs;
}

void PollStatus(const std::shared_ptr<StatusPoller>& poller) {
  int quick_polls = kQuickPolls;
  while (::IsWindow(poller->window) != FALSE) {
    // An update being applied has the pipe's one instance to itself: each of its requests
    // would otherwise wait for a status answer to be read.
    const DWORD wait_ms =
        UpdateBeingApplied() ? road::kBusyStatusPollMs : AskAndShow(*poller, quick_polls);
    (void)::WaitForSingleObject(poller->wake.get(), wait_ms);
  }
}

}  // namespace

bool StartNextUpdatePolling(HWND window) noexcept {
  auto poller = std::make_shared<StatusPoller>();
  poller->window = window;
  poller->wake = OwnHandle(::CreateEventW(/*security=*/nullptr, /*manual_reset=*/FALSE,
                                          /*initial=*/FALSE, /*name=*/nullptr));
  if (!poller->wake) return false;
  // The thread runs as long as the window exists; nobody waits for it.
  const UniqueHandle thread = road::StartWorkThread([poller] { PollStatus(poller); });
  if (!thread) return false;
  g_poller = poller;
  return true;
}

void CheckForUpdatesClicked(HWND window) noexcept {
  if (!g_poller) return;
  (void)::EnableWindow(::GetDlgItem(window, kCheckForUpdatesCommand), /*enable=*/FALSE);
  g_poller->check_requested = true;
  (void)::SetEvent(g_poller->wake.get());
}

void ShowNextUpdate(HWND window) {
  if (!g_poller) return;
  road::UpdateStatusView view;
  {
    const std::lock_guard<std::mutex> lock(g_poller->latest_lock);
    view = g_poller->latest;
  }
  (void)::SetWindowTextW(::GetDlgItem(window, kNextUpdateControl), view.text.c_str());
  const HWND progress = ::GetDlgItem(window, kDownloadProgressControl);
  (void)::SendMessageW(progress, PBM_SETPOS, static_cast<WPARAM>(view.percent), /*lparam=*/0);
  (void)::ShowWindow(progress, view.downloading ? SW_SHOWNA : SW_HIDE);
  (void)::EnableWindow(::GetDlgItem(window, kApplyUpdateCommand), view.may_apply ? TRUE : FALSE);
  (void)::EnableWindow(::GetDlgItem(window, kCheckForUpdatesCommand),
                       view.may_check ? TRUE : FALSE);
}

}  // namespace sample
