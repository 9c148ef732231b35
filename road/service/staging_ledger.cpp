#include "service/staging_ledger.h"

#include <algorithm>

#include "contract/road_contract.h"

namespace road {

std::vector<std::wstring> StagingFoldersToRemove(std::vector<StagedFolder> found,
                                                 const std::set<std::wstring>& waiting,
                                                 const std::set<std::wstring>& dropped,
                                                 size_t kept) {
  std::sort(found.begin(), found.end(),
            [](const StagedFolder& a, const StagedFolder& b) { return a.created > b.created; });
  std::vector<std::wstring> remove;
  size_t finished = 0;
  for (const StagedFolder& folder : found) {
    const bool dropped_now = dropped.count(folder.token) != 0;
    const bool waits = waiting.count(folder.token) != 0;
    // Only the finished ones count towards the kept.
    if (dropped_now || (!waits && ++finished > kept)) remove.push_back(folder.token);
  }
  return remove;
}

StagingLedger::StagingLedger()
    : clean_up_wanted_(OwnHandle(::CreateEventW(/*security=*/nullptr, /*manual_reset=*/FALSE,
                                                /*initial=*/FALSE, /*name=*/nullptr))) {}

void StagingLedger::NoteStaged(const std::wstring& token) {
  const std::lock_guard<std::mutex> lock(mutex_);
  waiting_.insert(token);
}

void StagingLedger::NoteStarted(const std::wstring& token) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    waiting_.erase(token);
  }
  if (clean_up_wanted_) (void)::SetEvent(clean_up_wanted_.get());
}

void StagingLedger::NoteDropped(const std::wstring& token) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    waiting_.erase(token);
    dropped_.insert(token);
  }
  if (clean_up_wanted_) (void)::SetEvent(clean_up_wanted_.get());
}

std::vector<std::wstring> StagingLedger::FoldersToRemove(
    const std::vector<StagedFolder>& found) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return StagingFoldersToRemove(found, waiting_, dropped_, kStagingFoldersKept);
}

void StagingLedger::NoteRemoved(const std::wstring& token) {
  const std::lock_guard<std::mutex> lock(mutex_);
  dropped_.erase(token);
}

}  // namespace road
