// When the service looks at the feed: at its start, then every few hours with a random
// spread, sooner after a failure (with back-off), and at once when a client asks.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "feed/retry_backoff.h"
#include "service/check_board.h"
#include "service/service_log.h"
#include "service/update_check.h"
#include "shared/unique_handles.h"

namespace road {

struct CheckSchedule {
  // The first check comes this long after the start, and a random time below the spread
  // later, so that a fleet started at one moment (after the same patch day) does not ask at one
  // moment.
  std::uint64_t first_delay_ms = 0;
  std::uint64_t first_spread_ms = 60'000;
  // Between checks that ended: the interval, plus or minus a random part of the spread.
  std::uint64_t interval_ms = 4ULL * 3'600'000;
  std::uint64_t spread_ms = 3'600'000;
  // After a check that failed on the network or the server.
  RetryBackoff backoff;
  // The shortest time from the end of a check to one a client asked for: clients may ask as
  // often as they like, the feed's server is asked once in a while.
  std::uint64_t asked_gap_ms = 10'000;
  // How long the download waits on the network.
  FetchTimeouts timeouts;
};

// The wait before the next check after `result`, `failures` being the checks failed in a row
// (0 after one that did not fail); `draw` is a random number in [0, 1). Pure.
[[nodiscard]] std::uint64_t NextCheckDelayMs(const CheckSchedule& schedule,
                                             const CheckResult& result, unsigned failures,
                                             double draw) noexcept;

// What to check, read afresh before each check (the policy may change); nothing while updates
// are turned off.
using CheckSettingsSource = std::function<std::optional<CheckSettings>()>;

// What the administrator's policy says to check (update_policy.h), its notes written to `log`:
// the policy's feed or the built-in one, its channel and version prefix; nothing when it turns
// updates off.
[[nodiscard]] std::optional<CheckSettings> CheckSettingsFromPolicy(const ServiceLog& log);

// Called on the checking thread after each check, with what was checked.
using AfterCheck = std::function<void(const CheckSettings&)>;

// While a package waits to be applied automatically (outside the policy's window, or while a
// user interface runs), the checking thread looks again this often.
inline constexpr std::uint64_t kAutomaticApplyLookMs = 10ULL * 60'000;

// Starts the thread that checks on `schedule` until `stop` is signalled, and whenever
// `board` says a client asked; `after_check` (may be empty) follows each check. The thread keeps
// its own duplicate of `stop`, its own copy of `log` and a share of `board`: nobody needs to wait
// for it, and the service's stop never waits on the network. Empty when it cannot start.
[[nodiscard]] UniqueHandle StartCheckThread(HANDLE stop, const ServiceLog& log,
                                            std::shared_ptr<CheckBoard> board,
                                            CheckSettingsSource settings,
                                            const CheckSchedule& schedule,
                                            AfterCheck after_check) noexcept;

}  // namespace road
