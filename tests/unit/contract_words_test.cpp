// The updater's contract as other programs and people read it: every switch, name, outcome
// text and log line of shared/updater_contract.h written out here once more, by hand. The
// rest of the tests form their expectations from the header; this one holds it to its words,
// so that a slip of one letter there fails here.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "shared/updater_contract.h"

namespace {

using namespace updater_contract;

struct Word {
  const char* name;
  std::wstring in_header, spelt;
};

std::wstring Wide(const char* text) { return std::wstring(text, text + std::strlen(text)); }

TEST(ContractWordsTest, EveryWordOfTheContractReadsAsPromised) {
  const Word words[] = {
      {"install switch", kInstallSwitch, L"--edk-remote-install-msi"},
      {"relaunch switch", kRelaunchSwitch, L"--edk-remote-relaunch"},
      {"status key", kStatusKeyPath, L"SOFTWARE\\Corvanta\\RemoteUpdater"},
      {"status value", kStatusValueName, L"Status"},
      {"record separator", kRecordSeparator, L"|"},
      {"completed", kCompletedOutcome, L"completed"},
      {"failed keyword", kFailedKeyword, L"failed:"},
      {"restart prefix", kRestartFailedPrefix,
       L"failed:Remote service could not restart; installation result: "},
      {"restart required", kRestartRequiredReason, L"Windows restart required"},
      {"installer exit", kInstallerExitReason, L"MSI exit "},
      {"log path separator", kLogPathSeparator, L"; log: "},
      {"product folder", kProductFolderName, L"Corvanta Remote"},
      {"product executable", kProductExecutableName, L"Corvanta Remote.exe"},
      {"service", kServiceName, L"Corvanta Remote"},
      {"updater", kUpdaterFileName, L"RemoteUpdater.exe"},
      {"log suffix", kLogSuffix, L".log"},
      {"watcher waiting", Wide(kWatcherWaiting), L"Waiting for update completion and old UI exit"},
      {"watcher failed early", Wide(kWatcherFailedEarly), L"Update failed before old UI exited"},
      {"watcher launch", Wide(kWatcherLaunchPid), L"Launch PID="},
      {"watcher launch exit", Wide(kWatcherLaunchExit), L" exit="},
      {"watcher create failed", Wide(kWatcherCreateFailed), L"CreateProcess failed: "},
      {"watcher gave up", Wide(kWatcherGaveUp),
       L"Relaunch watcher ended without launching the application"},
  };
  for (const Word& word : words) EXPECT_EQ(word.in_header, word.spelt) << word.name;
}

}  // namespace
