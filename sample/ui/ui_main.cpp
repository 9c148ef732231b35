// Corvanta Remote.exe: the sample product's user-interface program. A window that shows the
// version it was built as, and a message loop, so that it becomes input-idle like any GUI
// program. Its "Apply update" button (kApplyUpdateCommand, which drivers post as a click)
// updates the product on the update road (apply_update.h).

#include <windows.h>

#include <string>

#include "ui/apply_update.h"
#include "ui/ui_hooks.h"
#include "ui/ui_window.h"
#include "win/own_image.h"

namespace {

// The exit code when the window cannot be made.
constexpr int kNoWindow = 3;

std::wstring Title() { return L"Corvanta Remote " + road::OwnVersion(); }

void Paint(HWND window) {
  PAINTSTRUCT paint;
  const HDC dc = ::BeginPaint(window, &paint);
  RECT area;
  (void)::GetClientRect(window, &area);
  (void)::DrawTextW(dc, Title().c_str(), -1, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  (void)::EndPaint(window, &paint);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_PAINT:
      Paint(window);
      return 0;
    case WM_COMMAND:
      if (LOWORD(wparam) == sample::kApplyUpdateCommand) sample::ApplyUpdateClicked();
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcW(window, message, wparam, lparam);
  }
}

// The main window with its "Apply update" button, shown; null when it cannot be made.
HWND CreateMainWindow(HINSTANCE instance, int show) {
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = instance;
  // The API takes a resource id, a colour index and a child window's id where its types say
  // pointer: the casts are its own convention.
  window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);  // NOLINT(performance-no-int-to-ptr)
  // NOLINTNEXTLINE(performance-no-int-to-ptr): a system colour index as the brush
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  window_class.lpszClassName = sample::kUiWindowClass;
  if (::RegisterClassExW(&window_class) == 0) return nullptr;
  const HWND window = ::CreateWindowExW(
      /*ex_style=*/0, sample::kUiWindowClass, Title().c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
      CW_USEDEFAULT, 360, 160, /*parent=*/nullptr, /*menu=*/nullptr, instance, nullptr);
  if (window == nullptr) return nullptr;
  // NOLINTNEXTLINE(performance-no-int-to-ptr): a child window's id goes where a menu would
  const auto button_id = reinterpret_cast<HMENU>(UINT_PTR{sample::kApplyUpdateCommand});
  (void)::CreateWindowExW(/*ex_style=*/0, L"BUTTON", L"Apply update",
                          WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 10, 10, 120, 28, window, button_id,
                          instance, nullptr);
  (void)::ShowWindow(window, show);
  (void)::UpdateWindow(window);
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
