// Which staging folders the service still needs. The pipe's thread, which stages and starts
// updates, notes each step here; the housekeeping thread (housekeeping.h) removes the folders
// no longer needed. A user may hold a file of a staging folder open, so removing one may wait
// for that user: the pipe's thread never removes anything itself.
#pragma once

#include <windows.h>

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "contract/road_paths.h"
#include "shared/unique_handles.h"

namespace road {

// The tokens of the folders among `found` to remove: every folder of `dropped` (staged and
// never to be started), and of the others those beyond the kept newest by creation time. A
// folder of `waiting` (staged in some session, not yet started) is never removed, nor counted
// among the kept: one session's clean-up never takes another session's update. Folders of
// earlier runs of the service, which it knows nothing of, count as finished updates. Pure.
[[nodiscard]] std::vector<std::wstring> StagingFoldersToRemove(
    std::vector<StagedFolder> found, const std::set<std::wstring>& waiting,
    const std::set<std::wstring>& dropped, size_t kept);

// The tokens of the updates staged and not yet started, and of those dropped, shared by the
// service's threads. Every member may be called from any thread.
class StagingLedger {
 public:
  StagingLedger();

  // A folder for `token` is being staged, or was: never removed while it waits for its start.
  void NoteStaged(const std::wstring& token);
  // The update of `token` started: its folder is kept among the newest, for its logs.
  void NoteStarted(const std::wstring& token);
  // The update of `token` will never start (its staging failed, it was refused, or its
  // session staged another one): its folder goes at the next clean-up.
  void NoteDropped(const std::wstring& token);

  // The folders to remove now among `found` (StagingFoldersToRemove with kStagingFoldersKept).
  [[nodiscard]] std::vector<std::wstring> FoldersToRemove(
      const std::vector<StagedFolder>& found) const;
  // The folder of `token` is gone.
  void NoteRemoved(const std::wstring& token);

  // Signalled when a note asks for a clean-up sooner than the next round; auto-reset.
  [[nodiscard]] HANDLE CleanUpWanted() const noexcept { return clean_up_wanted_.get(); }

 private:
  mutable std::mutex mutex_;
  std::set<std::wstring> waiting_;
  std::set<std::wstring> dropped_;
  UniqueHandle clean_up_wanted_;
};

}  // namespace road
