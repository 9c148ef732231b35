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

#include <windows.h>

#include <string>

#include "sample_common.h"

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
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
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
    LocalFree(argv);
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
    const std::wstring text = line + L"\n";
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                          nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8.data(),
                        bytes, nullptr, nullptr);
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    CloseHandle(file);
}

void RecordLaunch() {
    const std::wstring line = std::to_wstring(GetCurrentProcessId()) + L"|" + kSampleVersion +
                              L"|" + sample::OwnImagePath() + L"|" + CurrentDirectory() + L"|" +
                              GetCommandLineW();
    AppendToTraceFile(line);
    sample::WriteString(kKey, L"LastLaunch", line);
    sample::IncrementDword(kKey, L"Launches");
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window, &paint);
            RECT area;
            GetClientRect(window, &area);
            const std::wstring text = std::wstring(L"Corvanta Remote ") + kSampleVersion;
            DrawTextW(dc, text.c_str(), -1, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
            EndPaint(window, &paint);
            return 0;
        }
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
    window_class.lpszClassName = L"CorvantaRemoteSampleWindow";
    if (RegisterClassExW(&window_class) == 0) return 3;

    const std::wstring title = std::wstring(L"Corvanta Remote ") + kSampleVersion;
    HWND window = CreateWindowExW(0, window_class.lpszClassName, title.c_str(),
                                  WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 360, 160,
                                  nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return 3;
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
