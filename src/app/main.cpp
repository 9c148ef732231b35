// RemoteUpdater.exe: a windowless GUI-subsystem program, started by the
// product for each update, once in installer mode and once as the relaunch
// watcher.
#include <windows.h>

#include "app/dispatch.h"

namespace {

// Installer mode runs with the service's rights, but it may be started from a
// folder a user can write. From here on libraries come from System32 alone.
// This holds for shell32 and user32 (and what they pull in, such as shcore)
// only because they are delay-loaded: a load-time import is resolved before
// wWinMain runs. An older Windows may refuse a call; the updater then goes on
// as it always did.
void RestrictLibrarySearch() noexcept {
  (void)::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  // Also keeps the current folder out of the search of the programs started
  // from here: msiexec and the relaunched product.
  (void)::SetDllDirectoryW(L"");
  PROCESS_MITIGATION_IMAGE_LOAD_POLICY policy{};
  policy.NoRemoteImages = 1;
  policy.NoLowMandatoryLabelImages = 1;
  policy.PreferSystem32Images = 1;
  (void)::SetProcessMitigationPolicy(ProcessImageLoadPolicy, &policy, sizeof(policy));
}

}  // namespace

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPWSTR /*command_line*/,
                    int /*show*/) {
  RestrictLibrarySearch();
  // The command line is read again, whole, by the dispatcher.
  int exit_code = 1;
  if (DispatchCommandLine(exit_code)) return exit_code;
  return 1;
}
