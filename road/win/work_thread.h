// Work that runs on a thread of its own, so that a wait on a file a user holds delays that
// thread alone: its caller waits for it within a bound, or not at all.
#pragma once

#include <windows.h>

#include <functional>

#include "shared/unique_handles.h"

namespace road {

// Starts `work` on a thread of its own, which owns it from then on; empty, `work` not run,
// when no thread can start. The thread may outlive every wait for it: whatever `work` uses
// must be its own (copies, or shares of shared_ptr), never a caller's local.
[[nodiscard]] UniqueHandle StartWorkThread(std::function<void()> work) noexcept;

// Runs `work` on a thread of its own (StartWorkThread) and waits for it `timeout_ms` at most,
// calling `progress` about once a second meanwhile when it is given. True when it ended within
// the wait; false when it runs on, or could not start.
[[nodiscard]] bool RunWithin(std::function<void()> work, DWORD timeout_ms,
                             void (*progress)() = nullptr) noexcept;

}  // namespace road
