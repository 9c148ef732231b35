// The service's housekeeping: whatever it must read or change of a file that users can open
// (the watcher logs, the staging folders with the updater copies users run) happens on this
// thread alone. A user may hold such a file open, and with an opportunistic lock keep every
// open of it waiting for as long as that user likes; only this thread then waits. The
// service's stop and start never wait for it, and its pipe never does either.
#pragma once

#include <windows.h>

#include <memory>

#include "service/road_folders.h"
#include "service/service_log.h"
#include "service/staging_ledger.h"
#include "shared/unique_handles.h"

namespace road {

// Starts the housekeeping thread: at once, and then whenever `ledger` asks for a clean-up or
// kWatcherLogCheckMs has passed, until `stop` is signalled, it bounds the watcher logs
// (watcher_logs.h) and removes the staging folders that `ledger` no longer needs; once, first,
// it removes the service log that earlier versions kept in Updates, where users could read
// it. Nothing happens while the road's folders are not the service's own (`trust`). The
// thread keeps
// its own duplicate of `stop`, copy of `log` and share of `ledger`; nobody needs to wait for
// it, and a stopping service does not. Empty when it cannot start.
[[nodiscard]] UniqueHandle StartHousekeepingThread(
    HANDLE stop, const ServiceLog& log, const RoadTrust& trust,
    const std::shared_ptr<StagingLedger>& ledger) noexcept;

// Removes the staging folders that `ledger` no longer needs, noting each in `log`; one that
// cannot be removed whole (a user holds a file of it) is tried again at the next round, and
// what could go of it is gone (the staged package, which no user can open, among it).
void RemoveUnneededStagingFolders(StagingLedger& ledger, const ServiceLog& log);

}  // namespace road
