#include "ui/ui_window.h"

namespace sample {

namespace {

struct WindowSearch {
  DWORD pid;
  HWND found;
};

BOOL CALLBACK TakeUiWindow(HWND window, LPARAM param) noexcept {
  // NOLINTNEXTLINE(performance-no-int-to-ptr): EnumWindows hands back FindUiWindow's pointer
  auto* search = reinterpret_cast<WindowSearch*>(param);
  DWORD owner = 0;
  (void)::GetWindowThreadProcessId(window, &owner);
  wchar_t name[64] = {};
  (void)::GetClassNameW(window, name, 64);
  if (owner != search->pid || ::lstrcmpW(name, kUiWindowClass) != 0) return TRUE;
  search->found = window;
  return FALSE;  // found: the enumeration stops
}

}  // namespace

HWND FindUiWindow(DWORD pid) noexcept {
  WindowSearch search{pid, nullptr};
  (void)::EnumWindows(TakeUiWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool ClickApplyUpdate(DWORD pid, DWORD wait_ms) noexcept {
  return ClickButton(pid, kApplyUpdateCommand, wait_ms);
}

bool ClickButton(DWORD pid, WORD command, DWORD wait_ms) noexcept {
  constexpr DWORD kPollMs = 50;
  for (DWORD waited = 0;; waited += kPollMs) {
    const HWND window = FindUiWindow(pid);
    if (window != nullptr) {
      return ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED),
                            /*lparam=*/0) != FALSE;
    }
    if (waited >= wait_ms) return false;
    ::Sleep(kPollMs);
  }
}

std::wstring UpdateStatusText(DWORD pid, WORD control) {
  const HWND window = FindUiWindow(pid);
  const HWND status = window != nullptr ? ::GetDlgItem(window, control) : nullptr;
  if (status == nullptr) return L"";
  wchar_t text[2048] = {};
  // Another process's control: GetWindowTextW reads the text the system keeps for it, without
  // sending it a message.
  const int length = ::GetWindowTextW(status, text, 2048);
  return std::wstring(text, length > 0 ? static_cast<size_t>(length) : 0);
}

}  // namespace sample
