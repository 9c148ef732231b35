// Watches one update of the sample product from the outside and prints every change it sees,
// one line per event, with the time since the timeline began:
//
//   +0.412 s  service: STOP_PENDING, host pid 296
//
// Each look covers the service "Corvanta Remote" (state and host process id), the processes
// named RemoteUpdater.exe, msiexec.exe, "Corvanta Remote.exe" and CorvantaRemoteService.exe
// (start with its parent, image path and the image's version, end with its full exit code),
// the update status record, the package file and each new line of the watcher log, the
// service's log and the UI program's log. An updater process is named after its mode
// (updater_label.h). It sees only what any program on the machine can see.
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/log_tail.h"
#include "common/process_image.h"
#include "shared/unique_handles.h"

namespace apply_update {

// The labels of the logs it follows, which begin each of their noted lines.
inline constexpr wchar_t kServiceLogLabel[] = L"service log";
inline constexpr wchar_t kUiLogLabel[] = L"UI log";
inline constexpr wchar_t kWatcherLogLabel[] = L"watcher log";

class UpdateTimeline {
 public:
  // Time zero is now. The service's and the UI program's logs are followed from here on.
  UpdateTimeline();
  UpdateTimeline(const UpdateTimeline&) = delete;
  UpdateTimeline& operator=(const UpdateTimeline&) = delete;

  // Prints one event line, stamped with the time since time zero.
  void Note(const std::wstring& text);
  // Names the updater (its log is that path plus ".log", read from its start) and the package
  // of an update seen once it has begun.
  void FollowUpdate(const std::wstring& updater, const std::wstring& msi);
  // Looks at everything once and notes what changed since the previous look; the first look
  // notes the state as it is.
  void Look();
  // Waits up to `ms` milliseconds, less when a followed process ends, then looks. The look
  // notes the other changes before the ends, as they mostly happen first (a service reports
  // STOPPED before its host exits, installer mode writes the record before it exits).
  void WaitAndLook(DWORD ms);

  // The latest record seen ("" when missing).
  const std::wstring& Record() const noexcept { return record_; }
  // Every log line noted so far, as "<log label>: <line>".
  const std::vector<std::wstring>& LogLines() const noexcept { return log_lines_; }
  // The exit code of the last process named `label` seen to end, if any did.
  [[nodiscard]] std::optional<DWORD> EndedExitCode(const std::wstring& label) const;
  // The program that the watcher's log says it started last; pid 0 when it names none.
  [[nodiscard]] tools::ProgramSeen Relaunched() const;

 private:
  struct Process {
    std::wstring label;
    UniqueHandle handle;  // empty when the process could not be opened
    tools::ProgramSeen seen;
  };
  struct FollowedLog {
    std::wstring label;
    tools::LogTail tail;
  };

  // Opens and remembers process `pid`; returns its image and version, or why it cannot be seen.
  std::wstring Follow(DWORD pid, const std::wstring& label);
  void LookAtService();
  void LookAtRecord();
  void LookAtPackage();
  void ReadNewLogLines();
  void NoteEndedProcesses();
  void NoteNewProcesses();
  // Notes `prefix` + `now` when `now` differs from `last` (always on the first look).
  void NoteChange(std::wstring& last, const std::wstring& now, const std::wstring& prefix);

  std::wstring msi_;
  std::wstring watcher_log_;
  LARGE_INTEGER start_ = {};
  LARGE_INTEGER frequency_ = {};
  bool first_look_ = true;
  UniqueScHandle manager_;
  std::map<DWORD, Process> processes_;
  std::wstring service_;
  std::wstring record_;
  std::wstring package_;
  std::vector<FollowedLog> logs_;
  std::map<std::wstring, DWORD> ended_exit_codes_;
  std::vector<std::wstring> log_lines_;
};

}  // namespace apply_update
