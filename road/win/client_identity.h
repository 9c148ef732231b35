// Who is at the other end of a pipe, and files made for that user.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "shared/unique_handles.h"

namespace road {

// The user of `token` (opened with TOKEN_QUERY), as SID bytes; empty when it cannot be read.
[[nodiscard]] std::vector<BYTE> TokenUserSid(HANDLE token);

// The account of the client connected to the server end `pipe` now, as a SID string
// ("S-1-5-21-..."); empty when it cannot be read. The client opens its end for identification
// only (update_client.h), which is enough to read its token, and nothing is done in its name.
[[nodiscard]] std::wstring PipeClientSid(HANDLE pipe);

// Creates the file `path`, which must not exist yet, for writing nothing, with the security
// descriptor `sddl`, whose owner may be another account than this process's: Windows lets a
// process give a file away only with the restore privilege, which is enabled for this one
// creation, on this thread's own copy of the process's token. Empty, with the error for
// GetLastError, when it cannot.
[[nodiscard]] UniqueHandle CreateFileForOwner(const std::wstring& path, const std::wstring& sddl);

}  // namespace road
