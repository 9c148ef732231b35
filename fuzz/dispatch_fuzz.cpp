// Any command line through the dispatcher and whichever mode it names, on a
// machine where every wait ends. Afterwards no handle is open and nothing was
// misused; a line naming no mode did nothing; installer mode published one
// outcome its token's watcher recognises and ended with 0 only when that
// outcome is "completed"; the watcher wrote no record.
//
// Input: one byte choosing the machine, then the command line as text.
#include <windows.h>

#include <shellapi.h>

#include <cstdint>
#include <cwchar>
#include <string>

#include "app/dispatch.h"
#include "fuzz_support.h"
#include "shared/unique_handles.h"
#include "shared/update_status.h"

namespace {

constexpr wchar_t kStatusKey[] = L"SOFTWARE\\Corvanta\\RemoteUpdater";
constexpr wchar_t kProgramFiles[] = L"C:\\Program Files";
constexpr wchar_t kProduct[] = L"C:\\Program Files\\Corvanta Remote\\Corvanta Remote.exe";
constexpr wchar_t kMsiexec[] = L"C:\\Windows\\system32\\msiexec.exe";
constexpr DWORD kOldUiPid = 4242;
constexpr DWORD kInstallerExitCodes[] = {0, 1603, 3010};
constexpr uint64_t kLongestRunMs = 60ull * 60 * 1000;

enum class Mode { kNone, kInstall, kRelaunch };

struct Arguments {
  Mode mode = Mode::kNone;
  std::wstring token;
};

// The mode the line names, split by the same shell rules the program uses.
Arguments ArgumentsOf(const std::wstring& command_line) {
  winsim::Reset();
  winsim::SetCommandLine(command_line);
  int count = 0;
  const UniqueLocal<LPWSTR> owned(::CommandLineToArgvW(::GetCommandLineW(), &count));
  const LPWSTR* const elements = owned.get();
  Arguments arguments;
  if (elements != nullptr && count == 4) {
    if (std::wcscmp(elements[1], L"--edk-remote-install-msi") == 0) arguments.mode = Mode::kInstall;
    if (std::wcscmp(elements[1], L"--edk-remote-relaunch") == 0) arguments.mode = Mode::kRelaunch;
    arguments.token = elements[3];
  }
  return arguments;
}

// Bit 0: the service runs; bit 1: ProgramFiles is set; bit 2: a copy of the
// product runs; bits 3-4: msiexec ends with 0, 1603, 3010 or cannot start;
// bit 5: the token's record says completed or failed; bit 6: it appears at
// once or after 3 s (for the watcher only); bit 7: the old UI runs until 2 s.
void ArrangeMachine(uint8_t choice, const Arguments& arguments) {
  if (choice & 1u) {
    winsim::ServiceSpec service;
    service.name = L"Corvanta Remote";
    winsim::AddService(service);
  }
  if (choice & 2u) winsim::SetEnvironment(L"ProgramFiles", kProgramFiles);
  if (choice & 4u) {
    winsim::ProcessSpec copy;
    copy.exe_name = L"Corvanta Remote.exe";
    copy.image_path = kProduct;
    winsim::AddProcess(copy);
  }
  winsim::LaunchScript installer;
  const unsigned installer_choice = (choice >> 3) & 3u;
  if (installer_choice == 3) installer.create_error = ERROR_FILE_NOT_FOUND;
  if (installer_choice < 3) installer.exit_code = kInstallerExitCodes[installer_choice];
  installer.exit_after_ms = 4000;
  winsim::ScriptLaunches(kMsiexec, {installer});

  const std::wstring record =
      arguments.token + ((choice & 32u) ? L"|completed" : L"|failed:MSI exit 1603");
  const auto publish = [record] { winsim::SetRegistryString(kStatusKey, L"Status", record); };
  if (arguments.mode == Mode::kRelaunch && (choice & 64u)) winsim::At(3000, publish);
  if (arguments.mode == Mode::kRelaunch && !(choice & 64u)) publish();
  if (choice & 128u) {
    winsim::ProcessSpec old_ui;
    old_ui.pid = kOldUiPid;
    old_ui.exe_name = L"Corvanta Remote.exe";
    old_ui.image_path = kProduct;
    old_ui.exits_at_ms = 2000;
    winsim::AddProcess(old_ui);
  }
}

// Only the reading and split of the line and the release of its array.
bool OnlySplitTheLine() {
  for (const winsim::Call& call : winsim::Journal()) {
    if (call.function != "GetCommandLineW" && call.function != "CommandLineToArgvW" &&
        call.function != "LocalFree") {
      return false;
    }
  }
  return true;
}

void CheckInstallerMode(int exit_code, const std::wstring& token) {
  Require(winsim::CallsTo("RegSetValueExW").size() == 1, "installer mode did not publish once");
  const std::wstring record = winsim::GetRegistryString(kStatusKey, L"Status").value_or(L"");
  const UpdateOutcome outcome = OutcomeForToken(record, token);
  Require(outcome != UpdateOutcome::kNone, "the token's watcher cannot read the outcome");
  Require(exit_code == 1 || outcome == UpdateOutcome::kCompleted, "0 after a failed update");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::wstring command_line = WideTextOf(data + 1, size - 1);
  const Arguments arguments = ArgumentsOf(command_line);
  winsim::Reset();
  winsim::SetCommandLine(command_line);
  ArrangeMachine(data[0], arguments);

  int exit_code = 77;
  const bool dispatched = DispatchCommandLine(exit_code);
  RequireHealthyWorld();
  Require(winsim::NowMs() <= kLongestRunMs, "the run took more than an hour");
  Require(dispatched == (arguments.mode != Mode::kNone), "the mode run is not the one named");
  if (!dispatched) {
    Require(exit_code == 77 && OnlySplitTheLine(), "a line naming no mode did something");
    return 0;
  }
  Require(exit_code == 0 || exit_code == 1, "exit code " + std::to_string(exit_code));
  if (arguments.mode == Mode::kInstall) CheckInstallerMode(exit_code, arguments.token);
  if (arguments.mode == Mode::kRelaunch) {
    Require(winsim::CallsTo("RegSetValueExW").empty(), "the watcher wrote the record");
  }
  return 0;
}
