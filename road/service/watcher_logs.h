// The bound on the relaunch watchers' logs. The watcher runs as the user and appends its lines
// to Staging\<token>\RemoteUpdater.exe.log, which that user owns and alone may append to
// (WatcherLogSddl), so that what it writes counts against that user's quota. Where quotas are
// off, the bound keeps the file to what a watcher writes.
#pragma once

#include <windows.h>

#include "service/service_log.h"

namespace road {

// A watcher writes two short lines; a log that holds more than this was written by someone
// else.
inline constexpr ULONGLONG kWatcherLogLimitBytes = 64ULL * 1024ULL;

// How often the service looks at the watcher logs while it runs.
inline constexpr DWORD kWatcherLogCheckMs = 5000;

// Cuts every watcher log of the staging folders that has grown past kWatcherLogLimitBytes back
// to that size, keeping its start (where the watcher's own first line stands), and takes
// its owner's append right from it (kSealedWatcherLogSddl); each cut is noted in `log`. A
// handle the user opened before keeps its right, so the cut is made again at each look while
// it grows. A user may keep every open of a log waiting: call it on the housekeeping thread
// only (housekeeping.h), which runs only once the road's folders are the service's own.
void BoundWatcherLogs(const ServiceLog& log);

}  // namespace road
