// Watches an update that another process makes, from its start until that process ends, and
// notes the moments the phases of the update are cut at.
#pragma once

#include <windows.h>

#include <set>
#include <vector>

#include "bench/measurement.h"
#include "shared/unique_handles.h"

namespace bench {

// The moments of one update, in ms since time zero, -1 until seen.
struct Moments {
  double host_ended = -1;       // the service's host process ended
  double ui_ended = -1;         // the UI program ended
  double msiexec_started = -1;  // the first msiexec, which the others serve
  double msiexec_ended = -1;
  double running = -1;  // the service runs again
  double record = -1;   // the update status record was written

  // Prints each moment seen as "<name>-ms=<ms>".
  void Print() const noexcept;
};

class UpdateObserver {
 public:
  // Takes hold of the service's host process and of the UI program `ui_pid` as they are now,
  // and of the record's key (made if missing, so that its first value can be waited for).
  explicit UpdateObserver(DWORD ui_pid);

  // Whether all that is watched could be opened.
  [[nodiscard]] bool Ready() const noexcept;

  // Follows until `process` ends and returns its end in ms on `clock`, noting each moment in
  // `moments`; -1, having said why, when it gave up first. Process ends and the record are seen
  // the moment they happen; the msiexec start and the service state are looked at every 2 ms,
  // and only in the stretch where they are due, so that looking costs the update little.
  [[nodiscard]] double Follow(const Clock& clock, HANDLE process, Moments& moments);

 private:
  struct Watch {
    HANDLE handle;
    double* mark;
  };
  // The handles whose moment is still to come, each with where its moment goes.
  [[nodiscard]] std::vector<Watch> Unmarked(HANDLE process, double& ended, Moments& moments);
  void FindMsiexec(double now, Moments& moments);

  UniqueHandle host_;
  UniqueHandle ui_;
  UniqueHandle msiexec_;
  UniqueHKey record_key_;
  UniqueHandle record_changed_;
  std::set<DWORD> earlier_msiexec_;
};

}  // namespace bench
