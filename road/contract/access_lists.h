// The access lists of the road: the pipe's, the folders', and the files' the service makes, as
// SDDL strings, so that each can be judged on data as Windows would apply it.
#pragma once

#include <string>

namespace road {

// The pipe: SYSTEM and Administrators full control; interactive users read and write data,
// but not FILE_CREATE_PIPE_INSTANCE (which GENERIC_WRITE would include), so that no user can
// put up a second instance of the pipe and answer in the service's name.
inline constexpr wchar_t kPipeSddl[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x0012019b;;;IU)";
// Corvanta, Updates, Staging and each staging folder: owned by SYSTEM; SYSTEM and
// Administrators full control, Users read and execute, nothing inherited from above.
inline constexpr wchar_t kFolderSddl[] =
    L"O:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x001200a9;;;BU)";
// Incoming, Logs and Quarantine: owned by SYSTEM; SYSTEM and Administrators full control,
// Users no access, so that no user can read, add or swap a pending package, nor open (and so
// hold, or lock) the service's log or a refused delivery.
inline constexpr wchar_t kServiceOnlyFolderSddl[] = L"O:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
// The service's log, made with this list whatever its folder gives.
inline constexpr wchar_t kServiceLogSddl[] = L"O:SYD:P(A;;FA;;;SY)(A;;FA;;;BA)";
// The staged copy of a package: as Incoming, no entry for Users. Neither mode of the updater
// reads it as the user (the watcher never opens it), and no user can then hold it open so
// that it cannot be removed.
inline constexpr wchar_t kStagedPackageSddl[] = L"O:SYD:P(A;;FA;;;SY)(A;;FA;;;BA)";
// The watcher log: owned by the user whose UI program asked for the update (`owner_sid`, as
// "S-1-5-..."), who alone may read it and append to it (FILE_APPEND_DATA), never rewrite,
// delete or change its access list: the entry for OWNER RIGHTS takes from the owner the
// implied right to change the list. SYSTEM and Administrators full control. What the user
// writes there counts against that user's disk quota, and no other user can write to it.
[[nodiscard]] std::wstring WatcherLogSddl(const std::wstring& owner_sid);
// A watcher log once it has grown past what a watcher writes (watcher_logs.h): its owner may
// read it only.
inline constexpr wchar_t kSealedWatcherLogSddl[] =
    L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x00120089;;;OW)";

}  // namespace road
