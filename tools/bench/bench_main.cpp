// sample-bench.exe: times one update of the sample product, for scripts/bench. Each mode does
// one measurement on a machine with version 1 installed, its service running and its UI
// program open (pid <ui-pid>), and prints key=value lines, times in milliseconds since time
// zero with three decimals:
//
//   sample-bench.exe installer <updater> <package> <ui-pid>
//       installer mode alone: starts "<updater> --edk-remote-install-msi <package> <token>"
//   sample-bench.exe work <package> <ui-pid>
//       the unavoidable work, done here: stop the service and wait for its host process, end
//       the UI program, run msiexec with the updater's switches, start the service and wait
//       until it runs; nothing else is checked. Afterwards, outside the total, it writes a
//       record as installer mode publishes one and prints how long that took (publish-ms)
//   sample-bench.exe script <script> <package> <ui-pid>
//       the batch script: cmd /c <script> <package> <token>
//   sample-bench.exe update <updater> <package> <ui-pid>
//       the whole update: both updater modes side by side, until both have ended (the watcher
//       ends once the program it started is input-idle)
//   sample-bench.exe update-script <script> <package> <ui-pid>
//       the whole update by script: the script, then the program started and input-idle
//
// Printed: total-ms and exit (the process timed, or the msiexec code for "work"); for every
// mode but the whole updates also the moments host-ended-ms (the service's host process),
// ui-ended-ms, msiexec-started-ms, msiexec-ended-ms (the first msiexec, which the others
// serve), running-ms (the service runs again) and, where one is written, record-ms; for the
// whole updates relaunched-version (the version of the UI program last started).
// Process ends and the record are seen the moment they happen; the msiexec start and the
// service state are looked at every 2 ms, and only in the stretch where they are due, so that
// looking costs the update as little as possible.
// No wait lasts longer than two minutes: one that runs out prints "gave-up=<what it waited
// for>" instead of a total.
// Exit code 0 when the measurement ran, 1 when it could not be set up or gave up, 2 on a
// usage error.

#include <windows.h>
#include <objbase.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "hooks/fixture.h"
#include "contract/road_contract.h"
#include "ui/service_status.h"
#include "win/process_start.h"
#include "win/text_conversion.h"

namespace {

using road::QuoteArgument;

constexpr wchar_t kServiceName[] = L"Corvanta Remote";
constexpr wchar_t kRecordKey[] = L"SOFTWARE\\Corvanta\\RemoteUpdater";
constexpr DWORD kLookMs = 2;
// Longer than any step of an update takes under Wine on a loaded machine, and shorter than the
// time scripts/bench allows the whole measurement.
constexpr DWORD kGiveUpMs = 120000;

class Clock {
public:
    Clock() {
        QueryPerformanceFrequency(&frequency_);
        QueryPerformanceCounter(&zero_);
    }
    double Ms() const {
        LARGE_INTEGER now = {};
        QueryPerformanceCounter(&now);
        return 1000.0 * static_cast<double>(now.QuadPart - zero_.QuadPart) /
               static_cast<double>(frequency_.QuadPart);
    }

private:
    LARGE_INTEGER frequency_ = {};
    LARGE_INTEGER zero_ = {};
};

void PrintMs(const wchar_t* name, double ms) {
    if (ms >= 0) wprintf(L"%ls-ms=%.3f\n", name, ms);
}

std::wstring FreshToken() {
    const std::wstring token = road::NewToken();
    return token.empty() ? std::to_wstring(GetTickCount64()) : token;
}

UniqueHandle Start(std::wstring command, const wchar_t* directory = nullptr, DWORD flags = 0) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, /*inherit=*/FALSE, flags,
                        nullptr, directory, &startup, &info)) {
        wprintf(L"start-failed=%lu\n", GetLastError());
        return nullptr;
    }
    ProcessHandles started = OwnProcessHandles(info);
    return std::move(started.process);
}

// Says what was waited for, as the measurement's outcome.
void PrintGaveUp(const wchar_t* what) { wprintf(L"gave-up=%ls after %lu ms\n", what, kGiveUpMs); }

// Waits up to kGiveUpMs for `handle`; false, having said so, when it is not signalled by then.
bool WaitFor(HANDLE handle, const wchar_t* what) {
    if (WaitForSingleObject(handle, kGiveUpMs) == WAIT_OBJECT_0) return true;
    PrintGaveUp(what);
    return false;
}

DWORD ExitCodeOf(HANDLE process) {
    DWORD code = 0;
    return GetExitCodeProcess(process, &code) ? code : 0xFFFFFFFFu;
}

// The product's service opened for `access`. Not named OpenService: the SDK's macro would
// make it an overload of OpenServiceW, which hides the API's own.
UniqueScHandle OpenProductService(DWORD access) {
    const UniqueScHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return nullptr;
    return UniqueScHandle(::OpenServiceW(manager.get(), kServiceName, access));
}

DWORD ServiceHostPid() { return road::ServiceStatus().dwProcessId; }

// Opened anew each time: the package removes the service and installs it again.
bool ServiceRuns() {
    const UniqueScHandle service = OpenProductService(SERVICE_QUERY_STATUS);
    SERVICE_STATUS status = {};
    return service && QueryServiceStatus(service.get(), &status) &&
           status.dwCurrentState == SERVICE_RUNNING;
}

std::set<DWORD> MsiexecPids() {
    std::set<DWORD> pids;
    const UniqueHandle snapshot = OwnHandle(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return pids;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (lstrcmpiW(entry.szExeFile, L"msiexec.exe") == 0) pids.insert(entry.th32ProcessID);
    }
    return pids;
}

// The moments of one update that the phases are cut at, -1 until seen.
struct Moments {
    double host_ended = -1;
    double ui_ended = -1;
    double msiexec_started = -1;
    double msiexec_ended = -1;
    double running = -1;
    double record = -1;
    void Print() const {
        PrintMs(L"host-ended", host_ended);
        PrintMs(L"ui-ended", ui_ended);
        PrintMs(L"msiexec-started", msiexec_started);
        PrintMs(L"msiexec-ended", msiexec_ended);
        PrintMs(L"running", running);
        PrintMs(L"record", record);
    }
};

// Watches an update made by another process from the moment it starts until it ends.
class Observer {
public:
    Observer(DWORD ui_pid) {
        host_.reset(OpenProcess(SYNCHRONIZE, FALSE, ServiceHostPid()));
        ui_.reset(OpenProcess(SYNCHRONIZE, FALSE, ui_pid));
        earlier_msiexec_ = MsiexecPids();
        // Made here if missing, so that its first value can be waited for; the updater
        // opens the key as it finds it.
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRecordKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_NOTIFY | KEY_WOW64_64KEY, nullptr, &key,
                            nullptr) == ERROR_SUCCESS) {
            record_key_.reset(key);
        }
        record_changed_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (record_key_ && record_changed_) {
            RegNotifyChangeKeyValue(record_key_.get(), FALSE, REG_NOTIFY_CHANGE_LAST_SET,
                                    record_changed_.get(), TRUE);
        }
    }
    bool Ready() const { return host_ && ui_ && record_key_ && record_changed_; }

    // Follows until `process` ends; returns its end in ms, or -1 when it gave up first.
    double Follow(const Clock& clock, HANDLE process, Moments& moments) {
        double ended = -1;
        while (ended < 0) {
            if (clock.Ms() > kGiveUpMs) {
                PrintGaveUp(L"the timed process to end");
                return -1;
            }
            std::vector<HANDLE> handles;
            std::vector<double*> marks;
            auto add = [&](HANDLE handle, double* mark) {
                if (handle != nullptr && *mark < 0) {
                    handles.push_back(handle);
                    marks.push_back(mark);
                }
            };
            add(process, &ended);
            add(host_.get(), &moments.host_ended);
            add(ui_.get(), &moments.ui_ended);
            add(msiexec_.get(), &moments.msiexec_ended);
            add(record_changed_.get(), &moments.record);
            const bool look_for_msiexec = moments.host_ended >= 0 && !msiexec_;
            const bool look_at_service = moments.msiexec_ended >= 0 && moments.running < 0;
            // Woken each second at least, so that the give-up time is kept.
            const DWORD wait = look_for_msiexec || look_at_service ? kLookMs : 1000;
            const DWORD result = WaitForMultipleObjects(static_cast<DWORD>(handles.size()),
                                                        handles.data(), FALSE, wait);
            const double now = clock.Ms();
            if (result == WAIT_FAILED) {
                wprintf(L"gave-up=the timed process to end: waiting failed with %lu\n",
                        GetLastError());
                return -1;
            }
            // The wait names only the first of the handles that are signalled.
            for (size_t i = 0; i < handles.size(); ++i) {
                if (WaitForSingleObject(handles[i], 0) == WAIT_OBJECT_0) *marks[i] = now;
            }
            if (look_for_msiexec) FindMsiexec(now, moments);
            if (look_at_service && ServiceRuns()) moments.running = now;
        }
        return ended;
    }

private:
    void FindMsiexec(double now, Moments& moments) {
        for (const DWORD pid : MsiexecPids()) {
            if (earlier_msiexec_.count(pid) != 0) continue;
            msiexec_.reset(OpenProcess(SYNCHRONIZE, FALSE, pid));
            if (msiexec_) moments.msiexec_started = now;
            return;
        }
    }

    UniqueHandle host_;
    UniqueHandle ui_;
    UniqueHandle msiexec_;
    UniqueHKey record_key_;
    UniqueHandle record_changed_;
    std::set<DWORD> earlier_msiexec_;
};

// Times a process that does the whole update, under the observer.
int TimeObserved(std::wstring command, DWORD ui_pid) {
    Observer observer(ui_pid);
    if (!observer.Ready()) {
        wprintf(L"setup-failed=cannot observe the service, the UI program or the record\n");
        return 1;
    }
    Moments moments;
    const Clock clock;
    const UniqueHandle process = Start(std::move(command));
    if (!process) return 1;
    const double total = observer.Follow(clock, process.get(), moments);
    if (total < 0) return 1;
    PrintMs(L"total", total);
    wprintf(L"exit=%lu\n", ExitCodeOf(process.get()));
    moments.Print();
    return 0;
}

std::wstring MsiexecCommand(const std::wstring& package) {
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    return L"\"" + std::wstring(system) + L"\\msiexec.exe\" /i \"" + package +
           L"\" /qn REINSTALLMODE=amus LAUNCH_TRAY_APP=N REBOOT=ReallySuppress /norestart "
           L"/L*V \"" +
           package + L".log\"";
}

// Writes a record the way installer mode publishes one and returns how long that took; it is
// not part of the work, whose end is the service running.
double TimePublish() {
    const Clock clock;
    const std::wstring record = FreshToken() + L"|completed";
    HKEY raw = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRecordKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, &raw, nullptr) != ERROR_SUCCESS) {
        return -1;
    }
    const UniqueHKey key(raw);
    RegSetValueExW(key.get(), L"Status", 0, REG_SZ, reinterpret_cast<const BYTE*>(record.c_str()),
                   static_cast<DWORD>((record.size() + 1) * sizeof(wchar_t)));
    return clock.Ms();
}

// The unavoidable work, in the updater's order, each step waited for as tightly as it can be.
int TimeWork(const std::wstring& package, DWORD ui_pid) {
    Moments moments;
    const Clock clock;
    const UniqueScHandle service = OpenProductService(SERVICE_STOP);
    const UniqueHandle host(OpenProcess(SYNCHRONIZE, FALSE, ServiceHostPid()));
    const UniqueHandle ui(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, ui_pid));
    SERVICE_STATUS status = {};
    if (!service || !host || !ui || !ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
        wprintf(L"setup-failed=cannot stop the service or open the UI program\n");
        return 1;
    }
    if (!WaitFor(host.get(), L"the service's host process to end")) return 1;
    moments.host_ended = clock.Ms();
    TerminateProcess(ui.get(), 0);
    if (!WaitFor(ui.get(), L"the UI program to end")) return 1;
    moments.ui_ended = clock.Ms();
    const UniqueHandle msiexec = Start(MsiexecCommand(package), nullptr, CREATE_NO_WINDOW);
    if (!msiexec) return 1;
    moments.msiexec_started = clock.Ms();
    if (!WaitFor(msiexec.get(), L"msiexec to end")) return 1;
    moments.msiexec_ended = clock.Ms();
    const UniqueScHandle reinstalled = OpenProductService(SERVICE_START);
    if (!reinstalled || !StartServiceW(reinstalled.get(), 0, nullptr)) {
        wprintf(L"setup-failed=cannot start the reinstalled service (%lu)\n", GetLastError());
        return 1;
    }
    const double start_asked = clock.Ms();
    while (!ServiceRuns()) {
        if (clock.Ms() - start_asked > kGiveUpMs) {
            PrintGaveUp(L"the reinstalled service to run");
            return 1;
        }
        Sleep(1);
    }
    moments.running = clock.Ms();
    const double publish = TimePublish();
    PrintMs(L"total", moments.running);
    wprintf(L"exit=%lu\n", ExitCodeOf(msiexec.get()));
    moments.Print();
    PrintMs(L"publish", publish);
    return 0;
}

// Where the package installs the UI program; empty when %ProgramFiles% is not set or longer
// than a path can be.
std::wstring ProductExecutable() {
    wchar_t folder[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"ProgramFiles", folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return L"";
    return std::wstring(folder, length) + L"\\Corvanta Remote\\Corvanta Remote.exe";
}

void PrintRelaunchedVersion() {
    const std::wstring version = sample::fixture::LastLaunch().version;
    wprintf(L"relaunched-version=%ls\n", version.empty() ? L"none" : version.c_str());
}

int TimeWholeUpdate(const std::wstring& updater, const std::wstring& package, DWORD ui_pid) {
    const std::wstring token = FreshToken();
    const Clock clock;
    const UniqueHandle installer =
        Start(QuoteArgument(updater) + L" --edk-remote-install-msi " + QuoteArgument(package) +
              L" " + token);
    const UniqueHandle watcher = Start(QuoteArgument(updater) + L" --edk-remote-relaunch " +
                                       std::to_wstring(ui_pid) + L" " + token);
    if (!installer || !watcher) return 1;
    const HANDLE both[] = {installer.get(), watcher.get()};
    if (WaitForMultipleObjects(2, both, /*wait_all=*/TRUE, kGiveUpMs) != WAIT_OBJECT_0) {
        PrintGaveUp(L"installer mode and the relaunch watcher to end");
        return 1;
    }
    PrintMs(L"total", clock.Ms());
    wprintf(L"exit=%lu\nwatcher-exit=%lu\n", ExitCodeOf(installer.get()),
            ExitCodeOf(watcher.get()));
    PrintRelaunchedVersion();
    return 0;
}

std::wstring ScriptCommand(const std::wstring& script, const std::wstring& package,
                           const std::wstring& token) {
    return L"cmd.exe /c " + QuoteArgument(script) + L" " + QuoteArgument(package) + L" " + token;
}

int TimeWholeScript(const std::wstring& script, const std::wstring& package) {
    const std::wstring program = ProductExecutable();
    if (program.empty()) {
        wprintf(L"setup-failed=%%ProgramFiles%% is not set\n");
        return 1;
    }
    const std::wstring folder = program.substr(0, program.rfind(L'\\'));
    const Clock clock;
    const UniqueHandle process = Start(ScriptCommand(script, package, FreshToken()));
    if (!process || !WaitFor(process.get(), L"the script to end")) return 1;
    const UniqueHandle ui = Start(QuoteArgument(program), folder.c_str());
    if (!ui) return 1;
    if (WaitForInputIdle(ui.get(), kGiveUpMs) != 0) {
        PrintGaveUp(L"the started UI program to be input-idle");
        return 1;
    }
    PrintMs(L"total", clock.Ms());
    wprintf(L"exit=%lu\n", ExitCodeOf(process.get()));
    PrintRelaunchedVersion();
    return 0;
}

int Usage() {
    fwprintf(stderr,
             L"usage: sample-bench.exe installer|update <updater> <package> <ui-pid>\n"
             L"       sample-bench.exe script|update-script <script> <package> <ui-pid>\n"
             L"       sample-bench.exe work <package> <ui-pid>\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    DWORD ui_pid = 0;
    if (argc < 4 || !road::ParseDword(argv[argc - 1], ui_pid)) return Usage();
    const std::wstring mode = argv[1];
    int result = 2;
    if (argc == 4 && mode == L"work") {
        result = TimeWork(argv[2], ui_pid);
    } else if (argc != 5) {
        return Usage();
    } else if (mode == L"installer") {
        result = TimeObserved(QuoteArgument(argv[2]) + L" --edk-remote-install-msi " +
                                  QuoteArgument(argv[3]) + L" " + FreshToken(),
                              ui_pid);
    } else if (mode == L"script") {
        result = TimeObserved(ScriptCommand(argv[2], argv[3], FreshToken()), ui_pid);
    } else if (mode == L"update") {
        result = TimeWholeUpdate(argv[2], argv[3], ui_pid);
    } else if (mode == L"update-script") {
        result = TimeWholeScript(argv[2], argv[3]);
    } else {
        return Usage();
    }
    fflush(stdout);
    return result;
}
