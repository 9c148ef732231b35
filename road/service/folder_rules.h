// The service's rules for the folders of the update road, as decisions on what a folder's
// attributes and security descriptor say, so that they can be judged apart from the disk.
#pragma once

#include <windows.h>

#include <string>

namespace road {

// Whether a folder that already exists may serve as a level of the road, and if not, why.
struct FolderVerdict {
  bool trusted = false;
  std::wstring reason;  // empty when trusted
};

// A level of the road is trusted only when all of these hold, since anyone who may change
// it can swap what the service copies, checks and runs as LocalSystem:
//   - it is a folder and not a reparse point (a junction would send the service elsewhere);
//   - its owner is SYSTEM, Administrators, TrustedInstaller or `service_account` (the account
//     this service runs as, which is SYSTEM on Windows): an owner may always rewrite the
//     access list;
//   - no entry of its access list lets anyone else write, add files or folders, delete, or
//     change its owner or access list, whether the entry is its own or inherited, and whether
//     it applies to the folder or only to what is made in it.
[[nodiscard]] FolderVerdict JudgeFolder(DWORD attributes, PSECURITY_DESCRIPTOR descriptor,
                                        PSID service_account);

// The same rules for an entry that may be a file or a folder: the service's own folder and the
// updater it stages from there, which run as LocalSystem (a folder users may add files to is
// a folder they may plant libraries in).
[[nodiscard]] FolderVerdict JudgeFile(DWORD attributes, PSECURITY_DESCRIPTOR descriptor,
                                      PSID service_account);

// How the cleanup removes one entry it found by listing a folder. A reparse point is removed
// as the link it is, never listed or emptied, so that nothing behind it is touched.
enum class Removal {
  kDeleteFile,      // a file, or a link to one: DeleteFileW removes the link itself
  kRemoveLink,      // a folder that is a junction or link: RemoveDirectoryW, never emptied
  kEmptyAndRemove,  // a plain folder: its entries first, then the folder
};
[[nodiscard]] Removal HowToRemove(DWORD attributes) noexcept;

}  // namespace road
