// Watches one update of the sample product from the outside and prints every change it sees,
// one line per event, with the time since the timeline began:
//
//   +0.412 s  service: STOP_PENDING, host pid 296
//
// Each look covers the service "Corvanta Remote" (state and host process id), the processes
// named RemoteUpdater.exe, msiexec.exe, "Corvanta Remote.exe" and CorvantaRemoteService.exe
// (start with its parent and image path, end with its full exit code), the update status
// record, the version the sample service reports (RunningVersion), the last start the sample
// UI program recorded (LastLaunch), the package file and each new line of the watcher log.
#pragma once

#include <windows.h>

#include <map>
#include <string>

namespace sample {

class UpdateTimeline {
public:
    // `updater` is the RemoteUpdater.exe that runs the update (its log is that path plus
    // ".log"), `msi` the package handed to installer mode. Time zero is now.
    UpdateTimeline(std::wstring updater, std::wstring msi);
    ~UpdateTimeline();
    UpdateTimeline(const UpdateTimeline&) = delete;
    UpdateTimeline& operator=(const UpdateTimeline&) = delete;

    // Prints one event line, stamped with the time since time zero.
    void Note(const std::wstring& text);
    // Notes and follows a process the caller has just started, named by `label`.
    void FollowStarted(DWORD pid, const std::wstring& label, const std::wstring& command_line);
    // Looks at everything once and notes what changed since the previous look; the first
    // look notes the state as it is.
    void Look();
    // Waits up to `ms` milliseconds, less when a followed process ends, then looks. The look
    // notes the other changes before the ends, as they mostly happen first (a service reports
    // STOPPED before its host exits, installer mode writes the record before it exits).
    void WaitAndLook(DWORD ms);

    // The latest values seen ("" when missing).
    const std::wstring& Record() const { return record_; }
    const std::wstring& LastLaunch() const { return last_launch_; }

private:
    struct Process {
        std::wstring label;
        HANDLE handle = nullptr;  // null when the process could not be opened
    };

    std::wstring Follow(DWORD pid, const std::wstring& label);
    void LookAtService();
    void LookAtRecordAndVersion();
    void LookAtPackage();
    void ReadNewLogLines();
    void NoteEndedProcesses();
    void NoteNewProcesses();
    void LookAtLastLaunch();
    // Notes `prefix` + `now` when `now` differs from `last` (always on the first look).
    void NoteChange(std::wstring& last, const std::wstring& now, const std::wstring& prefix);

    std::wstring updater_;
    std::wstring msi_;
    LARGE_INTEGER start_ = {};
    LARGE_INTEGER frequency_ = {};
    bool first_look_ = true;
    SC_HANDLE manager_ = nullptr;
    std::map<DWORD, Process> processes_;
    std::wstring service_;
    std::wstring service_version_;
    std::wstring record_;
    std::wstring last_launch_;
    std::wstring package_;
    LONGLONG log_offset_ = 0;
    std::string log_partial_line_;
};

}  // namespace sample
