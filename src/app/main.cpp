// RemoteUpdater.exe: a windowless GUI-subsystem program, started by the
// product for each update, once in installer mode and once as the relaunch
// watcher.
#include <windows.h>

#include "app/dispatch.h"

namespace {

// Installer mode runs with the service's rights, but it may be started from a
// folder a user can write, so no library may come from that folder. From the
// call below on, libraries come from System32 alone.
//
// It cannot wait for wWinMain: the run-time start-up runs first, and the
// stack-protector guard set-up among its constructors asks the crypto provider
// for random bytes, which loads the provider and the libraries it needs. So
// this runs as a TLS callback, which the loader calls for the executable after
// its load-time imports (kernel32, advapi32, msvcrt) are ready and before the
// entry point and any constructor. Until it returns only those imports may be
// used, and it must not be stack-protected itself: its canary would be checked
// against a guard that is not set up yet.
//
// shell32 and user32 (and what they pull in, such as shcore) are delay-loaded,
// so they load after this too; a load-time import is resolved before any code
// of ours runs.
//
// The oldest Windows the updater starts on is Windows 8 (the PE header says
// 6.2, so an older Windows refuses the file): SetDefaultDllDirectories and
// SetProcessMitigationPolicy are load-time imports from kernel32. The
// image-load policy is known from Windows 10 on; an older one refuses that
// call and the updater goes on with the other two restrictions.
__attribute__((no_stack_protector)) void NTAPI RestrictLibrarySearch(PVOID /*module*/, DWORD reason,
                                                                     PVOID /*reserved*/) noexcept {
  if (reason != DLL_PROCESS_ATTACH) return;
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

// The loader runs the callbacks listed between the run-time's .CRT$XLA and
// .CRT$XLZ markers in name order; .CRT$XLB comes before the run-time's own.
// Nothing refers to this pointer, so it is marked used to keep it in the link.
extern "C" __attribute__((section(".CRT$XLB"), used))
const PIMAGE_TLS_CALLBACK remote_updater_restrict_library_search = RestrictLibrarySearch;

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPWSTR /*command_line*/,
                    int /*show*/) {
  // The command line is read again, whole, by the dispatcher.
  int exit_code = 1;
  if (DispatchCommandLine(exit_code)) return exit_code;
  return 1;
}
