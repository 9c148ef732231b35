// One run of the updater on a simulated machine, through its dispatcher, and
// the rules that every run must keep whatever the machine and whichever calls
// fail: nothing left open or misused, no open asking for more access than its
// use needs, no program started with the updater's handles, a line naming no
// mode doing nothing, the result 0 or 1, installer mode publishing one outcome
// its watcher can read and ending with 0 only after "completed", the watcher
// never writing the record, and the run ending within an hour.
#pragma once

#include <winsim/world.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/dispatch.h"
#include "shared/update_status.h"
#include "support/simulated_machine.h"

enum class Mode { kNone, kInstall, kRelaunch };

// What a run was asked to do and how it ended.
struct UpdaterRun {
  Mode named = Mode::kNone;  // the mode the command line names
  std::wstring token;
  std::vector<Fault> faults;
  bool dispatched = false;
  int exit_code = kUntouchedExitCode;
  static constexpr int kUntouchedExitCode = 77;
};

// Well above the longest road, the watcher's half hour of polling, so that a
// run that never ends is stopped and reported.
inline constexpr uint64_t kLongestRunMs = 60ull * 60 * 1000;

// Arranges the machine, runs the dispatcher on `command_line` and reports.
inline UpdaterRun RunUpdater(const Machine& machine, const std::wstring& command_line, Mode named,
                             const std::wstring& token) {
  ArrangeMachine(machine);
  winsim::SetCommandLine(command_line);
  winsim::SetBudget({100000, kLongestRunMs});
  UpdaterRun run{named, token, machine.faults};
  try {
    run.dispatched = DispatchCommandLine(run.exit_code);
  } catch (const winsim::RunStopped&) {
    // Reported among the problems.
  }
  return run;
}

namespace run_rules {

// Handles left open, and misuse the simulation saw.
inline void CheckWorld(std::vector<std::string>& broken) {
  if (winsim::OpenHandleCount() != 0)
    broken.push_back("left open:\n" + winsim::DescribeOpenHandles());
  for (const std::string& problem : winsim::Problems()) broken.push_back(problem);
}

// The number after "name=" in a journal entry's detail, if there is one.
inline std::optional<DWORD> DetailNumber(const std::wstring& detail, const wchar_t* name) {
  const std::wstring key = L" " + std::wstring(name) + L"=";
  const std::wstring spaced = L" " + detail;
  const size_t at = spaced.find(key);
  if (at == std::wstring::npos) return std::nullopt;
  return static_cast<DWORD>(std::wcstoul(spaced.c_str() + at + key.size(), nullptr, 0));
}

// The ids that a snapshot listed under the product's file name: the only
// processes installer mode may end and read the image path of.
inline std::set<DWORD> ProductCandidates() {
  std::set<DWORD> ids;
  const std::wstring product = L" exe=" + std::wstring(updater_contract::kProductExecutableName);
  for (const winsim::Call& call : winsim::Journal()) {
    if (call.function != "Process32FirstW" && call.function != "Process32NextW") continue;
    const size_t at = call.detail.find(L" exe=");
    if (at == std::wstring::npos || call.detail.compare(at, std::wstring::npos, product) != 0)
      continue;
    ids.insert(DetailNumber(call.detail, L"pid").value_or(0));
  }
  return ids;
}

// The most access an open may ask for; none for a call that opens nothing.
// Every process but installer mode's candidates (the service's host, the old
// UI) is only waited for.
inline std::optional<DWORD> LargestAccess(const winsim::Call& call, Mode mode,
                                          const std::set<DWORD>& candidates) {
  static const std::map<std::string, DWORD> kLargest = {
      {"OpenSCManagerW", SC_MANAGER_CONNECT},
      {"OpenServiceW", SERVICE_STOP | SERVICE_START | SERVICE_QUERY_STATUS},
      {"OpenProcess", SYNCHRONIZE},
      {"RegCreateKeyExW", KEY_SET_VALUE},
      {"RegOpenKeyExW", KEY_QUERY_VALUE},
      {"CreateFileW", FILE_APPEND_DATA},
  };
  const auto found = kLargest.find(call.function);
  if (found == kLargest.end()) return std::nullopt;
  if (call.function == "OpenProcess" && mode == Mode::kInstall &&
      candidates.count(DetailNumber(call.detail, L"pid").value_or(0)) != 0) {
    return SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE;
  }
  return found->second;
}

// What the journal's opens give away beyond least privilege.
inline void CheckOpens(Mode mode, std::vector<std::string>& broken) {
  const std::set<DWORD> candidates = ProductCandidates();
  for (const winsim::Call& call : winsim::Journal()) {
    const std::optional<DWORD> allowed = LargestAccess(call, mode, candidates);
    if (!allowed) continue;
    const std::optional<DWORD> access = DetailNumber(call.detail, L"access");
    if (access && (*access & ~*allowed) != 0) {
      std::ostringstream text;
      text << call.function << " asked for access 0x" << std::hex << *access << ", beyond 0x"
           << *allowed;
      broken.push_back(text.str());
    }
    if (DetailNumber(call.detail, L"inherit").value_or(0) != 0 ||
        call.detail.find(L"security=set") != std::wstring::npos) {
      broken.push_back(call.function + " made its handle inheritable or set its own security");
    }
  }
}

// Every program started gets none of the updater's handles, no security of
// its own and the updater's environment.
inline void CheckLaunches(std::vector<std::string>& broken) {
  for (const winsim::Launch& launch : winsim::Launches()) {
    if (launch.inherit_handles || !launch.security_attributes_null || !launch.environment_null) {
      broken.push_back(
          "a program started with the updater's handles, security of its own or "
          "an environment of its own");
    }
  }
}

inline bool AnyFaultIn(const UpdaterRun& run, std::initializer_list<const char*> functions) {
  return std::any_of(run.faults.begin(), run.faults.end(), [&](const Fault& fault) {
    return std::find(functions.begin(), functions.end(), fault.function) != functions.end();
  });
}

inline void CheckRecord(const UpdaterRun& run, std::vector<std::string>& broken) {
  const auto calls = winsim::CallsTo("RegSetValueExW");
  // Successful writes of the record.
  const auto writes =
      std::count_if(calls.begin(), calls.end(), [](const auto& call) { return call.error == 0; });
  if (run.named != Mode::kInstall || !run.dispatched) {
    if (writes != 0 || winsim::UseCount("RegCreateKeyExW") != 0) {
      broken.push_back("the record was written outside installer mode");
    }
    return;
  }
  const bool write_may_fail = AnyFaultIn(run, {"RegCreateKeyExW", "RegSetValueExW"});
  if (writes > 1 || (writes == 0 && !write_may_fail)) {
    broken.push_back("record written " + std::to_string(writes) + " times");
  }
  if (writes != 1) return;
  const UpdateOutcome outcome = OutcomeForToken(PublishedRecord().value_or(L""), run.token);
  if (outcome == UpdateOutcome::kNone)
    broken.push_back("the token's watcher cannot read the outcome");
  if (run.exit_code == 0 && outcome != UpdateOutcome::kCompleted) {
    broken.push_back("0 after a failed update");
  }
}

// A line naming no mode reads and splits the command line, and frees the split.
inline void CheckDispatch(const UpdaterRun& run, std::vector<std::string>& broken) {
  const bool split_may_fail = AnyFaultIn(run, {"GetCommandLineW", "CommandLineToArgvW"});
  if (run.dispatched != (run.named != Mode::kNone) && !(split_may_fail && !run.dispatched)) {
    broken.push_back("the mode run is not the one named");
  }
  if (run.dispatched) {
    if (run.exit_code != 0 && run.exit_code != 1) {
      broken.push_back("exit code " + std::to_string(run.exit_code));
    }
    return;
  }
  if (run.exit_code != UpdaterRun::kUntouchedExitCode)
    broken.push_back("no mode ran, yet a result came");
  for (const winsim::Call& call : winsim::Journal()) {
    if (call.function != "GetCommandLineW" && call.function != "CommandLineToArgvW" &&
        call.function != "LocalFree") {
      broken.push_back("no mode ran, yet " + call.function + " was called");
      return;
    }
  }
}

// The simulation's own side of a fault: the failed call shows its error.
inline void CheckFaults(const UpdaterRun& run, std::vector<std::string>& broken) {
  for (const winsim::Call& call : winsim::Journal()) {
    for (const Fault& fault : run.faults) {
      if (call.function == fault.function && call.use == fault.use && call.error != fault.error) {
        broken.push_back("the failed call is journalled with error " + std::to_string(call.error));
      }
    }
  }
}

}  // namespace run_rules

// Every rule the run broke, each as a sentence; empty when it kept them all.
inline std::vector<std::string> BrokenRules(const UpdaterRun& run) {
  std::vector<std::string> broken;
  run_rules::CheckWorld(broken);
  if (winsim::NowMs() > kLongestRunMs) broken.push_back("the run took more than an hour");
  run_rules::CheckDispatch(run, broken);
  run_rules::CheckOpens(run.named, broken);
  run_rules::CheckLaunches(broken);
  run_rules::CheckRecord(run, broken);
  run_rules::CheckFaults(run, broken);
  return broken;
}
