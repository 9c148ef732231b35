// The package's custom actions, in a DLL the package carries in its Binary table
// (CorvantaServiceActions.dll, msi/product.wxs). The Windows Installer calls each entry with
// the installation's handle, as LocalSystem when the action is deferred without impersonation.
//
// Why a DLL: an executable run as LocalSystem by a repair, which a standard user may start for
// a per-machine product, opens its console window on that user's desktop, and a console can
// start anything. A DLL runs inside the installer's own process and shows nothing.
#pragma once

#include <windows.h>

#include <msi.h>

extern "C" {

// Starts the service "Corvanta Remote" (road::kServiceName) and returns at once, without
// waiting for it to run. Always returns ERROR_SUCCESS: a service that does not start must not
// fail the repair that runs this; why it did not start goes to the installer's log.
__declspec(dllexport) UINT __stdcall StartRemoteService(MSIHANDLE installation) noexcept;

// Returns ERROR_INSTALL_FAILURE and does nothing else: the fail-late test package's last
// action, which makes the Windows Installer roll the whole installation back.
__declspec(dllexport) UINT __stdcall FailInstallation(MSIHANDLE installation) noexcept;
}
