// The staging folders, Staging\<token>: what installer mode and the relaunch watcher run from,
// out of reach of the users whose UI asks for the update.
#pragma once

#include <windows.h>

#include <string>

#include "service/service_log.h"

namespace road {

// Makes Staging\<token> and fills it: a copy of the updater that sits beside this service and
// of the pending `package` from Incoming, the copy's SHA-256 checked against the package's
// .sha256 file (the download's integrity, nothing more), the copy judged by its signature,
// publisher, product and version (package_check.h), and the watcher log, owned by
// `user_sid`, the user who asked, who may only append to it. Returns why it could not
// ("staging failed", "package hash mismatch", a trust refusal), or empty; the folder of a
// failure is left for the housekeeping thread to remove (StagingLedger::NoteDropped), since a
// user may hold the updater's copy in it open. Each step is noted in `log`.
[[nodiscard]] std::string StageUpdate(const std::wstring& package, const std::wstring& token,
                                      const std::wstring& user_sid, const ServiceLog& log);

// Removes the staging folder `folder`, found with `attributes`, never following a link, and
// notes it in `log` once it is gone; false while any of it is left. A user may keep the
// removal of a file waiting: call it on the housekeeping thread only (housekeeping.h).
bool RemoveStagingFolder(const std::wstring& folder, DWORD attributes, const ServiceLog& log);

// The same, for the folder of `token` as it is now; true when there is none left.
bool RemoveStagingFolderOf(const std::wstring& token, const ServiceLog& log);

}  // namespace road
