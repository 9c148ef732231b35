// Corvanta Remote.exe: the sample product's user-interface program. A window that shows the
// version it was built as, and a message loop, so that it becomes input-idle like any GUI
// program.
//
// Its "Apply update" button (command kApplyUpdateCommand, which drivers post as a click)
// updates the product on the road of update_road.h, on a worker thread so that the window
// stays responsive whatever the pipe does:
//   1. it asks the service, through \\.\pipe\CorvantaRemoteUpdate and only once it has checked
//      that the service serves the pipe, to stage the pending update; the answer is
//      "staged <token>";
//   2. it starts the relaunch watcher from the staged copy of the updater with its own process
//      id and that token;
//   3. it asks the service to start the staged update; installer mode then ends this program,
//      and the watcher starts the new one. When the service does not start it, the watcher is
//      ended again.
// Each step is a line in the user's log, %LOCALAPPDATA%\Corvanta\Corvanta Remote.log.

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "win/win_helpers.h"
#include "ui_hooks.h"
#include "ui/update_client.h"
#include "contract/road_contract.h"

namespace {

UniqueHandle g_update_worker;  // the thread of the update under way, if any

void NoteInUiLog(const std::wstring& line) {
    const std::wstring path = road::UiLogPath();
    if (path.empty()) return;
    CreateDirectoryW(road::FolderOf(path).c_str(), nullptr);
    road::AppendLine(path, line);
}

// Sends one request and notes the answer after `log_prefix`.
road::Answer Ask(const std::string& request, const wchar_t* log_prefix) {
    std::string answer = road::ExchangeWithService(request);
    if (!answer.empty() && answer.back() == '\n') answer.pop_back();
    NoteInUiLog(log_prefix + road::WidenAscii(answer));
    return road::ParseAnswer(answer);
}

// The watcher runs from the staged copy, which the package does not replace, with this
// process's id while it still runs, so that the id cannot belong to another process yet.
ProcessHandles StartRelaunchWatcher(const std::wstring& token) {
    const std::wstring staging = road::StagingFolder(token);
    const std::wstring updater = staging + L"\\" + road::kUpdaterFileName;
    DWORD error = ERROR_PATH_NOT_FOUND;
    ProcessHandles watcher;
    if (!staging.empty()) {
        watcher = road::StartFromFolder(
            updater,
            L"--edk-remote-relaunch " + std::to_wstring(GetCurrentProcessId()) + L" " + token,
            staging, error);
    }
    if (!watcher.process) {
        NoteInUiLog(L"Could not start the relaunch watcher (error " + std::to_wstring(error) +
                    L"): the update is not started");
        return {};
    }
    NoteInUiLog(road::kUiStartedWatcher + std::to_wstring(GetProcessId(watcher.process.get())) +
                L" from " + updater);
    return watcher;
}

// The watcher is started before installer mode can be, so that installer mode cannot end this
// program before someone waits to start the new one.
DWORD WINAPI ApplyUpdate(void* /*unused*/) {
    const road::Answer staged = Ask(road::ApplyRequestLine(), road::kUiAskedToStage);
    if (staged.kind != road::Answer::Kind::kStaged) return 0;
    sample::Hooks().BeforeWatcher();
    const ProcessHandles watcher = StartRelaunchWatcher(staged.token);
    if (!watcher.process) return 0;
    const road::Answer started =
        Ask(road::StartRequestLine(staged.token), road::kUiAskedToStart);
    if (started.kind != road::Answer::Kind::kStarted || started.token != staged.token) {
        TerminateProcess(watcher.process.get(), 1);
        NoteInUiLog(L"Ended the relaunch watcher: the update did not start");
    }
    return 0;
}

void OnApplyUpdateClicked() {
    if (g_update_worker && WaitForSingleObject(g_update_worker.get(), 0) == WAIT_TIMEOUT) {
        NoteInUiLog(L"An update is already being asked for");
        return;
    }
    g_update_worker = OwnHandle(CreateThread(nullptr, 0, ApplyUpdate, nullptr, 0, nullptr));
    if (!g_update_worker) {
        NoteInUiLog(L"Could not ask for the update (error " + std::to_wstring(GetLastError()) +
                    L")");
    }
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window, &paint);
            RECT area;
            GetClientRect(window, &area);
            const std::wstring text = std::wstring(L"Corvanta Remote ") + road::OwnVersion();
            DrawTextW(dc, text.c_str(), -1, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
            EndPaint(window, &paint);
            return 0;
        }
        case WM_COMMAND:
            if (LOWORD(wparam) == road::kApplyUpdateCommand) OnApplyUpdateClicked();
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wparam, lparam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, wchar_t* /*command_line*/,
                    int show) {
    int exit_code = 0;
    if (sample::Hooks().Launched(exit_code)) return exit_code;
    sample::Hooks().BeforeWindow();

    WNDCLASSEXW window_class = {};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = WindowProc;
    window_class.hInstance = instance;
    window_class.hCursor = LoadCursorW(nullptr, reinterpret_cast<const wchar_t*>(IDC_ARROW));
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    window_class.lpszClassName = road::kUiWindowClass;
    if (RegisterClassExW(&window_class) == 0) return 3;

    const std::wstring title = std::wstring(L"Corvanta Remote ") + road::OwnVersion();
    HWND window = CreateWindowExW(0, window_class.lpszClassName, title.c_str(),
                                  WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 360, 160,
                                  nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return 3;
    CreateWindowExW(0, L"BUTTON", L"Apply update", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 10, 10,
                    120, 28, window,
                    reinterpret_cast<HMENU>(static_cast<UINT_PTR>(road::kApplyUpdateCommand)),
                    instance, nullptr);
    ShowWindow(window, show);
    UpdateWindow(window);
    sample::Hooks().WindowShown(window);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
