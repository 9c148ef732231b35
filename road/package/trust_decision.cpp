#include "package/trust_decision.h"

#include <wincrypt.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "package/product_version.h"
#include "package/publisher_pins.h"

namespace road {

namespace {

constexpr char kRevocationNotChecked[] =
    "the signer's certificate was not checked for revocation: no CRL or OCSP answer";
constexpr char kRevocationCheckRequired[] =
    "the package's certificate revocation status could not be checked, and the policy requires "
    "it";

std::string HexNumber(unsigned long value) {
  char text[16] = {};
  (void)std::snprintf(text, sizeof(text), "0x%08lX", value);
  return text;
}

bool SameTextIgnoringCase(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), /*ignore_case=*/TRUE) == CSTR_EQUAL;
}

bool IsUnsigned(LONG verdict) {
  return verdict == TRUST_E_NOSIGNATURE || verdict == TRUST_E_SUBJECT_FORM_UNKNOWN ||
         verdict == TRUST_E_PROVIDER_UNKNOWN;
}

// Rules 1 and 2: why the signature or its chain is not good enough, or empty.
std::string SignatureRefusal(const SignatureFacts& signature) {
  const LONG verdict = signature.verdict;
  const DWORD errors = signature.chain_errors;
  if (IsUnsigned(verdict)) return "package is not signed";
  if (verdict == TRUST_E_BAD_DIGEST) return "package was changed after it was signed";
  if (verdict == CERT_E_REVOKED || (errors & CERT_TRUST_IS_REVOKED) != 0) {
    return "package signer's certificate is revoked";
  }
  if (verdict == CERT_E_UNTRUSTEDROOT || verdict == CERT_E_CHAINING ||
      (errors & kChainNoTrustedRoot) != 0) {
    return "package signature does not chain to a trusted root";
  }
  const bool revocation_unknown =
      verdict == CERT_E_REVOCATION_FAILURE && (errors & ~kChainRevocationUnknown) == 0;
  if (verdict != ERROR_SUCCESS && !revocation_unknown) {
    return "package signature is not valid (error " +
           HexNumber(static_cast<unsigned long>(verdict)) + ")";
  }
  if ((errors & ~kChainRevocationUnknown) != 0) {
    return "package signer's certificate chain is not valid (status " + HexNumber(errors) + ")";
  }
  return {};
}

// Rule 5: why the package's version may not replace the installed one, or empty.
std::string VersionRefusal(const PackageTrustFacts& found) {
  const std::optional<ProductVersion> package = ParseProductVersion(found.product_version);
  if (!package) return "package version is unreadable";
  if (!found.installed_version) return {};
  const std::optional<ProductVersion> installed = ParseProductVersion(*found.installed_version);
  if (!installed) return "installed version is unreadable";
  if (IsLaterVersion(*package, *installed)) return {};
  return "package version " + VersionText(*package) + " is not newer than installed " +
         VersionText(*installed);
}

TrustDecision Refused(std::string reason) { return {false, std::move(reason), {}}; }

// Whether the chain or the verdict says only that revocation could not be checked; rule 1 has
// refused every other fault by then.
bool IsRevocationUnknown(const SignatureFacts& signature) {
  return signature.verdict == CERT_E_REVOCATION_FAILURE ||
         (signature.chain_errors & kChainRevocationUnknown) != 0;
}

}  // namespace

ProductPins ThisProductsPins() {
  ProductPins pins{{}, kProductUpgradeCode};
  for (const wchar_t* pin : kReleasePublisherThumbprints) {
    if (pin[0] != L'\0') pins.publisher_thumbprints.emplace_back(pin);
  }
  if (kTestPublisherThumbprint[0] != L'\0') {
    pins.publisher_thumbprints.emplace_back(kTestPublisherThumbprint);
  }
  return pins;
}

bool IsPinnedPublisher(const std::wstring& thumbprint, const std::vector<std::wstring>& pinned) {
  if (thumbprint.empty()) return false;
  return std::any_of(pinned.begin(), pinned.end(), [&](const std::wstring& pin) {
    return SameTextIgnoringCase(thumbprint, pin);
  });
}

bool IsNotNewerThanInstalled(const std::wstring& product_version,
                             const std::optional<std::wstring>& installed) {
  if (!installed) return false;
  const std::optional<ProductVersion> package = ParseProductVersion(product_version);
  const std::optional<ProductVersion> current = ParseProductVersion(*installed);
  return package && current && !IsLaterVersion(*package, *current);
}

TrustDecision DecidePackageTrust(const PackageTrustFacts& found, const ProductPins& pins) {
  std::string refusal = SignatureRefusal(found.signature);
  if (!refusal.empty()) return Refused(refusal);
  const bool revocation_unknown = IsRevocationUnknown(found.signature);
  if (revocation_unknown && found.revocation_check_required) {
    return Refused(kRevocationCheckRequired);
  }
  if (!IsPinnedPublisher(found.signature.signer_thumbprint, pins.publisher_thumbprints)) {
    return Refused("package is not signed by the product's publisher");
  }
  if (!SameTextIgnoringCase(found.upgrade_code, pins.upgrade_code)) {
    return Refused("package is not of this product");
  }
  refusal = VersionRefusal(found);
  if (!refusal.empty()) return Refused(refusal);
  if (!revocation_unknown) return {true, {}, {}};
  return {true, {}, kRevocationNotChecked};
}

}  // namespace road
