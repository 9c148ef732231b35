// The work that any update of the product must do, done by the bench itself in the updater's
// order with each step waited for as tightly as it can be: the yardstick of installer mode.
#pragma once

#include <windows.h>

#include <string>

namespace bench {

// Stops the service and waits for its host process, ends the UI program `ui_pid`, runs msiexec
// on `package` with the updater's own command line, starts the service and waits until it
// runs; nothing else is checked. Prints total-ms (the service runs), exit (msiexec's code) and
// the moments; then, outside the total, writes a record with the updater's own writer and
// prints how long that took (publish-ms). Returns 0 when it ran, 1 when a step failed or a wait
// gave up.
[[nodiscard]] int TimeUnavoidableWork(const std::wstring& package, DWORD ui_pid);

}  // namespace bench
