#include "service/check_schedule.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>

#include "service/update_policy.h"
#include "win/road_handles.h"
#include "win/work_thread.h"

namespace road {

namespace {

// A random number in [0, 1).
[[nodiscard]] double Draw() {
  static thread_local std::mt19937_64 generator{std::random_device{}()};
  return std::uniform_real_distribution<double>(0.0, 1.0)(generator);
}

// Waits `delay_ms` (at most a DWORD's worth at a time), or until a client asks for a check;
// false once `stop` is signalled.
[[nodiscard]] bool WaitForNextCheck(HANDLE stop, HANDLE asked, std::uint64_t delay_ms) {
  const HANDLE events[] = {stop, asked};
  const DWORD count = asked != nullptr ? 2 : 1;
  for (;;) {
    const auto slice = static_cast<DWORD>(std::min<std::uint64_t>(delay_ms, INFINITE - 1));
    const DWORD woke = ::WaitForMultipleObjects(count, events, /*wait_all=*/FALSE, slice);
    if (woke == WAIT_OBJECT_0) return false;
    if (woke != WAIT_TIMEOUT || slice == delay_ms) return true;
    delay_ms -= slice;
  }
}

// The status while the policy turns updates off.
constexpr char kUpdatesOffReason[] = "updates are turned off by the administrator";

struct CheckThreadArguments {
  UniqueHandle stop;
  ServiceLog log;
  std::shared_ptr<CheckBoard> board;
  CheckSettingsSource settings;
  CheckSchedule schedule;
  AfterCheck after_check;
};

void CheckOnSchedule(const CheckThreadArguments& arguments) {
  const HANDLE stop = arguments.stop.get();
  std::uint64_t delay_ms =
      arguments.schedule.first_delay_ms +
      static_cast<std::uint64_t>(Draw() * static_cast<double>(arguments.schedule.first_spread_ms));
  unsigned failures = 0;
  ULONGLONG last_ended = 0;
  while (WaitForNextCheck(stop, arguments.board->CheckAsked(), delay_ms)) {
    // Clients may ask as often as they like; the feed's server is asked once in a while.
    const ULONGLONG since = ::GetTickCount64() - last_ended;
    const std::uint64_t gap = arguments.schedule.asked_gap_ms;
    if (last_ended != 0 && since < gap &&
        ::WaitForSingleObject(stop, static_cast<DWORD>(gap - since)) == WAIT_OBJECT_0) {
      return;
    }
    std::optional<CheckSettings> settings = arguments.settings();
    if (settings) settings->timeouts = arguments.schedule.timeouts;
    CheckResult result;
    if (settings) {
      result = CheckForUpdate(*settings, *arguments.board, stop, arguments.log);
    } else {
      arguments.board->ShowRefused(kUpdatesOffReason);
      // A package an administrator copied in is still offered.
      SortIncoming(*arguments.board, arguments.log);
    }
    if (result.kind == CheckResult::Kind::kStopped) return;
    last_ended = ::GetTickCount64();
    failures = result.kind == CheckResult::Kind::kRetry ? failures + 1 : 0;
    delay_ms = NextCheckDelayMs(arguments.schedule, result, failures, Draw());
    if (settings && arguments.after_check) arguments.after_check(*settings);
    if (settings && settings->policy.mode == UpdateMode::kAutomatic &&
        arguments.board->Progress().kind == UpdateProgress::Kind::kReady) {
      delay_ms = std::min(delay_ms, kAutomaticApplyLookMs);
    }
  }
}

}  // namespace

std::uint64_t NextCheckDelayMs(const CheckSchedule& schedule, const CheckResult& result,
                               unsigned failures, double draw) noexcept {
  if (result.kind == CheckResult::Kind::kRetry && failures > 0) {
    return RetryDelayMs(schedule.backoff, failures, draw, result.retry_after_s);
  }
  const double clamped = std::isnan(draw) ? 0.0 : std::clamp(draw, 0.0, 1.0);
  const std::uint64_t spread = std::min(schedule.spread_ms, schedule.interval_ms);
  return schedule.interval_ms - spread +
         static_cast<std::uint64_t>(clamped * 2.0 * static_cast<double>(spread));
}

std::optional<CheckSettings> CheckSettingsFromPolicy(const ServiceLog& log) {
  const UpdatePolicy policy = ReadUpdatePolicy(log);
  if (policy.mode == UpdateMode::kOff) return std::nullopt;
  CheckSettings settings;
  settings.feed_url = policy.feed_url.empty() ? BuiltInFeedUrl() : policy.feed_url;
  settings.policy = policy;
  return settings;
}

UniqueHandle StartCheckThread(HANDLE stop, const ServiceLog& log, std::shared_ptr<CheckBoard> board,
                              CheckSettingsSource settings, const CheckSchedule& schedule,
                              AfterCheck after_check) noexcept {
  UniqueHandle own_stop = DuplicateOwnHandle(stop);
  if (!own_stop || !board || !settings) return nullptr;
  auto arguments = std::make_shared<CheckThreadArguments>(
      CheckThreadArguments{std::move(own_stop), log, std::move(board), std::move(settings),
                           schedule, std::move(after_check)});
  return StartWorkThread([arguments] { CheckOnSchedule(*arguments); });
}

}  // namespace road
