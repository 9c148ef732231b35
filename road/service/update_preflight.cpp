#include "service/update_preflight.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "shared/updater_contract.h"

namespace road {

namespace {

constexpr ULONGLONG kBytesPerMegabyte = 1024ULL * 1024ULL;

// The product as its users know it, named like its folder.
std::string ProductName() {
  const std::wstring name = updater_contract::kProductFolderName;
  return std::string(name.begin(), name.end());
}

std::string InstallerRefusal(UpdateFacts::Installer installer) {
  switch (installer) {
    case UpdateFacts::Installer::kFree:
      return "";
    case UpdateFacts::Installer::kBusy:
      return "another program is being installed or removed on this computer; try again when "
             "it has finished";
    case UpdateFacts::Installer::kUnknown:
      break;
  }
  return "it could not be checked whether another program is being installed; try again later";
}

// Installer mode ends every copy of the program, in every session, and starts it again only
// for the user who asked: the others would lose theirs without a word.
std::string OtherSessionsRefusal(const UpdateFacts& facts) {
  if (!facts.ui_copies_known) {
    return "the running copies of " + ProductName() + " could not be checked; try again later";
  }
  std::vector<ULONG> others;
  for (const ULONG session : facts.ui_copy_sessions) {
    const bool seen = std::find(others.begin(), others.end(), session) != others.end();
    if (session != facts.client_session && !seen) others.push_back(session);
  }
  if (others.empty()) return "";
  const std::string count =
      std::to_string(others.size()) +
      (others.size() == 1 ? " other user's session" : " other users' sessions");
  return ProductName() + " is also open in " + count +
         " on this computer, and the update would close it there; ask them to close it, then "
         "try again";
}

// Free rounded down and needed rounded up, so that the text never shows enough as too little.
std::string SpaceRefusal(const UpdateFacts& facts) {
  if (!facts.space_known) {
    return "the free space on the system drive could not be checked; try again later";
  }
  // Compared by division, which cannot overflow: free < multiple * size exactly when
  // free / multiple < size.
  if (facts.free_bytes / kFreeSpacePackageMultiple >= facts.package_bytes) return "";
  const ULONGLONG package_megabytes = facts.package_bytes / kBytesPerMegabyte +
                                      (facts.package_bytes % kBytesPerMegabyte != 0 ? 1 : 0);
  const ULONGLONG needed_megabytes = package_megabytes * kFreeSpacePackageMultiple;
  return "drive " + facts.system_drive + " has " +
         std::to_string(facts.free_bytes / kBytesPerMegabyte) + " MB free and the update needs " +
         std::to_string(needed_megabytes) + " MB; free some space on it, then try again";
}

}  // namespace

UpdateVerdict DecideWhetherUpdateMayRun(const UpdateFacts& facts) {
  const std::string reasons[] = {InstallerRefusal(facts.installer), OtherSessionsRefusal(facts),
                                 SpaceRefusal(facts)};
  const auto first = std::find_if(std::begin(reasons), std::end(reasons),
                                  [](const std::string& reason) { return !reason.empty(); });
  if (first != std::end(reasons)) return {false, *first};
  return {true, ""};
}

}  // namespace road
