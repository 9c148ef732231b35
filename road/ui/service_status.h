// The product's service as the service manager reports it, which the UI's client asks before
// it trusts the pipe's server.
#pragma once

#include <windows.h>

namespace road {

// The state and host process id of the service "Corvanta Remote"; all 0 when the service
// cannot be queried.
[[nodiscard]] SERVICE_STATUS_PROCESS ServiceStatus() noexcept;

}  // namespace road
