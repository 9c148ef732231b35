// Whether the service may install a package: one decision on what was found about it, so that
// every rule can be judged on data, apart from files, stores and installed products.
#pragma once

#include <wincrypt.h>
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "package/signature.h"

namespace road {

// What was found about a package and about this machine.
struct PackageTrustFacts {
  SignatureFacts signature;      // the verdict, the chain's status and the signer
  std::wstring upgrade_code;     // from the package's Property table; empty when it has none
  std::wstring product_version;  // from the package's Property table; empty when it has none
  // The installed product's version; nothing when the product is not installed, an empty
  // text when the Windows Installer could not tell.
  std::optional<std::wstring> installed_version;
  // The administrator's RequireRevocationCheck (service/update_policy.h): an unknown revocation
  // status refuses the package instead of being accepted with a warning.
  bool revocation_check_required = false;
};

// Whom the decision trusts: the pinned publishers' thumbprints, and the product's UpgradeCode.
struct ProductPins {
  std::vector<std::wstring> publisher_thumbprints;
  std::wstring upgrade_code;
};

// The pins of publisher_pins.h: every non-empty thumbprint placed there, and the UpgradeCode.
[[nodiscard]] ProductPins ThisProductsPins();

// Whether a signer's `thumbprint` is one of `pinned`, letter case aside; an empty thumbprint
// never is. The feed's signature is pinned by the same rule.
[[nodiscard]] bool IsPinnedPublisher(const std::wstring& thumbprint,
                                     const std::vector<std::wstring>& pinned);

// A chain's status bits (CERT_TRUST_*) that say only that revocation could not be checked,
// and those that say it does not end in a trusted root.
inline constexpr DWORD kChainRevocationUnknown =
    CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;
inline constexpr DWORD kChainNoTrustedRoot =
    CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN;

struct TrustDecision {
  bool accepted = false;
  // Why not, when refused: one short line, ASCII, for "refused: <reason>" and the service log.
  std::string reason;
  // When accepted: what could not be checked, for the service log; empty when nothing.
  std::string warning;
};

// A package is accepted only when all of these hold, checked in this order; the first that
// fails is the reason:
//   1. its Authenticode signature is valid: signed, unchanged since, not revoked;
//   2. the signer's chain ends in a trusted root, by the chain's status, since Wine's
//      WinVerifyTrust reports success for an untrusted root;
//   3. the signer's thumbprint is one of `pins`' (letter case aside);
//   4. its UpgradeCode is the product's (letter case aside, as GUIDs are);
//   5. its ProductVersion is later than the installed one by the Windows Installer's order
//      (product_version.h), or the product is not installed; an unreadable version refuses.
// Revocation: a certificate known to be revoked is refused. When the revocation status could
// not be found out (CERT_E_REVOCATION_FAILURE with only the chain's revocation-unknown and
// offline bits), the package is accepted, with a warning saying so. A machine without a path
// to the CRL and OCSP servers thus still takes updates, rather than refusing every one until
// someone connects it, and the log says each time that the check could not be made. Revoking a
// stolen key therefore stops its packages on every machine that can learn of it: online ones,
// ones whose URL cache holds a CRL that lists it, and ones where an administrator imported the
// authority's CRL into the machine's store.
// Where the policy requires the check (`revocation_check_required`), an unknown status refuses
// the package as rule 1, before the publisher is looked at: such machines take updates only
// while they can reach the CRL or OCSP servers.
[[nodiscard]] TrustDecision DecidePackageTrust(const PackageTrustFacts& found,
                                               const ProductPins& pins);

// Whether a package of `product_version` can no longer update the product installed at
// `installed` (rule 5 above refuses it for good): both versions readable and the package's not
// later. Nothing installed, or a version that cannot be read, gives false.
[[nodiscard]] bool IsNotNewerThanInstalled(const std::wstring& product_version,
                                           const std::optional<std::wstring>& installed);

}  // namespace road
