#include "service/pending_package.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <optional>
#include <vector>

#include "contract/road_contract.h"
#include "contract/road_paths.h"
#include "package/installed_version.h"
#include "package/package_properties.h"
#include "package/publisher_pins.h"
#include "package/trust_decision.h"
#include "win/road_handles.h"

namespace road {

namespace {

struct Delivery {
  std::wstring package;  // <name>.msi
  ULONGLONG written;     // when its .sha256 file was written
};

[[nodiscard]] ULONGLONG Ticks(const FILETIME& time) noexcept {
  return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

[[nodiscard]] bool Exists(const std::wstring& path) noexcept {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The complete deliveries in Incoming, the one written last first.
[[nodiscard]] std::vector<Delivery> Deliveries() {
  std::vector<Delivery> found;
  const std::wstring incoming = IncomingFolder();
  if (incoming.empty()) return found;
  WIN32_FIND_DATAW data = {};
  const UniqueFind find = FindFirst(incoming + L"\\*.msi" + kHashSuffix, data);
  for (bool more = find != nullptr; more; more = ::FindNextFileW(find.get(), &data) != FALSE) {
    std::wstring package = data.cFileName;
    package.resize(package.size() - std::wcslen(kHashSuffix));
    if (Exists(PathIn(incoming, package))) found.push_back({package, Ticks(data.ftLastWriteTime)});
  }
  std::stable_sort(found.begin(), found.end(),
                   [](const Delivery& a, const Delivery& b) { return a.written > b.written; });
  return found;
}

// Removes `package` from Incoming, with its .sha256 file, when the installed product is at
// its version or later; true when it did.
bool RemoveIfInstalled(const std::wstring& package, const std::optional<std::wstring>& installed,
                       const ServiceLog& log) {
  const std::wstring path = PathIn(IncomingFolder(), package);
  PackageProperties properties;
  if (!ReadPackageProperties(path, &properties) ||
      !IsNotNewerThanInstalled(properties.product_version, installed)) {
    return false;
  }
  (void)::DeleteFileW((path + kHashSuffix).c_str());
  (void)::DeleteFileW(path.c_str());
  log.Note(L"Removed " + package + L" from Incoming: its version " + properties.product_version +
           L" is installed already or older than the installed " + installed.value_or(L""));
  return true;
}

// The installed product's version, as RemoveIfInstalled takes it: nothing when it cannot be
// read or no version is installed, which keeps every package.
[[nodiscard]] std::optional<std::wstring> InstalledVersion() {
  std::optional<std::wstring> installed;
  if (!ReadInstalledVersion(kProductUpgradeCode, &installed)) return std::nullopt;
  return installed;
}

}  // namespace

std::wstring FindPendingPackage(const ServiceLog& log) {
  const std::optional<std::wstring> installed = InstalledVersion();
  const std::vector<Delivery> deliveries = Deliveries();
  const auto offered =
      std::find_if(deliveries.begin(), deliveries.end(), [&](const Delivery& delivery) {
        return !RemoveIfInstalled(delivery.package, installed, log);
      });
  return offered == deliveries.end() ? std::wstring() : offered->package;
}

void RemoveInstalledPackages(const ServiceLog& log) {
  const std::optional<std::wstring> installed = InstalledVersion();
  for (const Delivery& delivery : Deliveries())
    (void)RemoveIfInstalled(delivery.package, installed, log);
}

}  // namespace road
