// The service's log of the requests it answered and the updates it staged.
#pragma once

#include <string>

namespace road {

// Where the service's lines go, decided once at each start: to its own log in the Updates
// folder once the road's folders have been found to be the service's own, else to the event
// log, since nothing may be written in folders that another account could have prepared. The
// same fact makes every update request refused (update_requests.h).
class ServiceLog {
 public:
  // `folders_trusted`: whether PrepareUpdateFolders succeeded at this start.
  explicit ServiceLog(bool folders_trusted) noexcept : folders_trusted_(folders_trusted) {}

  // Whether the road's folders are the service's own at this start.
  [[nodiscard]] bool FoldersTrusted() const noexcept { return folders_trusted_; }

  // Appends `line` to the service log, or reports it as a warning in the event log while the
  // folders are not trusted or their place is unknown. Best effort: a line that cannot be
  // written is lost, and the service goes on.
  void Note(const std::wstring& line) const;

 private:
  bool folders_trusted_;
};

}  // namespace road
