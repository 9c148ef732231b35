// Corvanta Remote.exe: the sample product's user-interface program. A window that shows the
// version it was built as, and a message loop, so that it becomes input-idle like any GUI
// program. Its "Apply update" button (kApplyUpdateCommand, which drivers post as a click)
// updates the product on the update road (apply_update.h); its update status control
// (kUpdateStatusControl) tells the user how that goes and, from the start, how the last update
// ended. Above it, a status line and a progress bar tell what the service knows of the next
// update, and "Check for updates" asks it to look now (next_update.h).

#include <windows.h>

#include <commctrl.h>

#include <string>

#include "ui/apply_update.h"
#include "ui/last_update.h"
#include "ui/last_update_text.h"
#include "ui/next_update.h"
#include "ui/ui_hooks.h"
#include "ui/ui_window.h"
#include "win/own_image.h"

namespace {

// The exit code when the window cannot be made.
constexpr int kNoWindow = 3;

std::wstring Title() { return L"Corvanta Remote " + road::OwnVersion(); }

// Where the window's parts lie, in client pixels: the buttons at the top left, the title beside
// them; below, the next update's status line and the progress bar of its download; below
// both, the update status.
constexpr int kMargin = 10;
constexpr int kButtonWidth = 140;
constexpr int kTopRowHeight = 28;
constexpr int kNextUpdateTop = 2 * kMargin + kTopRowHeight;
constexpr int kNextUpdateHeight = 32;  // two lines, for a long reason
constexpr int kProgressTop = kNextUpdateTop + kNextUpdateHeight + kMargin / 2;
constexpr int kProgressHeight = 16;
constexpr int kUpdateStatusTop = kProgressTop + kProgressHeight + kMargin;
constexpr int kWindowWidth = 560;
constexpr int kWindowHeight = 290;

void Paint(HWND window) {
  PAINTSTRUCT paint;
  const HDC dc = ::BeginPaint(window, &paint);
  RECT area;
  (void)::GetClientRect(window, &area);
  area.left = 3 * kMargin + 2 * kButtonWidth;
  area.top = kMargin;
  area.bottom = kMargin + kTopRowHeight;
  (void)::DrawTextW(dc, Title().c_str(), -1, &area, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
  (void)::EndPaint(window, &paint);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_PAINT:
      Paint(window);
      return 0;
    case WM_COMMAND:
      if (LOWORD(wparam) == sample::kApplyUpdateCommand) {
        sample::ApplyUpdateClicked(::GetDlgItem(window, sample::kUpdateStatusControl));
      } else if (LOWORD(wparam) == sample::kCheckForUpdatesCommand) {
        sample::CheckForUpdatesClicked(window);
      }
      return 0;
    case sample::kShowNextUpdateMessage:
      sample::ShowNextUpdate(window);
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcW(window, message, wparam, lparam);
  }
}

// A child control of `window` with the id `id` and the window text `text`.
void AddChild(HWND window, const wchar_t* window_class, const std::wstring& text, DWORD style,
              const RECT& place, WORD id) {
  // NOLINTNEXTLINE(performance-no-int-to-ptr): a child window's id goes where a menu would
  const auto child_id = reinterpret_cast<HMENU>(UINT_PTR{id});
  (void)::CreateWindowExW(/*ex_style=*/0, window_class, text.c_str(), WS_CHILD | WS_VISIBLE | style,
                          place.left, place.top, place.right - place.left, place.bottom - place.top,
                          window, child_id,
                          /*instance=*/nullptr, /*param=*/nullptr);
}

// How the last update ended, in the user's words; empty when there is nothing to tell.
std::wstring LastUpdateText() {
  return road::LastUpdateText(road::ReadLastUpdateFacts(), road::OwnVersion());
}

// The buttons, disabled until the service has said what it offers; the next update's status
// line and the hidden progress bar of its download; the update status control, which wraps
// long words (a log path) like an edit control.
void AddControls(HWND window) {
  RECT client;
  (void)::GetClientRect(window, &client);
  const int right = client.right - kMargin;
  AddChild(window, L"BUTTON", L"Apply update", BS_PUSHBUTTON | WS_DISABLED,
           {kMargin, kMargin, kMargin + kButtonWidth, kMargin + kTopRowHeight},
           sample::kApplyUpdateCommand);
  AddChild(
      window, L"BUTTON", L"Check for updates", BS_PUSHBUTTON | WS_DISABLED,
      {2 * kMargin + kButtonWidth, kMargin, 2 * (kMargin + kButtonWidth), kMargin + kTopRowHeight},
      sample::kCheckForUpdatesCommand);
  AddChild(window, L"STATIC", L"", SS_LEFT | SS_EDITCONTROL | SS_NOPREFIX,
           {kMargin, kNextUpdateTop, right, kNextUpdateTop + kNextUpdateHeight},
           sample::kNextUpdateControl);
  AddChild(window, PROGRESS_CLASSW, L"", /*style=*/0,
           {kMargin, kProgressTop, right, kProgressTop + kProgressHeight},
           sample::kDownloadProgressControl);
  (void)::ShowWindow(::GetDlgItem(window, sample::kDownloadProgressControl), SW_HIDE);
  AddChild(window, L"STATIC", LastUpdateText(), SS_LEFT | SS_EDITCONTROL | SS_NOPREFIX,
           {kMargin, kUpdateStatusTop, right, client.bottom - kMargin},
           sample::kUpdateStatusControl);
}

// The main window with its controls, shown; null when it cannot be made.
HWND CreateMainWindow(HINSTANCE instance, int show) {
  const INITCOMMONCONTROLSEX progress_class = {sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
  if (::InitCommonControlsEx(&progress_class) == FALSE) return nullptr;
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = instance;
  // The API takes a resource id, a colour index and a child window's id where its types say
  // pointer: the casts are its own convention.
  window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);  // NOLINT(performance-no-int-to-ptr)
  // The face colour of buttons, which the update status control paints behind its text.
  // NOLINTNEXTLINE(performance-no-int-to-ptr): a system colour index as the brush
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  window_class.lpszClassName = sample::kUiWindowClass;
  if (::RegisterClassExW(&window_class) == 0) return nullptr;
  const HWND window = ::CreateWindowExW(
      /*ex_style=*/0, sample::kUiWindowClass, Title().c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
      CW_USEDEFAULT, kWindowWidth, kWindowHeight, /*parent=*/nullptr, /*menu=*/nullptr, instance,
      nullptr);
  if (window == nullptr) return nullptr;
  AddControls(window);
  (void)::ShowWindow(window, show);
  (void)::UpdateWindow(window);
  // Without the status thread nothing would ever enable "Apply update": it is offered then, and
  // the service decides.
  if (!sample::Hooks().AsksForStatus() || !sample::StartNextUpdatePolling(window)) {
    (void)::EnableWindow(::GetDlgItem(window, sample::kApplyUpdateCommand), /*enable=*/TRUE);
  }
  return window;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, wchar_t* /*command_line*/,
                    int show) {
  int exit_code = 0;
  if (sample::Hooks().Launched(exit_code)) return exit_code;
  sample::Hooks().BeforeWindow();
  const HWND window = CreateMainWindow(instance, show);
  if (window == nullptr) return kNoWindow;
  sample::Hooks().WindowShown(window);
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    (void)::TranslateMessage(&message);
    (void)::DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}
