// The UI program's window as other programs find it: drivers and tests post its "Apply
// update" command, as a user's click would, and read what it tells the user of the update.
#pragma once

#include <windows.h>

#include <string>

namespace sample {

// The class of the UI program's top-level window, and the command its "Apply update" button
// sends.
inline constexpr wchar_t kUiWindowClass[] = L"CorvantaRemoteSampleWindow";
inline constexpr WORD kApplyUpdateCommand = 101;
// The id of the static text control in which the window tells the user of the update.
inline constexpr WORD kUpdateStatusControl = 102;
// The "Check for updates" button's command, the static text control in which the window tells
// what the service knows of the next update, and the progress bar of its download.
inline constexpr WORD kCheckForUpdatesCommand = 103;
inline constexpr WORD kNextUpdateControl = 104;
inline constexpr WORD kDownloadProgressControl = 105;

// The top-level window of the UI program running as process `pid`; null when there is none.
[[nodiscard]] HWND FindUiWindow(DWORD pid) noexcept;

// Clicks the button of `command` in the UI program running as `pid`, as a user would;
// waits up to `wait_ms` for its window. False when it has none.
[[nodiscard]] bool ClickButton(DWORD pid, WORD command, DWORD wait_ms) noexcept;

// Asks the UI program running as `pid` to apply the pending update, as a click on its button
// would (ClickButton).
[[nodiscard]] bool ClickApplyUpdate(DWORD pid, DWORD wait_ms) noexcept;

// The text of the control `control` (by default the update status control) of the UI program
// running as `pid`, as another process reads it (GetWindowTextW); empty when it has no such
// window or the text is empty.
[[nodiscard]] std::wstring UpdateStatusText(DWORD pid, WORD control = kUpdateStatusControl);

}  // namespace sample
