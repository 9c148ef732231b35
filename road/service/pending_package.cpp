#include "service/pending_package.h"

#include <windows.h>

#include <cwchar>
#include <optional>
#include <vector>

#include "contract/road_contract.h"
#include "contract/road_paths.h"
#include "package/product_version.h"
#include "service/delivery_verdict.h"
#include "service/package_check.h"
#include "service/package_hash.h"
#include "service/quarantine.h"
#include "win/road_handles.h"

namespace road {

namespace {

[[nodiscard]] bool Exists(const std::wstring& path) noexcept {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The complete deliveries in Incoming, <name>.msi each, in the listing's order.
[[nodiscard]] std::vector<std::wstring> Deliveries() {
  std::vector<std::wstring> found;
  const std::wstring incoming = IncomingFolder();
  if (incoming.empty()) return found;
  WIN32_FIND_DATAW data = {};
  const UniqueFind find = FindFirst(incoming + L"\\*.msi" + kHashSuffix, data);
  for (bool more = find != nullptr; more; more = ::FindNextFileW(find.get(), &data) != FALSE) {
    std::wstring package = data.cFileName;
    package.resize(package.size() - std::wcslen(kHashSuffix));
    if (IsCompleteDelivery(package)) found.push_back(package);
  }
  return found;
}

// Removes `package` from Incoming, with its .sha256 file, since the installed product is at
// its version or later.
void RemoveInstalled(const std::wstring& package, const PackageCheck& check,
                     const ServiceLog& log) {
  const std::wstring path = PathIn(IncomingFolder(), package);
  (void)::DeleteFileW((path + kHashSuffix).c_str());
  (void)::DeleteFileW(path.c_str());
  log.Note(L"Removed " + package + L" from Incoming: its version " + check.found.product_version +
           L" is installed already or older than the installed " +
           check.found.installed_version.value_or(L""));
}

// Checks and judges the delivery `package`, and removes or sets it aside as judged; the
// version of one that is offered, parsed, or nothing.
std::optional<ProductVersion> SortOut(const std::wstring& package, std::string& refusal,
                                      const ServiceLog& log) {
  const std::wstring path = PathIn(IncomingFolder(), package);
  const bool hash_matches = PackageHashMatches(path + kHashSuffix, path, L"delivery", log);
  // Nothing opens a package whose bytes are not the ones delivered.
  const PackageCheck check = hash_matches ? CheckAndNotePackage(path, log) : PackageCheck{};
  const DeliveryVerdict verdict = JudgeDelivery(hash_matches, check);
  switch (verdict.fate) {
    case DeliveryVerdict::Fate::kOffer:
      return ParseProductVersion(check.found.product_version).value_or(ProductVersion{});
    case DeliveryVerdict::Fate::kRemove:
      RemoveInstalled(package, check, log);
      return std::nullopt;
    case DeliveryVerdict::Fate::kQuarantine:
      (void)SetDeliveryAside(package, verdict.reason, log);
      refusal = verdict.reason;
      return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace

bool IsCompleteDelivery(const std::wstring& package) {
  const std::wstring path = PathIn(IncomingFolder(), package);
  return !path.empty() && Exists(path) && Exists(path + kHashSuffix);
}

PendingPackage FindPendingPackage(const ServiceLog& log) {
  PendingPackage found;
  std::optional<ProductVersion> highest;
  for (const std::wstring& package : Deliveries()) {
    const std::optional<ProductVersion> version = SortOut(package, found.refusal, log);
    if (version && (!highest || IsLaterVersion(*version, *highest))) {
      highest = version;
      found.package = package;
    }
  }
  if (!found.package.empty()) {
    found.refusal.clear();
    found.version = VersionText(*highest);
  }
  return found;
}

std::string RemoveInstalledPackages(const ServiceLog& log) {
  return FindPendingPackage(log).version;
}

}  // namespace road
