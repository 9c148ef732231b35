#include "service/staging.h"

#include <vector>

#include "contract/road_contract.h"
#include "contract/road_paths.h"
#include "service/package_check.h"
#include "service/package_hash.h"
#include "service/road_folders.h"
#include "service/safe_removal.h"
#include "shared/unique_handles.h"
#include "win/client_identity.h"
#include "win/own_image.h"
#include "win/road_handles.h"
#include "win/security_descriptor.h"
#include "win/text_conversion.h"

namespace road {

namespace {

// Copies `from` to `to`, which must not exist yet; false, noted in `log`, when it cannot.
[[nodiscard]] bool CopyNew(const std::wstring& from, const std::wstring& to,
                           const ServiceLog& log) {
  if (::CopyFileW(from.c_str(), to.c_str(), /*fail_if_exists=*/TRUE)) return true;
  const DWORD error = ::GetLastError();
  log.Note(L"Could not copy " + from + L" to " + to + L" (error " + std::to_wstring(error) + L")");
  return false;
}

// Writes everything `from` holds to `to`; false when a read or a write fails.
[[nodiscard]] bool CopyContents(HANDLE from, HANDLE to) {
  std::vector<char> buffer(size_t{64} * 1024);
  DWORD read = 0;
  while (::ReadFile(from, buffer.data(), static_cast<DWORD>(buffer.size()), &read,
                    /*overlapped=*/nullptr)) {
    if (read == 0) return true;
    DWORD written = 0;
    if (!::WriteFile(to, buffer.data(), read, &written, /*overlapped=*/nullptr) ||
        written != read) {
      return false;
    }
  }
  return false;
}

// Copies `from` (the package, or the guardian's program) to `to`, which must not exist yet,
// made with kStagedPackageSddl from the start, so that no user can open the copy at any moment,
// nor hold it open against its start or its removal; false, noted in `log`, when it cannot.
[[nodiscard]] bool CopyPackage(const std::wstring& from, const std::wstring& to,
                               const ServiceLog& log) {
  const UniqueLocal<void> descriptor = DescriptorFromSddl(kStagedPackageSddl);
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.get(),
                                    /*bInheritHandle=*/FALSE};
  const UniqueHandle source =
      OwnHandle(::CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ, /*security=*/nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, /*template_file=*/nullptr));
  const UniqueHandle copy =
      source && descriptor ? OwnHandle(::CreateFileW(to.c_str(), GENERIC_WRITE, /*share=*/0,
                                                     &attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                                     /*template_file=*/nullptr))
                           : nullptr;
  if (copy && CopyContents(source.get(), copy.get())) return true;
  const DWORD error = ::GetLastError();
  log.Note(L"Could not copy " + from + L" to " + to + L" (error " + std::to_wstring(error) + L")");
  return false;
}

// Copies the updater beside this service, this service's own program as the update's guardian
// (run from here, it keeps no file of the product's folder in use while msiexec replaces it;
// only SYSTEM and Administrators need it) and the package into the new staging folder.
[[nodiscard]] bool CopyFiles(const std::wstring& package, const std::wstring& staging,
                             const ServiceLog& log) {
  // Empty when this service's folder is unknown: nothing is then copied.
  const std::wstring updater = PathIn(OwnFolder(), kUpdaterFileName);
  const std::wstring own_program = OwnImagePath();
  if (!CopyNew(updater, PathIn(staging, kUpdaterFileName), log) || own_program.empty() ||
      !CopyPackage(own_program, PathIn(staging, kGuardianFileName), log) ||
      !CopyPackage(PathIn(IncomingFolder(), package), PathIn(staging, package), log)) {
    return false;
  }
  log.Note(L"Staged " + package + L" and " + kUpdaterFileName + L" in " + staging);
  return true;
}

// Checks the staged copy, not the incoming file, so that nothing can be swapped in after the
// check.
[[nodiscard]] bool StagedHashMatches(const std::wstring& package, const std::wstring& staging,
                                     const ServiceLog& log) {
  return PackageHashMatches(PathIn(IncomingFolder(), package + kHashSuffix),
                            PathIn(staging, package), L"staged copy", log);
}

// The watcher runs as the user who asked for the update, and owns its log, to which it may
// only append.
[[nodiscard]] bool CreateWatcherLog(const std::wstring& staging, const std::wstring& user_sid,
                                    const ServiceLog& log) {
  const std::wstring path = PathIn(staging, WatcherLogFileName());
  if (CreateFileForOwner(path, WatcherLogSddl(user_sid))) return true;
  const DWORD error = ::GetLastError();
  log.Note(L"Could not create " + path + L" for " + user_sid + L" (error " +
           std::to_wstring(error) + L")");
  return false;
}

// Fills the new staging folder; returns why it could not, or empty.
std::string FillStagingFolder(const std::wstring& package, const std::wstring& staging,
                              const std::wstring& user_sid, const ServiceLog& log) {
  if (!CopyFiles(package, staging, log)) return "staging failed";
  if (!StagedHashMatches(package, staging, log)) return "package hash mismatch";
  std::string refusal = WhyStagedPackageIsRefused(PathIn(staging, package), log);
  if (!refusal.empty()) return refusal;
  if (!CreateWatcherLog(staging, user_sid, log)) return "staging failed";
  return "";
}

}  // namespace

std::string StageUpdate(const std::wstring& package, const std::wstring& token,
                        const std::wstring& user_sid, const ServiceLog& log) {
  const std::wstring staging = StagingFolder(token);
  DWORD error = 0;
  // A folder that is there already was not made for this update: nothing in it is used.
  if (token.empty() || staging.empty() || !MakeFolder(staging, kFolderSddl, error) ||
      error == ERROR_ALREADY_EXISTS) {
    return "staging failed";
  }
  return FillStagingFolder(package, staging, user_sid, log);
}

bool RemoveStagingFolder(const std::wstring& folder, DWORD attributes, const ServiceLog& log) {
  if (!RemoveEntry(folder, attributes)) return false;
  log.Note(L"Removed the staging folder " + folder);
  return true;
}

bool RemoveStagingFolderOf(const std::wstring& token, const ServiceLog& log) {
  const std::wstring folder = StagingFolder(token);
  const DWORD attributes = ::GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  return RemoveStagingFolder(folder, attributes, log);
}

}  // namespace road
