#include "service/package_check.h"

#include "package/installed_version.h"
#include "package/package_properties.h"
#include "service/update_policy.h"
#include "win/text_conversion.h"

namespace road {

namespace {

[[nodiscard]] std::wstring OrNone(const std::wstring& text) {
  return text.empty() ? std::wstring(L"(none)") : text;
}

// "signer <name> (<thumbprint>), package version <v>, installed <v>", as found.
[[nodiscard]] std::wstring FoundText(const PackageTrustFacts& found) {
  const std::wstring installed =
      found.installed_version ? OrNone(*found.installed_version) : L"nothing";
  return L"signer " + OrNone(found.signature.signer_name) + L" (" +
         OrNone(found.signature.signer_thumbprint) + L"), package version " +
         OrNone(found.product_version) + L", installed " + installed;
}

}  // namespace

PackageCheck CheckPackage(const std::wstring& path) {
  const ProductPins pins = ThisProductsPins();
  PackageCheck check;
  check.found.signature = ReadSignature(path);
  // The policy's notes on values it ignores are written where the checks read it.
  check.found.revocation_check_required =
      JudgePolicyValues(ReadPolicyValues()).policy.require_revocation_check;
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

PackageCheck CheckAndNotePackage(const std::wstring& path, const ServiceLog& log) {
  PackageCheck check = CheckPackage(path);
  const std::wstring verdict = check.decision.accepted
                                   ? std::wstring(L"accepted")
                                   : L"refused: " + WidenAscii(check.decision.reason);
  log.Note(L"Package check of " + path + L": " + FoundText(check.found) + L"; " + verdict);
  if (!check.decision.warning.empty()) {
    log.Note(L"Package check warning: " + WidenAscii(check.decision.warning));
  }
  return check;
}

std::string WhyStagedPackageIsRefused(const std::wstring& path, const ServiceLog& log) {
  const PackageCheck check = CheckAndNotePackage(path, log);
  return check.decision.accepted ? std::string() : check.decision.reason;
}

}  // namespace road
