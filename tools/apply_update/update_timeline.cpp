#include "apply_update/update_timeline.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <utility>

#include "apply_update/service_state_text.h"
#include "apply_update/updater_label.h"
#include "common/process_list.h"
#include "common/watcher_launch.h"
#include "contract/road_contract.h"
#include "contract/road_paths.h"
#include "contract/status_record.h"
#include "shared/updater_contract.h"

namespace apply_update {

namespace {

constexpr const wchar_t* kWatchedNames[] = {updater_contract::kUpdaterFileName, L"msiexec.exe",
                                            updater_contract::kProductExecutableName,
                                            road::kServiceProgramName};

[[nodiscard]] bool IsWatchedName(const std::wstring& name) noexcept {
  return std::any_of(std::begin(kWatchedNames), std::end(kWatchedNames),
                     [&](const wchar_t* watched) { return tools::SameName(name, watched); });
}

[[nodiscard]] std::wstring Number(DWORD value) { return std::to_wstring(value); }

// ", <image>, version <version>" as a start line shows what a process runs.
[[nodiscard]] std::wstring DescribeImage(const tools::ProgramSeen& seen) {
  return seen.version.empty() ? seen.image : seen.image + L", version " + seen.version;
}

}  // namespace

UpdateTimeline::UpdateTimeline()
    : manager_(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT)) {
  ::QueryPerformanceFrequency(&frequency_);
  ::QueryPerformanceCounter(&start_);
  logs_.push_back({kServiceLogLabel, tools::LogTail(road::ServiceLogPath(), false)});
  logs_.push_back({kUiLogLabel, tools::LogTail(road::UiLogPath(), false)});
}

void UpdateTimeline::FollowUpdate(const std::wstring& updater, const std::wstring& msi) {
  msi_ = msi;
  watcher_log_ = updater + updater_contract::kLogSuffix;
  logs_.push_back({kWatcherLogLabel, tools::LogTail(watcher_log_, /*from_start=*/true)});
}

std::optional<DWORD> UpdateTimeline::EndedExitCode(const std::wstring& label) const {
  const auto found = ended_exit_codes_.find(label);
  if (found == ended_exit_codes_.end()) return std::nullopt;
  return found->second;
}

tools::ProgramSeen UpdateTimeline::Relaunched() const {
  const std::wstring prefix = std::wstring(kWatcherLogLabel) + L": ";
  std::vector<std::wstring> watcher_lines;
  for (const std::wstring& line : log_lines_) {
    if (line.compare(0, prefix.size(), prefix) == 0)
      watcher_lines.push_back(line.substr(prefix.size()));
  }
  const DWORD pid = tools::LastLaunchedPid(watcher_lines);
  if (pid == 0) return {};
  const auto followed = processes_.find(pid);
  return followed != processes_.end() ? followed->second.seen : tools::SeeProgram(pid);
}

void UpdateTimeline::Note(const std::wstring& text) {
  LARGE_INTEGER now = {};
  ::QueryPerformanceCounter(&now);
  const double seconds = static_cast<double>(now.QuadPart - start_.QuadPart) /
                         static_cast<double>(frequency_.QuadPart);
  wchar_t stamp[32] = {};
  std::swprintf(stamp, 32, L"+%.3f s", seconds);
  std::wprintf(L"%-10ls %ls\n", stamp, text.c_str());
  std::fflush(stdout);
}

// In the order in which an update mostly changes things; see WaitAndLook.
void UpdateTimeline::Look() {
  LookAtService();
  LookAtRecord();
  LookAtPackage();
  ReadNewLogLines();
  NoteEndedProcesses();
  NoteNewProcesses();
  first_look_ = false;
}

void UpdateTimeline::WaitAndLook(DWORD ms) {
  std::vector<HANDLE> handles;
  for (const auto& entry : processes_) {
    if (entry.second.handle) handles.push_back(entry.second.handle.get());
  }
  if (handles.empty() || handles.size() > MAXIMUM_WAIT_OBJECTS) {
    ::Sleep(ms);
  } else {
    ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(),
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

// Holding the handle keeps the id from being reused while the process is followed, and gives
// its exit code once it ends.
std::wstring UpdateTimeline::Follow(DWORD pid, const std::wstring& label) {
  Process process;
  process.label = label;
  process.seen.pid = pid;
  process.handle = OwnHandle(
      ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, /*inherit=*/FALSE, pid));
  std::wstring described;
  if (!process.handle) {
    described = L"cannot be opened (error " + Number(::GetLastError()) + L")";
  } else if ((process.seen.image = tools::ImagePathOf(process.handle.get())).empty()) {
    described = L"image path unknown (error " + Number(::GetLastError()) + L")";
  } else {
    process.seen.version = tools::FileVersionOf(process.seen.image);
    described = DescribeImage(process.seen);
  }
  processes_[pid] = std::move(process);
  return described;
}

void UpdateTimeline::LookAtService() {
  NoteChange(service_, DescribeService(manager_.get()), L"service: ");
}

void UpdateTimeline::LookAtRecord() { NoteChange(record_, road::ReadStatusRecord(), L"record: "); }

void UpdateTimeline::LookAtPackage() {
  if (msi_.empty()) return;
  const bool present = ::GetFileAttributesW(msi_.c_str()) != INVALID_FILE_ATTRIBUTES;
  NoteChange(package_, present ? L"present" : L"deleted", L"package " + msi_ + L": ");
}

void UpdateTimeline::ReadNewLogLines() {
  for (FollowedLog& log : logs_) {
    for (const std::wstring& line : log.tail.NewLines()) {
      log_lines_.push_back(log.label + L": " + line);
      Note(log_lines_.back());
    }
  }
}

void UpdateTimeline::NoteEndedProcesses() {
  for (auto it = processes_.begin(); it != processes_.end();) {
    const Process& process = it->second;
    if (!process.handle || ::WaitForSingleObject(process.handle.get(), 0) != WAIT_OBJECT_0) {
      ++it;
      continue;
    }
    DWORD code = 0;
    const bool known = ::GetExitCodeProcess(process.handle.get(), &code) != FALSE;
    if (known) ended_exit_codes_[process.label] = code;
    Note(L"ended: " + process.label + L" pid " + Number(it->first) + L", " +
         (known ? L"exit code " + Number(code) : L"exit code unknown"));
    it = processes_.erase(it);
  }
}

// Follows each watched process not yet followed, naming the process that started it.
void UpdateTimeline::NoteNewProcesses() {
  std::map<DWORD, tools::ProcessEntry> entries;
  for (const tools::ProcessEntry& entry : tools::RunningProcesses()) entries[entry.pid] = entry;
  for (const auto& [pid, found] : entries) {
    if (!IsWatchedName(found.exe_name) || processes_.count(pid) != 0) continue;
    const auto followed = processes_.find(found.parent);
    const auto listed = entries.find(found.parent);
    std::wstring parent_name;
    if (followed != processes_.end()) {
      parent_name = followed->second.label;
    } else if (listed != entries.end()) {
      parent_name = listed->second.exe_name;
    }
    const std::wstring by =
        parent_name.empty() ? L"" : L" by " + parent_name + L" pid " + Number(found.parent);
    const bool updater = tools::SameName(found.exe_name, updater_contract::kUpdaterFileName);
    const std::wstring label =
        updater ? UpdaterLabel(log_lines_, pid, parent_name) : found.exe_name;
    const std::wstring image = Follow(pid, label);
    Note(std::wstring(first_look_ ? L"running: " : L"started: ") + label + L" pid " + Number(pid) +
         by + L", " + image);
  }
}

}  // namespace apply_update
