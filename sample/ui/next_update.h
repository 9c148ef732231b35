// What the UI program's window shows of the next update: the service's status, asked for on a
// thread of its own, in a status line, a progress bar while a download runs, and the buttons
// it offers ("Check for updates", and "Apply update" only once a package is ready).
#pragma once

#include <windows.h>

#include "ui/update_progress_text.h"

namespace sample {

// The message with which the status thread tells the window that a new view waits. It carries
// nothing: any process on the desktop may post it, and the window then shows the view it holds.
inline constexpr UINT kShowNextUpdateMessage = WM_APP + 1;

// Starts asking the service for the next update's status on a thread of its own: at once,
// every second for a few seconds, then as each view says (every second while it checks or
// downloads, rarely otherwise), and not while an update is being applied, whose requests it
// would hold up. The view of each answer is kept for `window`, which kShowNextUpdateMessage
// tells. False when no thread can start. Called once, on the UI thread.
[[nodiscard]] bool StartNextUpdatePolling(HWND window) noexcept;

// "Check for updates": disables the button and has the status thread send "check-for-update"
// at once, then ask every second for a while, since the service answers with what it knew
// before the check began. Called on the UI thread.
void CheckForUpdatesClicked(HWND window) noexcept;

// Shows the latest view in the window's status line, progress bar and buttons. Called on the
// UI thread.
void ShowNextUpdate(HWND window);

}  // namespace sample
