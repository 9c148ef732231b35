#include "bench/timed_updates.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "bench/measurement.h"
#include "bench/update_observer.h"
#include "common/log_tail.h"
#include "common/process_image.h"
#include "common/watcher_launch.h"
#include "contract/road_contract.h"
#include "shared/product_location.h"
#include "shared/status_record_text.h"
#include "shared/updater_contract.h"
#include "win/process_start.h"

namespace bench {

namespace {

using road::QuoteArgument;

void PrintRelaunchedVersion(DWORD pid) {
  const std::wstring version = pid == 0 ? L"" : tools::SeeProgram(pid).version;
  std::wprintf(L"relaunched-version=%ls\n", version.empty() ? L"none" : version.c_str());
}

// "<updater> <switch> <argument> <token>", as the product starts either mode.
[[nodiscard]] std::wstring ModeCommand(const std::wstring& updater, const wchar_t* mode_switch,
                                       const std::wstring& argument, const std::wstring& token) {
  return QuoteArgument(updater) + L" " + mode_switch + L" " + argument + L" " + token;
}

}  // namespace

std::wstring InstallerModeCommand(const std::wstring& updater, const std::wstring& package) {
  return ModeCommand(updater, updater_contract::kInstallSwitch, QuoteArgument(package),
                     FreshToken());
}

std::wstring ScriptCommand(const std::wstring& script, const std::wstring& package) {
  namespace contract = updater_contract;
  std::wstring command = L"cmd.exe /c " + QuoteArgument(script);
  for (const std::wstring& argument :
       {package, FreshToken(), std::wstring(contract::kServiceName),
        std::wstring(road::kServiceProgramName), std::wstring(contract::kProductExecutableName),
        std::wstring(contract::kStatusKeyPath), std::wstring(contract::kStatusValueName)}) {
    command += L" " + QuoteArgument(argument);
  }
  // The record after its token. Quoted always: cmd.exe would take a bare | for a pipe.
  return command + L" \"" + StatusRecordText(/*token=*/L"", contract::kCompletedOutcome) + L"\"";
}

int TimeObserved(const std::wstring& command, DWORD ui_pid) {
  UpdateObserver observer(ui_pid);
  if (!observer.Ready()) {
    std::wprintf(L"setup-failed=cannot observe the service, the UI program or the record\n");
    return 1;
  }
  Moments moments;
  const Clock clock;
  const UniqueHandle process = Start(nullptr, command);
  if (!process) return 1;
  const double total = observer.Follow(clock, process.get(), moments);
  if (total < 0) return 1;
  PrintMs(L"total", total);
  std::wprintf(L"exit=%lu\n", ExitCodeOf(process.get()));
  moments.Print();
  return 0;
}

int TimeWholeUpdate(const std::wstring& updater, const std::wstring& package, DWORD ui_pid) {
  const std::wstring token = FreshToken();
  const Clock clock;
  const UniqueHandle installer =
      Start(nullptr,
            ModeCommand(updater, updater_contract::kInstallSwitch, QuoteArgument(package), token));
  const UniqueHandle watcher = Start(
      nullptr,
      ModeCommand(updater, updater_contract::kRelaunchSwitch, std::to_wstring(ui_pid), token));
  if (!installer || !watcher) return 1;
  const HANDLE both[] = {installer.get(), watcher.get()};
  if (::WaitForMultipleObjects(2, both, /*wait_all=*/TRUE, kGiveUpMs) != WAIT_OBJECT_0) {
    PrintGaveUp(L"installer mode and the relaunch watcher to end");
    return 1;
  }
  PrintMs(L"total", clock.Ms());
  std::wprintf(L"exit=%lu\nwatcher-exit=%lu\n", ExitCodeOf(installer.get()),
               ExitCodeOf(watcher.get()));
  tools::LogTail log(updater + updater_contract::kLogSuffix, /*from_start=*/true);
  PrintRelaunchedVersion(tools::LastLaunchedPid(log.NewLines()));
  return 0;
}

int TimeWholeScript(const std::wstring& script, const std::wstring& package) {
  const std::wstring program = ProductExecutablePath();
  if (program.empty()) {
    std::wprintf(L"setup-failed=%%ProgramFiles%% is not set\n");
    return 1;
  }
  const std::wstring folder = program.substr(0, program.find_last_of(L'\\'));
  const Clock clock;
  const UniqueHandle process = Start(nullptr, ScriptCommand(script, package));
  if (!process || !WaitFor(process.get(), L"the script to end")) return 1;
  const UniqueHandle ui = Start(program.c_str(), QuoteArgument(program), folder.c_str());
  if (!ui) return 1;
  if (::WaitForInputIdle(ui.get(), kGiveUpMs) != 0) {
    PrintGaveUp(L"the started UI program to be input-idle");
    return 1;
  }
  PrintMs(L"total", clock.Ms());
  std::wprintf(L"exit=%lu\n", ExitCodeOf(process.get()));
  PrintRelaunchedVersion(::GetProcessId(ui.get()));
  return 0;
}

}  // namespace bench
