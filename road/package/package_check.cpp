#include "package/package_check.h"

#include "package/installed_version.h"
#include "package/package_properties.h"

namespace road {

PackageCheck CheckPackage(const std::wstring& path) {
  const ProductPins pins = ThisProductsPins();
  PackageCheck check;
  check.found.signature = ReadSignature(path);
  PackageProperties properties;
  if (ReadPackageProperties(path, &properties)) {
    check.found.upgrade_code = properties.upgrade_code;
    check.found.product_version = properties.product_version;
  }
  // Asked under the product's own UpgradeCode, never the package's: a package cannot choose
  // which product it is compared with.
  if (!ReadInstalledVersion(pins.upgrade_code, &check.found.installed_version)) {
    check.found.installed_version = std::wstring();
  }
  check.decision = DecidePackageTrust(check.found, pins);
  return check;
}

}  // namespace road
