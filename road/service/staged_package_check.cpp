#include "service/staged_package_check.h"

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
