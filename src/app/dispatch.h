// Chooses the mode a process runs from its command line.
#pragma once

// Splits the process command line by the shell's rules and runs the mode it
// names:
//   <program> --edk-remote-install-msi <msi path> <update token>
//   <program> --edk-remote-relaunch <old UI process id> <update token>
// Returns true when a mode ran and stores its 0 or 1 in exit_code. Returns
// false, leaving exit_code untouched, for any other command line (wrong
// element count, unknown or differently cased switch, or one that cannot be
// split); nothing else happens then.
[[nodiscard]] bool DispatchCommandLine(int& exit_code);
