// Any command line through the dispatcher and whichever mode it names, on a
// machine where every wait ends, against the rules every run keeps
// (tests/support/run_rules.h).
//
// Input: one byte choosing the machine, then the command line as text.
#include <windows.h>

#include <shellapi.h>

#include <cstdint>
#include <cwchar>
#include <string>

#include "fuzz_support.h"
#include "shared/unique_handles.h"
#include "support/run_rules.h"

namespace {

constexpr DWORD kInstallerExitCodes[] = {0, 1603, 3010};

struct Arguments {
  Mode mode = Mode::kNone;
  std::wstring token;
};

// The mode the line names, split by the same shell rules the program uses.
Arguments ArgumentsOf(const std::wstring& command_line) {
  winsim::Reset();
  int count = 0;
  const UniqueLocal<LPWSTR> owned(::CommandLineToArgvW(command_line.c_str(), &count));
  const LPWSTR* const elements = owned.get();
  Arguments arguments;
  if (elements != nullptr && count == 4) {
    if (std::wcscmp(elements[1], updater_contract::kInstallSwitch) == 0)
      arguments.mode = Mode::kInstall;
    if (std::wcscmp(elements[1], updater_contract::kRelaunchSwitch) == 0)
      arguments.mode = Mode::kRelaunch;
    arguments.token = elements[3];
  }
  return arguments;
}

// Bit 0: the service runs; bit 1: ProgramFiles is set; bit 2: a copy of the
// product runs; bits 3-4: msiexec ends with 0, 1603, 3010 or cannot start;
// bit 5: the token's record says completed or failed; bit 6: it appears at
// once or after 3 s (for the watcher only); bit 7: the old UI runs until 2 s.
Machine MachineOf(uint8_t choice, const Arguments& arguments) {
  Machine machine;
  if (!(choice & 1u)) machine.service.reset();
  if (!(choice & 2u)) machine.program_files.reset();
  if (choice & 4u) machine.product_copies = {0};
  const unsigned installer_choice = (choice >> 3) & 3u;
  if (installer_choice == 3) machine.faults = {{"CreateProcessW", 1, ERROR_FILE_NOT_FOUND}};
  if (installer_choice < 3) machine.installer_exit = kInstallerExitCodes[installer_choice];
  const std::wstring outcome =
      (choice & 32u) ? std::wstring(updater_contract::kCompletedOutcome) : FailedOutcome(L"x");
  if (arguments.mode == Mode::kRelaunch) {
    machine.record = {{(choice & 64u) ? 3000u : 0u, StatusRecordText(arguments.token, outcome)}};
  }
  if (choice & 128u) machine.old_ui_exits_at_ms = 2000;
  return machine;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::wstring command_line = WideTextOf(data + 1, size - 1);
  const Arguments arguments = ArgumentsOf(command_line);
  ResetMachine();
  const UpdaterRun run =
      RunUpdater(MachineOf(data[0], arguments), command_line, arguments.mode, arguments.token);
  for (const std::string& rule : BrokenRules(run)) Require(false, rule);
  return 0;
}
