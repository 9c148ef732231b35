// Ending the running copies of the product's application executable before
// its files are replaced.
#pragma once

#include <string>

// Ends every running process whose file name is "Corvanta Remote.exe" and
// whose image path is the product executable path (both compared with only
// ASCII letters folded), and waits up to 10000 ms for each to exit. Copies
// started from any other folder keep running.
//
// Every candidate is inspected before anything is ended: if one cannot be
// inspected, nothing is ended. Copies are then ended in snapshot order with
// exit code 0; the first one that cannot be ended or does not exit stops the
// loop and leaves the later ones running.
//
// `failure_reason` must be empty on entry. On failure it is replaced by one
// short reason text and false is returned; true means it is still empty.
[[nodiscard]] bool StopProductProcesses(std::wstring& failure_reason);
