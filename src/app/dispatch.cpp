#include "app/dispatch.h"

#include <windows.h>

#include <shellapi.h>

#include <cwchar>
#include <string>

#include "install/installer_mode.h"
#include "relaunch/relaunch_watcher.h"
#include "shared/unique_handles.h"
#include "shared/updater_contract.h"

using updater_contract::kInstallSwitch;
using updater_contract::kRelaunchSwitch;

bool DispatchCommandLine(int& exit_code) {
  int count = 0;
  // The array is one allocation of the shell's; the strings below are copies.
  const UniqueLocal<LPWSTR> owned_elements(::CommandLineToArgvW(::GetCommandLineW(), &count));
  if (!owned_elements) return false;
  LPWSTR* const elements = owned_elements.get();

  // Switches match as whole strings, case-sensitively.
  const bool relaunch = count == 4 && std::wcscmp(elements[1], kRelaunchSwitch) == 0;
  const bool install = count == 4 && std::wcscmp(elements[1], kInstallSwitch) == 0;
  if (relaunch) {
    const std::wstring process_id_text = elements[2];
    const std::wstring token = elements[3];
    exit_code = RunRelaunchWatcher(process_id_text, token);
  }
  if (install) {
    const std::wstring msi_path = elements[2];
    const std::wstring token = elements[3];
    exit_code = RunInstallerMode(msi_path, token);
  }
  return relaunch || install;
}
