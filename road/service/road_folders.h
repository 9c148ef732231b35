// The folders of the update road below %ProgramData%, made and checked by the service.
#pragma once

#include <windows.h>

#include <string>

#include "service/folder_rules.h"

namespace road {

// Makes the folder `path` with `sddl` (owner and access list) when it is missing. False, with
// the error in `error`, when it can neither be made nor found; `error` is
// ERROR_ALREADY_EXISTS when it was there already.
[[nodiscard]] bool MakeFolder(const std::wstring& path, const wchar_t* sddl, DWORD& error);

// What the service found of its folders and of its own files at its start. No request is
// served from folders it did not make its own, nor while its own files are within users'
// reach; the request handling and the housekeeping are handed this value.
struct RoadTrust {
  bool folders = false;    // PrepareUpdateFolders succeeded
  bool own_files = false;  // CheckServiceFiles succeeded
};

// What PrepareUpdateFolders did.
struct RoadPreparation {
  FolderVerdict verdict;  // the first level that failed and why; trusted when none did
  // "<path> (<why>) to <new path>" when the top level failed and was renamed aside; empty
  // otherwise.
  std::wstring renamed_aside;
  // "<path>, since <default path> <why>" when the service made a top level of its own; empty
  // otherwise.
  std::wstring own_top_level;
};

// How many fresh names the service tries for a top level renamed aside, and for one of its own.
inline constexpr int kAsideAttempts = 4;

// Makes every level of the road that is missing, with its owner and access list, and checks
// every level, made now or found, with JudgeFolder. A top level (%ProgramData%\Corvanta) that
// fails, as one a user made before the service first ran would, is renamed aside without
// following it and made afresh; when it cannot be moved, the service makes a top level of its
// own, "Corvanta-<GUID>", and records its name in HKLM for every side of the road. Until it has
// succeeded, nothing is written in those folders and every update request is refused
// (ServiceLog).
[[nodiscard]] RoadPreparation PrepareUpdateFolders();

// Checks the folder this service runs from, the updater in it and this service's own program,
// which the service copies for each update (the latter as the update's guardian), with the
// rules of JudgeFile: while any may be changed by anyone but SYSTEM, Administrators and
// TrustedInstaller, every update request is refused (ServiceLog), since what the service
// stages from there runs as LocalSystem. Returns the first that failed and why.
[[nodiscard]] FolderVerdict CheckServiceFiles();

}  // namespace road
