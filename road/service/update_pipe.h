// The service's end of the update channel, \\.\pipe\CorvantaRemoteUpdate (road_contract.h).
#pragma once

#include <windows.h>

#include "service/service_log.h"
#include "shared/unique_handles.h"

namespace road {

// Called on the pipe thread after each answer is formed and before it is sent; may be null.
using BeforeAnswer = void (*)();

// Starts a thread that serves the pipe until `stop` is signalled: one client at a time, one
// request line, one answer line (update_requests.h), each step noted in `log`. Returns the
// thread, to be waited for after `stop` and before `log` goes; empty when the thread cannot
// start.
[[nodiscard]] UniqueHandle StartUpdatePipeThread(HANDLE stop, const ServiceLog& log,
                                                 BeforeAnswer before_answer) noexcept;

}  // namespace road
