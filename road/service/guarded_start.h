// Starting installer mode under the watch of the update's guardian (update_guardian.h).
#pragma once

#include <windows.h>

#include <string>

#include "service/service_log.h"
#include "shared/unique_handles.h"

namespace road {

// Starts installer mode, the updater staged in `staging` with `arguments`, suspended; then the
// guardian staged beside it (kGuardianFileName) for `token`, which inherits a handle to
// installer mode that can only wait for it and read its exit code, and no other handle; then
// lets installer mode run. Since the guardian holds its handle before installer mode runs an
// instruction, no end of installer mode escapes it. Returns installer mode's process; empty,
// noted in `log`, when either cannot start, installer mode then ended before it ran.
[[nodiscard]] UniqueHandle StartGuardedInstallerMode(const std::wstring& staging,
                                                     const std::wstring& arguments,
                                                     const std::wstring& token,
                                                     const ServiceLog& log);

}  // namespace road
