// What the UI program's "Apply update" button does: the UI's half of the update road.
#pragma once

#include <windows.h>

namespace sample {

// Updates the product on the road of road_contract.h, on a worker thread so that the window
// stays responsive whatever the pipe does:
//   1. it asks the service, through the pipe whose name the service published
//      (\\.\pipe\CorvantaRemoteUpdate-<GUID>) and only once it has checked that the service
//      serves it, to stage the pending update; the answer is "staged <token>";
//   2. it starts the relaunch watcher from the staged copy of the updater with its own process
//      id and that token;
//   3. it asks the service to start the staged update; installer mode then ends this program,
//      and the watcher starts the new one. When the service does not start it, the watcher is
//      ended again; an answer that never came is taken as "started" when the service keeps
//      this update's token as the one it started last;
//   4. once it is started, it reads the updater's record until it holds the update's outcome
//      or the watcher has ended: a failure that installer mode publishes before it ends this
//      program is shown at once, and an update that will not finish is shown as such
//      (last_update_text.h).
// Each state is shown to the user in `status`, the window's static text control (preparing,
// started, a refusal and what to do, a watcher that could not start; the words of
// update_outcome_text.h), and each step is a line in the user's log,
// %LOCALAPPDATA%\Corvanta\Corvanta Remote.log. A click while an update is being asked for is
// noted and does nothing more. Called on the UI thread.
void ApplyUpdateClicked(HWND status);

// Whether the worker of ApplyUpdateClicked still runs: an update is being asked for, or the
// one this program started is being followed. From any thread.
[[nodiscard]] bool UpdateBeingApplied() noexcept;

}  // namespace sample
