// CorvantaRemoteService.exe: the sample product's Windows service "Corvanta Remote".
//
// It does no work of its own; it only goes through the service states in a way that a test
// can shape: how long starting and stopping take, whether a stop is refused or ignored,
// whether the start fails, and how long the host process outlives the service.
//
// Behaviour comes from DWORD values under HKLM\SOFTWARE\Corvanta\SampleService, read afresh at
// every start and (IgnoreStop, StopDelayMs, LingerMs) again at every stop, and from options
// that override them: options in the service's ImagePath or passed by StartService.
//
//   --start-delay-ms N  StartDelayMs  time in START_PENDING before RUNNING (checkpoints every 100 ms)
//   --stop-delay-ms N   StopDelayMs   time in STOP_PENDING before STOPPED
//   --linger-ms N       LingerMs      the host process lives on N ms after STOPPED
//   --ignore-stop       IgnoreStop=1  the stop control is accepted, then ignored: it stays RUNNING
//   --refuse-stop       RefuseStop=1  the stop control is not accepted (ControlService fails
//                                     with ERROR_INVALID_SERVICE_CONTROL); read at start only
//   --fail-start        FailStart=1   after the start delay it reports STOPPED, never RUNNING
//
// While it runs it leaves its marks under the same key: RunningVersion (REG_SZ, deleted again
// when it stops), HostPid (DWORD), Starts and Stops (DWORD counters).
//
// While RUNNING it also serves the update channel \\.\pipe\CorvantaRemoteUpdate: asked to
// apply the pending update, it stages the package and starts installer mode (update_road.h).

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "pending_update.h"
#include "sample_common.h"
#include "update_pipe.h"

namespace {

constexpr const wchar_t* kServiceName = L"Corvanta Remote";
constexpr const wchar_t* kKey = L"SampleService";
constexpr DWORD kCheckpointMs = 100;

struct Behaviour {
    DWORD start_delay_ms = 0;
    DWORD stop_delay_ms = 0;
    DWORD linger_ms = 0;
    bool ignore_stop = false;
    bool refuse_stop = false;
    bool fail_start = false;
};

// Options seen on a command line; each one overrides the registry value of the same meaning.
struct Overrides {
    bool start_delay = false, stop_delay = false, linger = false;
    bool ignore_stop = false, refuse_stop = false, fail_start = false;
    Behaviour values;
};

Overrides g_image_options;  // from the ImagePath, parsed in wmain
Overrides g_start_options;  // from the StartService arguments, parsed in ServiceMain

SERVICE_STATUS_HANDLE g_status_handle = nullptr;
CRITICAL_SECTION g_status_lock;
SERVICE_STATUS g_status = {};
UniqueHandle g_stop_event;

// Parses options from argv[first..]; returns false (and names the culprit) on anything unknown.
bool ParseOptions(int argc, wchar_t** argv, int first, Overrides& out) {
    for (int i = first; i < argc; ++i) {
        const wchar_t* arg = argv[i];
        const bool has_value = i + 1 < argc;
        DWORD* number = nullptr;
        if (wcscmp(arg, L"--start-delay-ms") == 0) {
            number = &out.values.start_delay_ms;
            out.start_delay = true;
        } else if (wcscmp(arg, L"--stop-delay-ms") == 0) {
            number = &out.values.stop_delay_ms;
            out.stop_delay = true;
        } else if (wcscmp(arg, L"--linger-ms") == 0) {
            number = &out.values.linger_ms;
            out.linger = true;
        } else if (wcscmp(arg, L"--ignore-stop") == 0) {
            out.ignore_stop = out.values.ignore_stop = true;
        } else if (wcscmp(arg, L"--refuse-stop") == 0) {
            out.refuse_stop = out.values.refuse_stop = true;
        } else if (wcscmp(arg, L"--fail-start") == 0) {
            out.fail_start = out.values.fail_start = true;
        } else {
            fwprintf(stderr, L"unknown option: %ls\n", arg);
            return false;
        }
        if (number != nullptr) {
            if (!has_value || !sample::ParseDword(argv[i + 1], *number)) {
                fwprintf(stderr, L"%ls needs a decimal number\n", arg);
                return false;
            }
            ++i;
        }
    }
    return true;
}

void Apply(const Overrides& o, Behaviour& b) {
    if (o.start_delay) b.start_delay_ms = o.values.start_delay_ms;
    if (o.stop_delay) b.stop_delay_ms = o.values.stop_delay_ms;
    if (o.linger) b.linger_ms = o.values.linger_ms;
    if (o.ignore_stop) b.ignore_stop = true;
    if (o.refuse_stop) b.refuse_stop = true;
    if (o.fail_start) b.fail_start = true;
}

// The behaviour in force right now: registry first, then ImagePath, then start arguments.
Behaviour CurrentBehaviour() {
    Behaviour b;
    b.start_delay_ms = sample::ReadDword(kKey, L"StartDelayMs", 0);
    b.stop_delay_ms = sample::ReadDword(kKey, L"StopDelayMs", 0);
    b.linger_ms = sample::ReadDword(kKey, L"LingerMs", 0);
    b.ignore_stop = sample::ReadDword(kKey, L"IgnoreStop", 0) != 0;
    b.refuse_stop = sample::ReadDword(kKey, L"RefuseStop", 0) != 0;
    b.fail_start = sample::ReadDword(kKey, L"FailStart", 0) != 0;
    Apply(g_image_options, b);
    Apply(g_start_options, b);
    return b;
}

// Reports a state. Pending states count their checkpoint up by one per report; the others
// reset it to 0, as the service controller expects.
void ReportStatus(DWORD state, DWORD wait_hint_ms, DWORD exit_code = NO_ERROR) {
    EnterCriticalSection(&g_status_lock);
    const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
    g_status.dwCheckPoint = (pending && g_status.dwCurrentState == state)
                                ? g_status.dwCheckPoint + 1
                                : (pending ? 1 : 0);
    g_status.dwCurrentState = state;
    g_status.dwWaitHint = wait_hint_ms;
    g_status.dwWin32ExitCode = exit_code;
    g_status.dwServiceSpecificExitCode = exit_code == ERROR_SERVICE_SPECIFIC_ERROR ? 1 : 0;
    SetServiceStatus(g_status_handle, &g_status);
    LeaveCriticalSection(&g_status_lock);
}

// Sets which controls the service takes from now on (reported with the next status).
void SetAcceptedControls(DWORD controls) {
    EnterCriticalSection(&g_status_lock);
    g_status.dwControlsAccepted = controls;
    LeaveCriticalSection(&g_status_lock);
}

// Spends `total_ms` in a pending state, reporting a new checkpoint every 100 ms.
void StayPending(DWORD state, DWORD total_ms) {
    for (DWORD spent = 0; spent < total_ms; spent += kCheckpointMs) {
        ReportStatus(state, total_ms - spent + 1000);
        Sleep(total_ms - spent < kCheckpointMs ? total_ms - spent : kCheckpointMs);
    }
}

DWORD WINAPI ControlHandler(DWORD control, DWORD /*event_type*/, void* /*event_data*/,
                            void* /*context*/) {
    switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN: {
            // Refusing is settled at start, through the accepted controls that the service
            // manager checks before it passes a stop on. An ignored stop leaves the service
            // RUNNING; under Wine a second stop then kills this process.
            const Behaviour now = CurrentBehaviour();
            if (now.ignore_stop) return NO_ERROR;
            ReportStatus(SERVICE_STOP_PENDING, now.stop_delay_ms + 1000);
            SetEvent(g_stop_event.get());
            return NO_ERROR;
        }
        case SERVICE_CONTROL_INTERROGATE:
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI ServiceMain(DWORD argc, wchar_t** argv) {
    g_status_handle = RegisterServiceCtrlHandlerExW(kServiceName, ControlHandler, nullptr);
    if (g_status_handle == nullptr) return;
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;

    g_start_options = Overrides{};
    if (!ParseOptions(static_cast<int>(argc), argv, 1, g_start_options)) {
        ReportStatus(SERVICE_STOPPED, 0, ERROR_INVALID_PARAMETER);
        return;
    }
    const Behaviour start = CurrentBehaviour();
    StayPending(SERVICE_START_PENDING, start.start_delay_ms);
    if (start.fail_start) {
        ReportStatus(SERVICE_STOPPED, 0, ERROR_SERVICE_SPECIFIC_ERROR);
        return;
    }

    if (!sample::PrepareUpdateFolders()) {
        const DWORD error = GetLastError();
        sample::NoteInServiceLog(L"Could not prepare the update folders (error " +
                                 std::to_wstring(error) + L")");
    }
    sample::WriteString(kKey, L"RunningVersion", sample::OwnVersion());
    sample::WriteDword(kKey, L"HostPid", GetCurrentProcessId());
    sample::IncrementDword(kKey, L"Starts");
    SetAcceptedControls(start.refuse_stop ? 0 : SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN);
    ReportStatus(SERVICE_RUNNING, 0);

    const UniqueHandle pipe_thread = sample::StartUpdatePipeThread(g_stop_event.get());
    WaitForSingleObject(g_stop_event.get(), INFINITE);
    if (pipe_thread) WaitForSingleObject(pipe_thread.get(), INFINITE);
    // The handler has already reported the first STOP_PENDING checkpoint.
    SetAcceptedControls(0);
    StayPending(SERVICE_STOP_PENDING, CurrentBehaviour().stop_delay_ms);
    sample::DeleteValue(kKey, L"RunningVersion");
    sample::IncrementDword(kKey, L"Stops");
    ReportStatus(SERVICE_STOPPED, 0);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (!ParseOptions(argc, argv, 1, g_image_options)) return 2;
    InitializeCriticalSection(&g_status_lock);
    g_stop_event = OwnHandle(
        CreateEventW(nullptr, /*manual_reset=*/TRUE, /*initial=*/FALSE, nullptr));

    wchar_t name[] = L"Corvanta Remote";
    const SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
        const DWORD error = GetLastError();
        fwprintf(stderr, L"CorvantaRemoteService %ls runs only as the service \"%ls\" (error %lu)\n",
                 sample::OwnVersion().c_str(), kServiceName, error);
        return 1;
    }
    // The dispatcher returns once the service has reported STOPPED.
    const DWORD linger_ms = CurrentBehaviour().linger_ms;
    if (linger_ms != 0) Sleep(linger_ms);
    return 0;
}
