// Relaunch watcher: --edk-remote-relaunch <old UI process id> <update token>.
#pragma once

#include <string>

// Waits for the old UI process to end and for the token's outcome, starts the
// product executable again and logs each step beside this executable.
// Returns 0 only when the product was started after a completed update.
[[nodiscard]] int RunRelaunchWatcher(const std::wstring& process_id_text,
                                     const std::wstring& token);
