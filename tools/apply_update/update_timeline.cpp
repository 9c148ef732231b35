#include "update_timeline.h"

#include <tlhelp32.h>

#include "hooks/fixture.h"
#include "contract/road_contract.h"
#include "contract/road_paths.h"
#include "contract/status_record.h"
#include "win/machine_registry.h"

#include <cstdio>
#include <utility>
#include <vector>

namespace sample {

namespace {

constexpr const wchar_t* kWatchedNames[] = {L"RemoteUpdater.exe", L"msiexec.exe",
                                            L"Corvanta Remote.exe",
                                            L"CorvantaRemoteService.exe"};

std::wstring Number(DWORD value) { return std::to_wstring(value); }

const wchar_t* ServiceStateName(DWORD state) {
    switch (state) {
        case SERVICE_STOPPED: return L"STOPPED";
        case SERVICE_START_PENDING: return L"START_PENDING";
        case SERVICE_STOP_PENDING: return L"STOP_PENDING";
        case SERVICE_RUNNING: return L"RUNNING";
        case SERVICE_CONTINUE_PENDING: return L"CONTINUE_PENDING";
        case SERVICE_PAUSE_PENDING: return L"PAUSE_PENDING";
        case SERVICE_PAUSED: return L"PAUSED";
        default: return L"state ?";
    }
}

bool IsWatchedName(const wchar_t* name) {
    for (const wchar_t* watched : kWatchedNames) {
        if (lstrcmpiW(name, watched) == 0) return true;
    }
    return false;
}

// A start as the UI program's test hooks record it.
std::wstring DescribeLaunch(const std::wstring& line) {
    const fixture::LaunchRecord launch = fixture::ParseLaunchRecord(line);
    if (launch.pid == 0) return line;
    return L"pid " + Number(launch.pid) + L", version " + launch.version + L", image " +
           launch.image_path + L", current directory " + launch.current_directory +
           L", command line " + launch.command_line;
}

std::wstring ImagePath(HANDLE process) {
    wchar_t buffer[MAX_PATH * 4] = {};
    DWORD size = MAX_PATH * 4;
    if (!QueryFullProcessImageNameW(process, 0, buffer, &size)) {
        return L"image path unknown (error " + Number(GetLastError()) + L")";
    }
    return std::wstring(buffer, size);
}

}  // namespace

// The label of an updater process that a followed process did not start: after the log line
// of the program that started it, naming its pid, or else after that program itself. The log
// comes first because the service may have stopped, and left the list, by the time a busy
// machine lets the installer mode it started be seen.
std::wstring RoadLabel(const std::vector<std::wstring>& log_lines, DWORD pid,
                       const wchar_t* parent_name) {
    const std::wstring installer =
        L"service log: " + std::wstring(road::kServiceStartedInstaller) + Number(pid) + L" ";
    const std::wstring watcher = L"UI log: " + std::wstring(road::kUiStartedWatcher) + Number(pid) + L" ";
    for (const std::wstring& line : log_lines) {
        if (line.compare(0, installer.size(), installer) == 0) return L"installer mode";
        if (line.compare(0, watcher.size(), watcher) == 0) return L"relaunch watcher";
    }
    if (lstrcmpiW(parent_name, L"CorvantaRemoteService.exe") == 0) return L"installer mode";
    if (lstrcmpiW(parent_name, L"Corvanta Remote.exe") == 0) return L"relaunch watcher";
    return L"RemoteUpdater.exe";
}

UpdateTimeline::UpdateTimeline(std::wstring updater, std::wstring msi)
    : updater_(std::move(updater)),
      msi_(std::move(msi)),
      manager_(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT)) {
    QueryPerformanceFrequency(&frequency_);
    QueryPerformanceCounter(&start_);
    logs_.push_back({road::ServiceLogPath(), L"service log", 0, {}});
    logs_.push_back({road::UiLogPath(), L"UI log", 0, {}});
    if (!updater_.empty()) logs_.push_back({updater_ + L".log", L"watcher log", 0, {}});
}

UpdateTimeline::~UpdateTimeline() = default;

void UpdateTimeline::FollowUpdate(const std::wstring& updater, const std::wstring& msi) {
    updater_ = updater;
    msi_ = msi;
    logs_.push_back({updater_ + L".log", L"watcher log", 0, {}});
}

std::optional<DWORD> UpdateTimeline::EndedExitCode(const std::wstring& label) const {
    const auto found = ended_exit_codes_.find(label);
    if (found == ended_exit_codes_.end()) return std::nullopt;
    return found->second;
}

void UpdateTimeline::Note(const std::wstring& text) {
    LARGE_INTEGER now = {};
    QueryPerformanceCounter(&now);
    const double seconds = static_cast<double>(now.QuadPart - start_.QuadPart) /
                           static_cast<double>(frequency_.QuadPart);
    wchar_t stamp[32] = {};
    swprintf(stamp, 32, L"+%.3f s", seconds);
    wprintf(L"%-10ls %ls\n", stamp, text.c_str());
    fflush(stdout);
}

void UpdateTimeline::FollowStarted(DWORD pid, const std::wstring& label,
                                   const std::wstring& command_line) {
    Follow(pid, label);
    Note(L"started: " + label + L" pid " + Number(pid) + L", command line " + command_line);
}

// In the order in which an update mostly changes things; see WaitAndLook.
void UpdateTimeline::Look() {
    LookAtService();
    LookAtRecordAndVersion();
    LookAtPackage();
    ReadNewLogLines();
    NoteEndedProcesses();
    NoteNewProcesses();
    LookAtLastLaunch();
    first_look_ = false;
}

void UpdateTimeline::WaitAndLook(DWORD ms) {
    std::vector<HANDLE> handles;
    for (const auto& entry : processes_) {
        if (entry.second.handle) handles.push_back(entry.second.handle.get());
    }
    if (handles.empty() || handles.size() > MAXIMUM_WAIT_OBJECTS) {
        Sleep(ms);
    } else {
        WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(),
                               /*wait_all=*/FALSE, ms);
    }
    Look();
}

void UpdateTimeline::NoteChange(std::wstring& last, const std::wstring& now,
                                const std::wstring& prefix) {
    if (!first_look_ && now == last) return;
    last = now;
    Note(prefix + (now.empty() ? L"(none)" : now));
}

// Opens the process to see its exit code later; holding the handle also keeps its id from
// being reused while it is followed. Returns its image path, or why it cannot be seen.
std::wstring UpdateTimeline::Follow(DWORD pid, const std::wstring& label) {
    Process process;
    process.label = label;
    process.handle = OwnHandle(
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, /*inherit=*/FALSE, pid));
    const std::wstring image = !process.handle
                                   ? L"cannot be opened (error " + Number(GetLastError()) + L")"
                                   : ImagePath(process.handle.get());
    processes_[pid] = std::move(process);
    return image;
}

// The service is opened anew each time: the package removes and installs it again.
void UpdateTimeline::LookAtService() {
    std::wstring state = L"not installed";
    const UniqueScHandle service(
        !manager_ ? nullptr : OpenServiceW(manager_.get(), road::kServiceName, SERVICE_QUERY_STATUS));
    if (!service) {
        const DWORD error = !manager_ ? ERROR_INVALID_HANDLE : GetLastError();
        if (error != ERROR_SERVICE_DOES_NOT_EXIST) {
            state = L"cannot be opened (error " + Number(error) + L")";
        }
    } else {
        SERVICE_STATUS_PROCESS status = {};
        DWORD needed = 0;
        if (QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                                 reinterpret_cast<BYTE*>(&status), sizeof(status), &needed)) {
            state = ServiceStateName(status.dwCurrentState);
            if (status.dwProcessId != 0) state += L", host pid " + Number(status.dwProcessId);
        } else {
            state = L"cannot be queried (error " + Number(GetLastError()) + L")";
        }
    }
    NoteChange(service_, state, L"service: ");
}

void UpdateTimeline::NoteEndedProcesses() {
    for (auto it = processes_.begin(); it != processes_.end();) {
        Process& process = it->second;
        if (!process.handle || WaitForSingleObject(process.handle.get(), 0) != WAIT_OBJECT_0) {
            ++it;
            continue;
        }
        DWORD code = 0;
        const bool known = GetExitCodeProcess(process.handle.get(), &code) != FALSE;
        if (known) ended_exit_codes_[process.label] = code;
        Note(L"ended: " + process.label + L" pid " + Number(it->first) + L", " +
             (known ? L"exit code " + Number(code) : L"exit code unknown"));
        it = processes_.erase(it);
    }
}

// Follows each watched process not yet followed, naming the process that started it.
void UpdateTimeline::NoteNewProcesses() {
    const UniqueHandle snapshot = OwnHandle(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return;
    std::map<DWORD, PROCESSENTRY32W> entries;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        entries[entry.th32ProcessID] = entry;
    }
    for (const auto& [pid, found] : entries) {
        if (!IsWatchedName(found.szExeFile) || processes_.count(pid) != 0) continue;
        const DWORD parent = found.th32ParentProcessID;
        const auto followed = processes_.find(parent);
        const auto listed = entries.find(parent);
        std::wstring by;
        std::wstring parent_name;
        if (followed != processes_.end()) {
            parent_name = followed->second.label;
            by = L" by " + followed->second.label + L" pid " + Number(parent);
        } else if (listed != entries.end()) {
            parent_name = listed->second.szExeFile;
            by = L" by " + parent_name + L" pid " + Number(parent);
        }
        const bool updater = lstrcmpiW(found.szExeFile, road::kUpdaterFileName) == 0;
        const std::wstring label =
            updater ? RoadLabel(log_lines_, pid, parent_name.c_str()) : found.szExeFile;
        const std::wstring image = Follow(pid, label);
        Note(std::wstring(first_look_ ? L"running: " : L"started: ") + label + L" pid " +
             Number(pid) + by + L", " + image);
    }
}

void UpdateTimeline::LookAtRecordAndVersion() {
    NoteChange(record_, road::ReadStatusRecord(),
               L"record: ");
    NoteChange(service_version_,
               road::ReadMachineString(fixture::kServiceKey, L"RunningVersion"),
               L"service reports version: ");
}

void UpdateTimeline::LookAtLastLaunch() {
    const std::wstring launch = road::ReadMachineString(fixture::kUiKey, L"LastLaunch");
    if (first_look_ || launch != last_launch_) {
        last_launch_ = launch;
        Note(L"UI start recorded: " + (launch.empty() ? L"(none)" : DescribeLaunch(launch)));
    }
}

void UpdateTimeline::LookAtPackage() {
    if (msi_.empty()) return;
    const bool present = GetFileAttributesW(msi_.c_str()) != INVALID_FILE_ATTRIBUTES;
    NoteChange(package_, present ? L"present" : L"deleted", L"package " + msi_ + L": ");
}

void UpdateTimeline::ReadNewLogLines() {
    for (FollowedLog& log : logs_) ReadNewLines(log);
}

// Notes each complete line appended to the log since the previous look. Lines already there at
// the first look belong to earlier runs.
void UpdateTimeline::ReadNewLines(FollowedLog& log) {
    const UniqueHandle file = OwnHandle(
        CreateFileW(log.path.c_str(), GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    if (first_look_) {
        LARGE_INTEGER size = {};
        if (GetFileSizeEx(file.get(), &size)) log.offset = size.QuadPart;
        return;
    }
    LARGE_INTEGER offset = {};
    offset.QuadPart = log.offset;
    char buffer[4096];
    DWORD read = 0;
    if (SetFilePointerEx(file.get(), offset, nullptr, FILE_BEGIN)) {
        while (ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
            log.partial_line.append(buffer, read);
            log.offset += read;
        }
    }
    for (size_t end; (end = log.partial_line.find("\r\n")) != std::string::npos;) {
        const std::string line = log.partial_line.substr(0, end);
        log.partial_line.erase(0, end + 2);
        const int length = MultiByteToWideChar(CP_UTF8, 0, line.data(),
                                               static_cast<int>(line.size()), nullptr, 0);
        std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), wide.data(),
                            length);
        log_lines_.push_back(log.label + L": " + wide);
        Note(log_lines_.back());
    }
}

}  // namespace sample
