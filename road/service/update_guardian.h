// The update's guardian: a process of the service's own program that watches installer mode
// from its start until the service runs again, so that an update that dies half-way (installer
// mode or msiexec killed, the service's one restart failing) does not leave the service, and
// with it the machine's remote access, stopped until the next restart of Windows.
//
// It runs as LocalSystem, started by the service beside installer mode (guarded_start.h), from
// the staging folder: nothing of the product's folder is in use while msiexec replaces it. It
// holds no handle of the service across a look, nor of the product's folder, and grants
// nobody anything. It writes to the service log, where an administrator already reads what
// became of each update: a log of its own would be one more file to find and to protect.
#pragma once

#include <windows.h>

namespace road {

// Whether `argv` asks for the guardian: its first argument is kGuardSwitch. The product's
// service then calls RunUpdateGuardian instead of turning to the service manager.
[[nodiscard]] bool AsksForGuardian(int argc, wchar_t** argv) noexcept;

// Runs as "<staged copy> --guard-update <handle> <token>", <handle> being installer mode's
// process, inherited. Waits until installer mode has ended, however it ends, and the msiexec
// it started too; then, while the service does not run, starts it as DecideGuardianStep says:
// at most kGuardianMaxStarts starts, and within kGuardianBoundMs of the installation's end it
// runs or the guardian gives up. Each step goes to the service log, its lines begun by
// kGuardianLinePrefix, the token and ": ". Once a start of its own has made the service run,
// it writes the token as kServiceRestoredValueName under kRoadKeyPath. Returns the exit code:
// 0 once the service runs or a newer update is under way, 1 when it gave up or could not wait
// for installer mode, 2 for any other command line, nothing done.
[[nodiscard]] int RunUpdateGuardian(int argc, wchar_t** argv);

}  // namespace road
