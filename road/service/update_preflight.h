// Whether an update may run now: decided before anything is stopped, from what the service
// found on the machine, so that an update that would fail, or would cost other users their
// program, is refused while everything still runs.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace road {

// What the service found when a client asked for an update. Each part defaults to "could not
// be found out", which refuses the update.
struct UpdateFacts {
  // The Windows Installer's mutex, Global\_MSIExecute, which it holds while any installation
  // runs: kBusy when it exists, kFree when it does not.
  enum class Installer { kUnknown, kFree, kBusy };
  Installer installer = Installer::kUnknown;
  // The session of the client that asked, and that of every running copy of the installed
  // user interface program. ui_copies_known is false when the process list, or a copy in it,
  // could not be read.
  ULONG client_session = 0;
  bool ui_copies_known = false;
  std::vector<ULONG> ui_copy_sessions;
  // The system drive ("C:"), the bytes free on it for the service's account, and the
  // package's size. space_known is false when either could not be read.
  std::string system_drive;
  bool space_known = false;
  ULONGLONG free_bytes = 0;
  ULONGLONG package_bytes = 0;
};

// The system drive must have this many times the package's size free. While it installs, the
// Windows Installer keeps its own copy of the package (1); it writes the new files, which the
// package holds compressed and which are taken as twice its size (2); and, so that it can put
// the old version back when the installation fails, it keeps the files it replaces or removes
// until the end, about as large as the new ones (2).
inline constexpr ULONGLONG kFreeSpacePackageMultiple = 5;

// An update that may run, or why not.
struct UpdateVerdict {
  bool allowed = false;
  // For a refusal: the text after "refused: ", one line of ASCII in a user's words, saying
  // what to do where the user can do something.
  std::string reason;
};

// Refuses, naming the first that holds: the Windows Installer is busy or its state unknown;
// copies of the user interface run in sessions other than the client's, or the copies could
// not be read; the system drive has less than kFreeSpacePackageMultiple times the package's
// size free, or its space could not be read. Allows the update otherwise. Pure.
[[nodiscard]] UpdateVerdict DecideWhetherUpdateMayRun(const UpdateFacts& facts);

}  // namespace road
