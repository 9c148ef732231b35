// The product's Windows service "Corvanta Remote": stopped before the package
// is installed and started again afterwards, whatever the installation did.
#pragma once

#include <string>

// Sends the service one stop request (unless it is stopped or stopping
// already) and polls its status up to 300 times, 100 ms apart, until it
// reports stopped; then waits up to 10000 ms for the host process it
// reported while stopping. Returns true when the service is stopped and that
// process, if one was seen and could be opened, has exited. Returns false
// when the service cannot be opened, queried or stopped in time.
[[nodiscard]] bool StopRemoteService();

// Starts the service (one request; "already running" is accepted) and polls
// its status up to 300 times, 100 ms apart, until it runs. Then publishes
// exactly one record for `token`: `outcome` unchanged when the service runs,
// otherwise "failed:Remote service could not restart; installation result: "
// followed by `outcome`. Returns true when the service was seen running,
// whether or not the record could be written.
[[nodiscard]] bool RestartRemoteServiceAndPublish(const std::wstring& token,
                                                  const std::wstring& outcome);
