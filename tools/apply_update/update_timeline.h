// Watches one update of the sample product from the outside and prints every change it sees,
// one line per event, with the time since the timeline began:
//
//   +0.412 s  service: STOP_PENDING, host pid 296
//
// Each look covers the service "Corvanta Remote" (state and host process id), the processes
// named RemoteUpdater.exe, msiexec.exe, "Corvanta Remote.exe" and CorvantaRemoteService.exe
// (start with its parent and image path, end with its full exit code), the update status
// record, the version the sample service reports (RunningVersion), the last start the sample
// UI program recorded (LastLaunch), the package file and each new line of the watcher log, the
// service's log and the UI program's log (update_road.h). An updater process that a followed
// process did not start is named after its parent: installer mode when the service started it,
// relaunch watcher when the UI program did.
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "shared/unique_handles.h"

namespace sample {

class UpdateTimeline {
public:
    // `updater` is the RemoteUpdater.exe that runs the update (its log is that path plus
    // ".log"), `msi` the package handed to installer mode; either may be empty until
    // FollowUpdate names them. Time zero is now.
    UpdateTimeline(std::wstring updater, std::wstring msi);
    ~UpdateTimeline();
    UpdateTimeline(const UpdateTimeline&) = delete;
    UpdateTimeline& operator=(const UpdateTimeline&) = delete;

    // Prints one event line, stamped with the time since time zero.
    void Note(const std::wstring& text);
    // Names the updater and package of an update seen only once it has begun (on the road, once
    // the token is known); the watcher log is then read from its start.
    void FollowUpdate(const std::wstring& updater, const std::wstring& msi);
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
    // Every log line noted so far, as "<log label>: <line>".
    const std::vector<std::wstring>& LogLines() const { return log_lines_; }
    // The exit code of the last process named `label` seen to end, if any did.
    std::optional<DWORD> EndedExitCode(const std::wstring& label) const;

private:
    struct Process {
        std::wstring label;
        UniqueHandle handle;  // empty when the process could not be opened
    };
    // A log whose new lines are noted, each as "<label>: <line>".
    struct FollowedLog {
        std::wstring path;
        std::wstring label;
        LONGLONG offset = 0;
        std::string partial_line;
    };

    std::wstring Follow(DWORD pid, const std::wstring& label);
    void LookAtService();
    void LookAtRecordAndVersion();
    void LookAtPackage();
    void ReadNewLogLines();
    void ReadNewLines(FollowedLog& log);
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
    UniqueScHandle manager_;
    std::map<DWORD, Process> processes_;
    std::wstring service_;
    std::wstring service_version_;
    std::wstring record_;
    std::wstring last_launch_;
    std::wstring package_;
    std::vector<FollowedLog> logs_;
    std::map<std::wstring, DWORD> ended_exit_codes_;
    std::vector<std::wstring> log_lines_;
};

}  // namespace sample
