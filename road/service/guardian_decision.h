// What the update's guardian does at each look, once installer mode has ended: decided from
// what it found, apart from the finding, so that every case can be tried without a service.
#pragma once

#include <windows.h>

namespace road {

// The guardian looks this often while it waits.
inline constexpr DWORD kGuardianPollMs = 250;
// How long a pending service is given to settle, before the first start and after each one.
inline constexpr DWORD kGuardianSettleMs = 30000;
// The earliest moment of each start, after the one before (the first: at once).
inline constexpr DWORD kGuardianStartDelaysMs[] = {0, 2000, 4000, 8000, 16000};
inline constexpr unsigned kGuardianMaxStarts =
    sizeof(kGuardianStartDelaysMs) / sizeof(kGuardianStartDelaysMs[0]);
// Every delay is shorter than the settling time, so no start comes later than one settling
// time after the one before: from the end of the installation to running, or to giving up,
// takes at most one settling time before the first start and one after each start, 180 s.
inline constexpr DWORD kGuardianBoundMs = kGuardianSettleMs * (kGuardianMaxStarts + 1);

// What the guardian found at one look. How installer mode ended (its exit code, a kill, a
// crash) changes nothing: it may have left the service stopped in each case.
struct GuardianFacts {
  // An msiexec that installer mode started still runs: the service must not run from a
  // folder that is being replaced.
  bool installation_runs = false;
  // A newer update than the guardian's has been started since: its own guardian watches.
  bool superseded = false;
  // SERVICE_STOPPED ... SERVICE_PAUSED, or 0 when the service cannot be queried.
  DWORD service_state = 0;
  // Starts the guardian has asked for so far, whether or not the service manager took them.
  unsigned starts_made = 0;
  // Since the last start, or before the first since the installation was last seen running.
  ULONGLONG waited_ms = 0;
};

struct GuardianStep {
  enum class Kind { kStartNow, kWait, kGiveUp, kNothingToDo } kind = Kind::kNothingToDo;
  DWORD wait_ms = 0;  // for kWait, never more than kGuardianPollMs
};

// Nothing to do once the service runs (paused counts: its process is there) or a newer update
// is guarded; waits while the installation runs, and while the service is pending, up to
// kGuardianSettleMs; starts a stopped or unknown service, or one pending past that time, each
// start no earlier than its delay in kGuardianStartDelaysMs after the one before; gives up
// once kGuardianMaxStarts starts have not made it run.
[[nodiscard]] GuardianStep DecideGuardianStep(const GuardianFacts& facts) noexcept;

}  // namespace road
