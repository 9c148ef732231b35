#include "service/housekeeping.h"

#include <string>
#include <utility>
#include <vector>

#include "contract/road_paths.h"
#include "service/safe_removal.h"
#include "service/staging.h"
#include "service/watcher_logs.h"
#include "win/road_handles.h"
#include "win/work_thread.h"

namespace road {

namespace {

// The service log as versions before the Logs folder kept it, in Updates, where it inherited
// Users' read: removed with the copy it moved aside, and never written again.
void RemoveLogsReadableByUsers(const ServiceLog& log) {
  const std::wstring old_log = PathIn(UpdatesFolder(), L"CorvantaRemoteService.log");
  for (const std::wstring& path : {old_log + L".old", old_log}) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && RemoveEntry(path, attributes)) {
      log.Note(L"Removed " + path + L", a log of an earlier version that users could read");
    }
  }
}

struct Housekeeping {
  UniqueHandle stop;
  ServiceLog log;
  std::shared_ptr<StagingLedger> ledger;
};

void KeepHouse(const Housekeeping& house) {
  RemoveLogsReadableByUsers(house.log);
  const HANDLE wake[] = {house.stop.get(), house.ledger->CleanUpWanted()};
  const DWORD count = wake[1] != nullptr ? 2 : 1;
  do {
    BoundWatcherLogs(house.log);
    RemoveUnneededStagingFolders(*house.ledger, house.log);
  } while (::WaitForMultipleObjects(count, wake, /*wait_all=*/FALSE, kWatcherLogCheckMs) !=
           WAIT_OBJECT_0);
}

}  // namespace

void RemoveUnneededStagingFolders(StagingLedger& ledger, const ServiceLog& log) {
  for (const std::wstring& token : ledger.FoldersToRemove(ListStagingFolders())) {
    if (RemoveStagingFolderOf(token, log)) ledger.NoteRemoved(token);
  }
}

UniqueHandle StartHousekeepingThread(HANDLE stop, const ServiceLog& log, const RoadTrust& trust,
                                     const std::shared_ptr<StagingLedger>& ledger) noexcept {
  // Nothing is touched in folders that another account could have prepared.
  if (!trust.folders) return nullptr;
  UniqueHandle own_stop = DuplicateOwnHandle(stop);
  if (!own_stop || !ledger) return nullptr;
  auto house = std::make_shared<Housekeeping>(Housekeeping{std::move(own_stop), log, ledger});
  return StartWorkThread([house] { KeepHouse(*house); });
}

}  // namespace road
