// Every call that whole runs make, made to fail in turn, and in pairs over the
// completed runs, against the rules every run keeps (support/run_rules.h).
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "support/world_test.h"

namespace {

using updater_contract::kInstallSwitch;
using updater_contract::kRelaunchSwitch;

const std::wstring kToken = L"tok";

// Reviewed: the only single failures after which installer mode still ends
// with 0, as "function#use:error" in the completed run.
const std::set<std::string> kStillSucceeds = {
    "DeleteFileW#1:32",     // a package left behind is no failure
    "RegCreateKeyExW#1:5",  // a failed write of the record goes unreported
    "RegSetValueExW#1:5",
    "OpenProcess#1:5",  // the service host is opened again at the next poll
    "OpenProcess#1:87",
    "OpenProcess#2:87",  // the product copy has gone since the snapshot
};

std::string Describe(const Fault& fault) {
  return fault.function + "#" + std::to_string(fault.use) + ":" + std::to_string(fault.error);
}

struct Scenario {
  const char* name;
  Mode mode;
  Machine machine;
};

std::wstring CommandLineOf(Mode mode) {
  return mode == Mode::kInstall
             ? UpdaterCommandLine(kInstallSwitch, kPackage, kToken)
             : UpdaterCommandLine(kRelaunchSwitch, std::to_wstring(kOldUiPid), kToken);
}

// Installer mode: a service that takes a while to stop, a product copy, a
// process of another program, and msiexec ending with `msi_exit`.
Machine Install(DWORD msi_exit) {
  return {.service = winsim::ServiceSpec{.stop_takes_ms = 250},
          .other_program = true,
          .product_copies = {0},
          .installer_exit = msi_exit};
}

// The watcher: the old UI ends at 1 s; the record shows the outcome from
// `record_at_ms`.
Machine Watch(const std::wstring& outcome, uint64_t record_at_ms,
              std::vector<winsim::LaunchScript> launches = {}) {
  return {.old_ui_exits_at_ms = 1000,
          .record = {{record_at_ms, StatusRecordText(kToken, outcome)}},
          .product_launches = std::move(launches)};
}

const winsim::LaunchScript kExitsAtOnceWithThree{.exit_after_ms = 100, .exit_code = 3};
const Scenario kCompletedRuns[] = {
    {"installer mode, completed", Mode::kInstall, Install(0)},
    {"watcher, completed", Mode::kRelaunch, Watch(kCompletedOutcome, 600)}};
const Scenario kFailureRoads[] = {
    {"installer mode, msiexec exit 1603", Mode::kInstall, Install(1603)},
    {"watcher, failure recorded after the old UI ended", Mode::kRelaunch,
     Watch(FailedOutcome(L"MSI exit 1603"), 1700)},
    {"watcher, first launch fails", Mode::kRelaunch,
     Watch(kCompletedOutcome, 600, {kExitsAtOnceWithThree, {}})},
};

class FailureSweepTest : public WorldTest {
 protected:
  // Runs the scenario in a fresh world with the faults, checks the rules and
  // returns the result.
  int RunOnce(const Scenario& scenario, const std::vector<Fault>& faults) {
    ResetMachine();
    Machine machine = scenario.machine;
    machine.faults = faults;
    const UpdaterRun run = RunUpdater(machine, CommandLineOf(scenario.mode), scenario.mode, kToken);
    std::string where = scenario.name;
    for (const Fault& fault : faults) where += " / " + Describe(fault);
    for (const std::string& rule : BrokenRules(run)) violations_.push_back(where + ": " + rule);
    ++runs_;
    return run.dispatched ? run.exit_code : 1;
  }

  // Every call that can fail in the scenario's run without faults, with each
  // of its function's plausible errors.
  std::vector<Fault> CallsOf(const Scenario& scenario) {
    RunOnce(scenario, {});
    std::vector<Fault> calls;
    for (const auto& [function, uses] : winsim::UseCounts()) {
      if (!winsim::CanFail(function)) continue;
      functions_.insert(function);
      uses_ += uses;
      for (unsigned use = 1; use <= uses; ++use) {
        for (DWORD error : winsim::PlausibleErrors(function)) {
          calls.push_back({function, use, error});
        }
      }
    }
    faults_ += calls.size();
    return calls;
  }

  // Fails each call of the scenario in turn; returns the faults it swept.
  std::vector<Fault> SweepSingles(const Scenario& scenario, std::set<std::string>& still_zero) {
    const std::vector<Fault> calls = CallsOf(scenario);
    for (const Fault& fault : calls) {
      const bool zero = RunOnce(scenario, {fault}) == 0;
      if (zero && scenario.mode == Mode::kInstall) still_zero.insert(Describe(fault));
    }
    return calls;
  }

  void SweepPairs(const Scenario& scenario, const std::vector<Fault>& calls) {
    for (auto a = calls.begin(); a != calls.end(); ++a) {
      for (auto b = a + 1; b != calls.end(); ++b) {
        if (a->function == b->function && a->use == b->use) continue;  // one call fails once
        RunOnce(scenario, {*a, *b});
        ++pairs_;
      }
    }
  }

  std::vector<std::string> violations_;
  std::set<std::string> functions_;
  size_t uses_ = 0;    // (function, use) swept
  size_t faults_ = 0;  // (function, use, error) swept
  size_t runs_ = 0;
  size_t pairs_ = 0;
};

TEST_F(FailureSweepTest, EveryCallFailingAloneAndInPairsKeepsTheRules) {
  std::set<std::string> still_zero;
  for (const Scenario& scenario : kCompletedRuns)
    SweepPairs(scenario, SweepSingles(scenario, still_zero));
  for (const Scenario& scenario : kFailureRoads) (void)SweepSingles(scenario, still_zero);

  std::cout << "Failure sweep: " << uses_ << " calls (function, use) of " << functions_.size()
            << " functions over 5 runs, failed with " << faults_ << " plausible errors, and "
            << pairs_ << " pairs over the completed runs: " << runs_ << " runs, "
            << violations_.size() << " violations\n";
  for (size_t i = 0; i < violations_.size() && i < 20; ++i) ADD_FAILURE() << violations_[i];
  EXPECT_EQ(violations_.size(), 0u);
  EXPECT_EQ(still_zero, kStillSucceeds);
}

TEST_F(FailureSweepTest, UnknownFunctionIsRefusedAndAnEndlessRunIsStopped) {
  winsim::FailCall("RegOpenKeyEx", 1, ERROR_ACCESS_DENIED);
  winsim::FailCall("Sleep", 1, ERROR_ACCESS_DENIED);
  EXPECT_EQ(winsim::Problems().size(), 2u);

  // With no outcome the watcher waits half an hour of virtual time.
  ResetMachine();
  Machine machine = kFailureRoads[1].machine;
  machine.faults = {{"RegOpenKeyExW", 0, ERROR_ACCESS_DENIED}};
  ArrangeMachine(machine);
  winsim::SetCommandLine(CommandLineOf(Mode::kRelaunch));
  winsim::SetBudget({100000, 10 * 60 * 1000});
  int exit_code = 0;
  EXPECT_THROW((void)DispatchCommandLine(exit_code), winsim::RunStopped);
  ASSERT_EQ(winsim::Problems().size(), 1u);
  EXPECT_NE(winsim::Problems()[0].find("over its budget"), std::string::npos);
  ResetMachine();  // the stopped run leaves its unwinding undone
}

}  // namespace
