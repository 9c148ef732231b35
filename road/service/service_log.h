// The service's log of the requests it answered and the updates it staged.
#pragma once

#include <string>

#include "service/repeated_lines.h"

namespace road {

// The size at which the service log is moved aside to <log>.old (replacing the one before),
// so that a client that sends request after request costs SYSTEM's disk 2 MiB at most.
inline constexpr unsigned long long kServiceLogLimitBytes = 1024ULL * 1024ULL;

// Where the service's lines go, decided once at each start: to its own log in the Updates
// folder once the road's folders have been found to be the service's own, else to the event
// log, since nothing may be written in folders that another account could have prepared. The
// same fact makes every update request refused (update_requests.h).
class ServiceLog {
 public:
  // `folders_trusted`: whether PrepareUpdateFolders succeeded at this start;
  // `own_files_trusted`: whether CheckServiceFiles did.
  explicit ServiceLog(bool folders_trusted, bool own_files_trusted = true)
      : folders_trusted_(folders_trusted), own_files_trusted_(own_files_trusted) {}

  // Whether the road's folders are the service's own at this start.
  [[nodiscard]] bool FoldersTrusted() const noexcept { return folders_trusted_; }

  // Whether the service's folder and the updater it stages are out of users' reach.
  [[nodiscard]] bool OwnFilesTrusted() const noexcept { return own_files_trusted_; }

  // Appends `line` to the service log (moved aside first when it is full), or reports it as a
  // warning in the event log while the folders are not trusted or their place is unknown. Best
  // effort: a line that cannot be written is lost, and the service goes on.
  void Note(const std::wstring& line) const;

  // The same for a line a client can make the service write at will (its request, the
  // refusal): lines of one `kind` are written kWrittenPerInterval times per kRepeatIntervalMs
  // at most, then counted (RepeatedLines). Each copy of the log counts on its own; use one
  // from one thread.
  void NoteRepeatable(const std::wstring& kind, const std::wstring& line) const;

 private:
  bool folders_trusted_;
  bool own_files_trusted_;
  mutable RepeatedLines repeated_;
};

}  // namespace road
