// sample-apply-update.exe: a user's click on "Apply update" in the running UI program, and the
// update that follows, watched from outside. The update goes the product's own road: the UI
// asks the service to stage the package, starts the relaunch watcher and asks the service to
// start installer mode.
//
// Usage:
//   sample-apply-update.exe --ui-pid <pid> [--timeout-ms <ms>] [--check-first]
//   sample-apply-update.exe --where
//
// With --where it only prints where the road's files are, as the service finds them:
// incoming=<Incoming folder>, staging=<Staging folder> and service-log=<the service's log>.
//
// With --check-first it first clicks "Check for updates" and follows the service's check of the
// feed and its download, noting each status it answers, until a package is ready to install
// (ready=<version> is printed; it ends with 1 if none is within the time-out).
//
// Follows the update until installer mode and the relaunch watcher have both ended, the
// service refused, or the time-out (300000 ms by default) ran out, printing every change seen
// as a line "+<seconds> s  <event>" (see update_timeline.h). Then prints answer=<the service's
// answer>, token=, installer-exit=, watcher-exit= (full 32-bit codes; empty when not seen),
// record=<update status record> and relaunched=<pid>|<version>|<image path> of the program the
// watcher's log says it started (empty when it names none).
// Ends with 0 when both processes ran and ended, 1 otherwise, 2 on a usage error.

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <optional>
#include <string>

#include "apply_update/road_follower.h"
#include "apply_update/update_timeline.h"
#include "apply_update/updater_label.h"
#include "contract/road_contract.h"
#include "contract/road_paths.h"
#include "shared/updater_contract.h"
#include "ui/ui_window.h"
#include "win/text_conversion.h"

namespace {

[[nodiscard]] std::wstring ExitText(const std::optional<DWORD>& code) {
  return code ? std::to_wstring(*code) : L"";
}

[[nodiscard]] std::wstring RelaunchedText(const tools::ProgramSeen& seen) {
  if (seen.pid == 0) return L"";
  return std::to_wstring(seen.pid) + L"|" + seen.version + L"|" + seen.image;
}

// Reads "--ui-pid <pid> [--timeout-ms <ms>] [--check-first]"; false on anything else.
[[nodiscard]] bool ParseOptions(int argc, wchar_t** argv, DWORD& ui_pid, DWORD& timeout_ms,
                                bool& check_first) {
  check_first = argc > 1 && std::wstring(argv[argc - 1]) == L"--check-first";
  if (check_first) --argc;
  bool usage_ok = argc == 3 || argc == 5;
  for (int i = 1; usage_ok && i + 1 < argc; i += 2) {
    const std::wstring option = argv[i];
    DWORD* target = option == L"--ui-pid"       ? &ui_pid
                    : option == L"--timeout-ms" ? &timeout_ms
                                                : nullptr;
    usage_ok = target != nullptr && road::ParseDword(argv[i + 1], *target);
  }
  return usage_ok && ui_pid != 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && std::wstring(argv[1]) == L"--where") {
    std::wprintf(L"incoming=%ls\nstaging=%ls\nservice-log=%ls\n", road::IncomingFolder().c_str(),
                 road::StagingRoot().c_str(), road::ServiceLogPath().c_str());
    return 0;
  }
  DWORD ui_pid = 0;
  DWORD timeout_ms = 300000;
  bool check_first = false;
  if (!ParseOptions(argc, argv, ui_pid, timeout_ms, check_first)) {
    std::fwprintf(stderr,
                  L"usage: sample-apply-update.exe --ui-pid <pid> [--timeout-ms <ms>] "
                  L"[--check-first] | --where\n");
    return 2;
  }
  apply_update::UpdateTimeline timeline;
  timeline.Look();  // the state before the click
  const std::wstring ui =
      std::wstring(updater_contract::kProductExecutableName) + L" pid " + std::to_wstring(ui_pid);
  if (check_first) {
    if (!sample::ClickButton(ui_pid, sample::kCheckForUpdatesCommand, 10000)) {
      timeline.Note(L"user: no window of the UI program " + ui);
      return 1;
    }
    timeline.Note(L"user: clicked Check for updates in " + ui);
    const std::wstring ready = apply_update::FollowFeed(timeline, timeout_ms);
    std::wprintf(L"ready=%ls\n", ready.c_str());
    if (ready.empty()) return 1;
  }
  if (!sample::ClickApplyUpdate(ui_pid, 10000)) {
    timeline.Note(L"user: no window of the UI program " + ui);
    return 1;
  }
  timeline.Note(L"user: clicked Apply update in " + ui);
  const apply_update::RoadOutcome outcome = apply_update::FollowRoad(timeline, timeout_ms);
  const std::optional<DWORD> installer = timeline.EndedExitCode(apply_update::kInstallerLabel);
  const std::optional<DWORD> watcher = timeline.EndedExitCode(apply_update::kWatcherLabel);
  std::wprintf(
      L"answer=%ls\ntoken=%ls\ninstaller-exit=%ls\nwatcher-exit=%ls\nrecord=%ls\n"
      L"relaunched=%ls\n",
      outcome.answer.c_str(), outcome.token.c_str(), ExitText(installer).c_str(),
      ExitText(watcher).c_str(), timeline.Record().c_str(),
      RelaunchedText(timeline.Relaunched()).c_str());
  return installer && watcher ? 0 : 1;
}
