#include "bench/update_observer.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <iterator>

#include "common/process_list.h"
#include "contract/road_contract.h"
#include "shared/updater_contract.h"
#include "ui/service_status.h"

namespace bench {

namespace {

constexpr DWORD kLookMs = 2;
constexpr wchar_t kMsiexecName[] = L"msiexec.exe";

[[nodiscard]] std::set<DWORD> MsiexecPids() {
  std::set<DWORD> pids;
  for (const tools::ProcessEntry& entry : tools::RunningProcesses()) {
    if (tools::SameName(entry.exe_name, kMsiexecName)) pids.insert(entry.pid);
  }
  return pids;
}

[[nodiscard]] UniqueHandle OpenToWait(DWORD pid) noexcept {
  return OwnHandle(::OpenProcess(SYNCHRONIZE, /*inherit=*/FALSE, pid));
}

// Opened anew each time: the package removes the service and installs it again.
[[nodiscard]] bool ServiceRuns() { return road::ServiceStatus().dwCurrentState == SERVICE_RUNNING; }

}  // namespace

void Moments::Print() const noexcept {
  PrintMs(L"host-ended", host_ended);
  PrintMs(L"ui-ended", ui_ended);
  PrintMs(L"msiexec-started", msiexec_started);
  PrintMs(L"msiexec-ended", msiexec_ended);
  PrintMs(L"running", running);
  PrintMs(L"record", record);
}

UpdateObserver::UpdateObserver(DWORD ui_pid)
    : host_(OpenToWait(road::ServiceStatus().dwProcessId)),
      ui_(OpenToWait(ui_pid)),
      record_changed_(::CreateEventW(nullptr, /*manual_reset=*/TRUE, /*initial=*/FALSE, nullptr)),
      earlier_msiexec_(MsiexecPids()) {
  HKEY key = nullptr;
  if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, updater_contract::kStatusKeyPath, 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_NOTIFY | KEY_WOW64_64KEY, nullptr, &key,
                        nullptr) == ERROR_SUCCESS) {
    record_key_.reset(key);
  }
  if (record_key_ && record_changed_) {
    ::RegNotifyChangeKeyValue(record_key_.get(), /*watch_subtree=*/FALSE,
                              REG_NOTIFY_CHANGE_LAST_SET, record_changed_.get(),
                              /*asynchronous=*/TRUE);
  }
}

bool UpdateObserver::Ready() const noexcept {
  return host_ && ui_ && record_key_ && record_changed_;
}

std::vector<UpdateObserver::Watch> UpdateObserver::Unmarked(HANDLE process, double& ended,
                                                            Moments& moments) {
  const Watch all[] = {Watch{process, &ended}, Watch{host_.get(), &moments.host_ended},
                       Watch{ui_.get(), &moments.ui_ended},
                       Watch{msiexec_.get(), &moments.msiexec_ended},
                       Watch{record_changed_.get(), &moments.record}};
  std::vector<Watch> watches;
  std::copy_if(std::begin(all), std::end(all), std::back_inserter(watches),
               [](const Watch& watch) { return watch.handle != nullptr && *watch.mark < 0; });
  return watches;
}

double UpdateObserver::Follow(const Clock& clock, HANDLE process, Moments& moments) {
  double ended = -1;
  while (ended < 0) {
    if (clock.Ms() > kGiveUpMs) {
      PrintGaveUp(L"the timed process to end");
      return -1;
    }
    const std::vector<Watch> watches = Unmarked(process, ended, moments);
    std::vector<HANDLE> handles(watches.size());
    std::transform(watches.begin(), watches.end(), handles.begin(),
                   [](const Watch& watch) { return watch.handle; });
    const bool look_for_msiexec = moments.host_ended >= 0 && !msiexec_;
    const bool look_at_service = moments.msiexec_ended >= 0 && moments.running < 0;
    // Woken each second at least, so that the give-up time is kept.
    const DWORD wait = look_for_msiexec || look_at_service ? kLookMs : 1000;
    const DWORD result = ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()),
                                                  handles.data(), /*wait_all=*/FALSE, wait);
    const double now = clock.Ms();
    if (result == WAIT_FAILED) {
      std::wprintf(L"gave-up=the timed process to end: waiting failed with %lu\n",
                   ::GetLastError());
      return -1;
    }
    // The wait names only the first of the handles that are signalled.
    for (const Watch& watch : watches) {
      if (::WaitForSingleObject(watch.handle, 0) == WAIT_OBJECT_0) *watch.mark = now;
    }
    if (look_for_msiexec) FindMsiexec(now, moments);
    if (look_at_service && ServiceRuns()) moments.running = now;
  }
  return ended;
}

void UpdateObserver::FindMsiexec(double now, Moments& moments) {
  for (const DWORD pid : MsiexecPids()) {
    if (earlier_msiexec_.count(pid) != 0) continue;
    msiexec_ = OpenToWait(pid);
    if (msiexec_) moments.msiexec_started = now;
    return;
  }
}

}  // namespace bench
