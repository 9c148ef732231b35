// CorvantaRemoteService.exe: the sample product's Windows service "Corvanta Remote".
//
// At every start, before it serves anything, it makes and checks the folders of the update
// road (pending_update.h); then, while RUNNING, it serves the update channel
// \\.\pipe\CorvantaRemoteUpdate: asked to, it stages the pending package and starts installer
// mode from the staged copy (update_road.h). It takes no options.

#include <windows.h>

#include <cstdio>
#include <string>

#include "service/pending_update.h"
#include "win/win_helpers.h"
#include "service_hooks.h"
#include "service/update_pipe.h"
#include "contract/road_contract.h"

namespace {

SERVICE_STATUS_HANDLE g_status_handle = nullptr;
CRITICAL_SECTION g_status_lock;
SERVICE_STATUS g_status = {};
UniqueHandle g_stop_event;

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

DWORD WINAPI ControlHandler(DWORD control, DWORD /*event_type*/, void* /*event_data*/,
                            void* /*context*/) {
    switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN:
            if (!sample::Hooks().StopRequested()) return NO_ERROR;
            ReportStatus(SERVICE_STOP_PENDING, 2000);
            SetEvent(g_stop_event.get());
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE:
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI ServiceMain(DWORD argc, wchar_t** argv) {
    g_status_handle = RegisterServiceCtrlHandlerExW(road::kServiceName, ControlHandler, nullptr);
    if (g_status_handle == nullptr) return;
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;

    if (!sample::Hooks().TakeOptions(static_cast<int>(argc), argv, /*from_start=*/true)) {
        ReportStatus(SERVICE_STOPPED, 0, ERROR_INVALID_PARAMETER);
        return;
    }
    const auto starting = [] { ReportStatus(SERVICE_START_PENDING, 2000); };
    starting();
    if (!sample::Hooks().Starting(starting)) {
        ReportStatus(SERVICE_STOPPED, 0, ERROR_SERVICE_SPECIFIC_ERROR);
        return;
    }
    // Before the pipe opens: no request is served from folders the service did not make its
    // own, and the service runs on to answer each request with the refusal.
    const road::FolderVerdict folders = road::PrepareUpdateFolders();
    if (!folders.trusted) {
        road::NoteInServiceLog(L"The update folders are not the service's own, so every update "
                                 L"request is refused: " + folders.reason);
    }
    SetAcceptedControls(sample::Hooks().AcceptsStop() ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN
                                                      : 0);
    sample::Hooks().Running();
    ReportStatus(SERVICE_RUNNING, 0);

    const UniqueHandle pipe_thread = road::StartUpdatePipeThread(g_stop_event.get(), [] { sample::Hooks().Answering(); });
    WaitForSingleObject(g_stop_event.get(), INFINITE);
    if (pipe_thread) WaitForSingleObject(pipe_thread.get(), INFINITE);
    // The handler has already reported the first STOP_PENDING checkpoint.
    SetAcceptedControls(0);
    sample::Hooks().Stopping([] { ReportStatus(SERVICE_STOP_PENDING, 2000); });
    ReportStatus(SERVICE_STOPPED, 0);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (!sample::Hooks().TakeOptions(argc, argv, /*from_start=*/false)) return 2;
    InitializeCriticalSection(&g_status_lock);
    g_stop_event = OwnHandle(
        CreateEventW(nullptr, /*manual_reset=*/TRUE, /*initial=*/FALSE, nullptr));

    wchar_t name[] = L"Corvanta Remote";
    const SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
        const DWORD error = GetLastError();
        fwprintf(stderr, L"CorvantaRemoteService %ls runs only as the service \"%ls\" (error %lu)\n",
                 road::OwnVersion().c_str(), road::kServiceName, error);
        return 1;
    }
    // The dispatcher returns once the service has reported STOPPED.
    sample::Hooks().Stopped();
    return 0;
}
