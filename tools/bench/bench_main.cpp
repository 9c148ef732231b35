// sample-bench.exe: times one update of the sample product, for scripts/bench. Each mode does
// one measurement on a machine with version 1 installed, its service running and its UI
// program open (pid <ui-pid>), and prints key=value lines, times in milliseconds since time
// zero with three decimals:
//
//   sample-bench.exe installer <updater> <package> <ui-pid>
//       installer mode alone: starts "<updater> --edk-remote-install-msi <package> <token>"
//   sample-bench.exe work <package> <ui-pid>
//       the unavoidable work, done here (unavoidable_work.h); afterwards, outside the total,
//       how long writing a record takes (publish-ms)
//   sample-bench.exe script <script> <package> <ui-pid>
//       the batch script: cmd /c <script> <package> <token>
//   sample-bench.exe update <updater> <package> <ui-pid>
//       the whole update: both updater modes side by side, until both have ended
//   sample-bench.exe update-script <script> <package> <ui-pid>
//       the whole update by script: the script, then the program started and input-idle
//
// Printed: total-ms and exit (the process timed, or the msiexec code for "work"); for every
// mode but the whole updates also the moments host-ended-ms (the service's host process),
// ui-ended-ms, msiexec-started-ms, msiexec-ended-ms, running-ms (the service runs again) and,
// where one is written, record-ms (update_observer.h); for the whole updates
// relaunched-version (the version of the UI program last started).
// No wait lasts longer than two minutes: one that runs out prints "gave-up=<what it waited
// for>" instead of a total.
// Exit code 0 when the measurement ran, 1 when it could not be set up or gave up, 2 on a
// usage error.

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "bench/timed_updates.h"
#include "bench/unavoidable_work.h"
#include "win/text_conversion.h"

namespace {

int Usage() {
  std::fwprintf(stderr,
                L"usage: sample-bench.exe installer|update <updater> <package> <ui-pid>\n"
                L"       sample-bench.exe script|update-script <script> <package> <ui-pid>\n"
                L"       sample-bench.exe work <package> <ui-pid>\n");
  return 2;
}

// Runs the measurement that `mode` names with the two arguments before the UI program's id;
// 2 when there is no such mode.
int Measure(const std::wstring& mode, const std::wstring& program, const std::wstring& package,
            DWORD ui_pid) {
  if (mode == L"installer") {
    return bench::TimeObserved(bench::InstallerModeCommand(program, package), ui_pid);
  }
  if (mode == L"script") return bench::TimeObserved(bench::ScriptCommand(program, package), ui_pid);
  if (mode == L"update") return bench::TimeWholeUpdate(program, package, ui_pid);
  if (mode == L"update-script") return bench::TimeWholeScript(program, package);
  return Usage();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  DWORD ui_pid = 0;
  if (argc < 4 || !road::ParseDword(argv[argc - 1], ui_pid)) return Usage();
  const std::wstring mode = argv[1];
  int result = 2;
  if (argc == 4 && mode == L"work") {
    result = bench::TimeUnavoidableWork(argv[2], ui_pid);
  } else if (argc == 5 && mode != L"work") {
    result = Measure(mode, argv[2], argv[3], ui_pid);
  } else {
    return Usage();
  }
  std::fflush(stdout);
  return result;
}
