// The service's log of the requests it answered and the updates it staged.
#pragma once

#include <string>

#include "service/repeated_lines.h"

namespace road {

// The size at which the service log is moved aside to <log>.old (replacing the one before),
// so that a client that sends request after request costs SYSTEM's disk 2 MiB at most.
inline constexpr unsigned long long kServiceLogLimitBytes = 1024ULL * 1024ULL;

// Where the service's lines go, decided once at each start: to its own log in the road's Logs
// folder once the road's folders have been found to be the service's own (RoadTrust), else to
// the event log, since nothing may be written in folders that another account could have
// prepared. It only logs: what the service decides on is handed to the decisions as values.
class ServiceLog {
 public:
  // `to_road_folders`: whether the lines go to the service's log in Logs, as they may once
  // PrepareUpdateFolders has succeeded at this start, or to the event log.
  explicit ServiceLog(bool to_road_folders) : to_road_folders_(to_road_folders) {}

  // Appends `line` to the service log (moved aside first when it is full), or reports it as a
  // warning in the event log when its lines go there or the folders' place is unknown. Best
  // effort: a line that cannot be written is lost, and the service goes on.
  void Note(const std::wstring& line) const;

  // The same for a line a client can make the service write at will (its request, the
  // refusal): lines of one `kind` are written kWrittenPerInterval times per kRepeatIntervalMs
  // at most, then counted (RepeatedLines). Each copy of the log counts on its own; use one
  // from one thread.
  void NoteRepeatable(const std::wstring& kind, const std::wstring& line) const;

 private:
  bool to_road_folders_;
  mutable RepeatedLines repeated_;
};

}  // namespace road
