// Corvanta Remote.exe: the sample product's user-interface program. A window that shows the
// version it was built as, and a message loop, so that it becomes input-idle like any GUI
// program.
//
// Every start is recorded, so that a test can see who was started from where:
//   - the line "<pid>|<version>|<image path>|<current dir>|<command line>" is appended
//     (UTF-8, LF) to the file named by the environment variable CORVANTA_SAMPLE_TRACE, if set;
//   - the same text is stored as LastLaunch (REG_SZ) under HKLM\SOFTWARE\Corvanta\SampleUI,
//     and the DWORD counter Launches there is increased.
//
// Options:
//   --exit-code N      exit at once with code N, without a window or message loop
//   --exit-after-ms N  close the window after N ms and exit with code 0
//   --busy-ms N        sleep N ms before creating the window (input-idle comes that much later)
// Registry, under the same key: while the DWORD FailLaunches is above 0, a start counts it
// down by one and exits at once with the DWORD FailExitCode (1 when missing).
//
// Its "Apply update" button (command kApplyUpdateCommand, which drivers post as a click) asks
// the service through \\.\pipe\CorvantaRemoteUpdate to apply the pending update; on
// "started <token>" it starts the relaunch watcher from the staged copy of the updater with its
// own process id and that token, and runs on until installer mode ends it (update_road.h).
// Each step is a line in the user's log, %LOCALAPPDATA%\Corvanta\Corvanta Remote.log.

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "sample_common.h"
#include "update_road.h"

namespace {

constexpr const wchar_t* kKey = L"SampleUI";
constexpr UINT_PTR kExitTimer = 1;

struct Options {
    bool exit_at_once = false;
    DWORD exit_code = 0;
    DWORD exit_after_ms = 0;
    DWORD busy_ms = 0;
};

bool ParseOptions(Options& out) {
    int argc = 0;
    const UniqueLocal<wchar_t*> owned_argv(CommandLineToArgvW(GetCommandLineW(), &argc));
    wchar_t** argv = owned_argv.get();
    if (argv == nullptr) return false;
    bool ok = true;
    for (int i = 1; i < argc && ok; i += 2) {
        DWORD value = 0;
        ok = i + 1 < argc && sample::ParseDword(argv[i + 1], value);
        if (!ok) break;
        if (lstrcmpW(argv[i], L"--exit-code") == 0) {
            out.exit_at_once = true;
            out.exit_code = value;
        } else if (lstrcmpW(argv[i], L"--exit-after-ms") == 0) {
            out.exit_after_ms = value;
        } else if (lstrcmpW(argv[i], L"--busy-ms") == 0) {
            out.busy_ms = value;
        } else {
            ok = false;
        }
    }
    return ok;
}

std::wstring CurrentDirectory() {
    wchar_t buffer[MAX_PATH * 4] = {};
    const DWORD length = GetCurrentDirectoryW(MAX_PATH * 4, buffer);
    return (length == 0 || length >= MAX_PATH * 4) ? L"" : std::wstring(buffer, length);
}

void AppendToTraceFile(const std::wstring& line) {
    wchar_t path[MAX_PATH * 4] = {};
    const DWORD length = GetEnvironmentVariableW(L"CORVANTA_SAMPLE_TRACE", path, MAX_PATH * 4);
    if (length == 0 || length >= MAX_PATH * 4) return;
    sample::AppendLine(path, line, L"\n");
}

void RecordLaunch() {
    const std::wstring line = std::to_wstring(GetCurrentProcessId()) + L"|" + sample::OwnVersion() +
                              L"|" + sample::OwnImagePath() + L"|" + CurrentDirectory() + L"|" +
                              GetCommandLineW();
    AppendToTraceFile(line);
    sample::WriteString(kKey, L"LastLaunch", line);
    sample::IncrementDword(kKey, L"Launches");
}

void NoteInUiLog(const std::wstring& line) {
    const std::wstring path = sample::UiLogPath();
    if (path.empty()) return;
    CreateDirectoryW(sample::FolderOf(path).c_str(), nullptr);
    sample::AppendLine(path, line);
}

// Sends the one request the service takes and returns its one-line answer, or why there is
// none.
std::string AskServiceToApplyUpdate() {
    std::string answer = sample::ExchangeWithService(std::string(sample::kApplyRequest) + "\n");
    if (!answer.empty() && answer.back() == '\n') answer.pop_back();
    return answer;
}

// The watcher runs from the staged copy, which the package does not replace, with this
// process's id while it still runs, so that the id cannot belong to another process yet.
void StartRelaunchWatcher(const std::wstring& token) {
    const std::wstring staging = sample::StagingFolder(token);
    if (staging.empty()) {
        NoteInUiLog(L"The staging folder is unknown: the relaunch watcher is not started");
        return;
    }
    const std::wstring updater = staging + L"\\" + sample::kUpdaterFileName;
    DWORD error = 0;
    const ProcessHandles watcher = sample::StartFromFolder(
        updater, L"--edk-remote-relaunch " + std::to_wstring(GetCurrentProcessId()) + L" " + token,
        staging, error);
    if (!watcher.process) {
        NoteInUiLog(L"Could not start the relaunch watcher (error " + std::to_wstring(error) +
                    L")");
        return;
    }
    NoteInUiLog(L"Started the relaunch watcher pid " +
                std::to_wstring(GetProcessId(watcher.process.get())) + L" from " + updater);
}

void ApplyUpdate() {
    const std::string answer = AskServiceToApplyUpdate();
    NoteInUiLog(L"Asked the service to apply the pending update: " + sample::WidenAscii(answer));
    const std::string started = "started ";
    if (answer.compare(0, started.size(), started) != 0) return;
    const std::wstring token = sample::WidenAscii(answer.substr(started.size()));
    if (!sample::IsWellFormedToken(token)) {
        NoteInUiLog(L"Not a token: the relaunch watcher is not started");
        return;
    }
    StartRelaunchWatcher(token);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window, &paint);
            RECT area;
            GetClientRect(window, &area);
            const std::wstring text = std::wstring(L"Corvanta Remote ") + sample::OwnVersion();
            DrawTextW(dc, text.c_str(), -1, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
            EndPaint(window, &paint);
            return 0;
        }
        case WM_COMMAND:
            if (LOWORD(wparam) == sample::kApplyUpdateCommand) ApplyUpdate();
            return 0;
        case WM_TIMER:
            if (wparam == kExitTimer) DestroyWindow(window);
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
    RecordLaunch();
    Options options;
    if (!ParseOptions(options)) return 2;
    if (options.exit_at_once) return static_cast<int>(options.exit_code);

    const DWORD failures_left = sample::ReadDword(kKey, L"FailLaunches", 0);
    if (failures_left > 0) {
        sample::WriteDword(kKey, L"FailLaunches", failures_left - 1);
        return static_cast<int>(sample::ReadDword(kKey, L"FailExitCode", 1));
    }
    if (options.busy_ms != 0) Sleep(options.busy_ms);

    WNDCLASSEXW window_class = {};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = WindowProc;
    window_class.hInstance = instance;
    window_class.hCursor = LoadCursorW(nullptr, reinterpret_cast<const wchar_t*>(IDC_ARROW));
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    window_class.lpszClassName = sample::kUiWindowClass;
    if (RegisterClassExW(&window_class) == 0) return 3;

    const std::wstring title = std::wstring(L"Corvanta Remote ") + sample::OwnVersion();
    HWND window = CreateWindowExW(0, window_class.lpszClassName, title.c_str(),
                                  WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 360, 160,
                                  nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return 3;
    CreateWindowExW(0, L"BUTTON", L"Apply update", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 10, 10,
                    120, 28, window,
                    reinterpret_cast<HMENU>(static_cast<UINT_PTR>(sample::kApplyUpdateCommand)),
                    instance, nullptr);
    ShowWindow(window, show);
    UpdateWindow(window);
    if (options.exit_after_ms != 0) SetTimer(window, kExitTimer, options.exit_after_ms, nullptr);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
