#include "service/quarantine.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "contract/road_contract.h"
#include "contract/road_paths.h"
#include "service/road_folders.h"
#include "service/safe_removal.h"
#include "win/line_log.h"
#include "win/text_conversion.h"

namespace road {

namespace {

// Removes the quarantined deliveries beyond the kQuarantineKept newest.
void BoundQuarantine(const ServiceLog& log) {
  std::vector<StagedFolder> folders = ListTokenFolders(QuarantineFolder());
  std::sort(folders.begin(), folders.end(),
            [](const StagedFolder& a, const StagedFolder& b) { return a.created > b.created; });
  for (size_t i = kQuarantineKept; i < folders.size(); ++i) {
    const std::wstring folder = PathIn(QuarantineFolder(), folders[i].token);
    if (RemoveEntry(folder, folders[i].attributes)) log.Note(L"Removed " + folder);
  }
}

// Moves `name` from Incoming into `folder`; true when it is no longer in Incoming.
[[nodiscard]] bool MoveOut(const std::wstring& name, const std::wstring& folder) {
  const std::wstring from = PathIn(IncomingFolder(), name);
  return (!folder.empty() && ::MoveFileExW(from.c_str(), PathIn(folder, name).c_str(), 0)) ||
         ::DeleteFileW(from.c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND;
}

}  // namespace

bool SetDeliveryAside(const std::wstring& package, const std::string& reason,
                      const ServiceLog& log) {
  std::wstring folder = PathIn(QuarantineFolder(), NewToken());
  DWORD error = 0;
  if (!MakeFolder(folder, kServiceOnlyFolderSddl, error) || error == ERROR_ALREADY_EXISTS) {
    folder.clear();
  }
  const bool moved = MoveOut(package, folder) && !folder.empty();
  (void)MoveOut(package + kHashSuffix, folder);
  if (!moved) {
    log.Note(L"Removed " + package + L" from Incoming, which could not be set aside: " +
             WidenAscii(reason));
    return false;
  }
  (void)AppendLine(PathIn(folder, kQuarantineReasonFile), WidenAscii(reason));
  log.Note(L"Set " + package + L" aside in " + folder + L": " + WidenAscii(reason));
  BoundQuarantine(log);
  return true;
}

}  // namespace road
