// The Authenticode signature of a file, as Windows judges it, and who made it.
#pragma once

#include <windows.h>

#include <wincrypt.h>
#include <wintrust.h>

#include <string>

namespace road {

// What the signature check found.
struct SignatureFacts {
  // WinVerifyTrust's result: 0 for a signature that matches the file and a chain Windows
  // accepts, TRUST_E_NOSIGNATURE (0x800B0100) for an unsigned file, TRUST_E_BAD_DIGEST for a
  // changed one, CERT_E_REVOCATION_FAILURE when the revocation status could not be found out.
  // TRUST_E_NO_SIGNER_CERT when it reported success but no signer could be read.
  LONG verdict = TRUST_E_NOSIGNATURE;
  // The signer's chain, TrustStatus.dwErrorStatus (CERT_TRUST_* bits): 0 for a chain that ends
  // in a trusted root. Wine's WinVerifyTrust returns 0 for an untrusted root, and only these
  // bits show it (CERT_TRUST_IS_UNTRUSTED_ROOT).
  DWORD chain_errors = 0;
  // The signing certificate's SHA-1 thumbprint, 40 upper-case hexadecimal digits, and its
  // subject's display name; both empty when no signer could be read.
  std::wstring signer_thumbprint;
  std::wstring signer_name;
};

// The SHA-1 thumbprint of `certificate`, 40 upper-case hexadecimal digits; empty when it
// cannot be read.
[[nodiscard]] std::wstring CertificateThumbprint(PCCERT_CONTEXT certificate);

// The display name of `certificate`'s subject, as its Details tab shows it; at most 255
// characters.
[[nodiscard]] std::wstring CertificateSubjectName(PCCERT_CONTEXT certificate);

// The request ReadSignature hands WinVerifyTrust for `file`: no user interface, revocation
// checked over the whole chain except the root, a state kept for reading the signer.
[[nodiscard]] WINTRUST_DATA SignatureCheckRequest(WINTRUST_FILE_INFO* file) noexcept;

// Checks the Authenticode signature of the file at `path`: WINTRUST_ACTION_GENERIC_VERIFY_V2,
// no user interface, revocation checked over the whole chain except the root. Reads the
// signer's chain status, thumbprint and name from the check's state, and closes that state
// before returning, whatever was found.
//
// Revocation on a machine without a path to the CRL or OCSP servers: Windows answers
// CERT_E_REVOCATION_FAILURE and marks the chain CERT_TRUST_REVOCATION_STATUS_UNKNOWN (with
// CERT_TRUST_IS_OFFLINE_REVOCATION). Those are reported as found; the trust decision accepts
// them with a warning for the log (see trust_decision.h). A certificate known to be revoked,
// from a server, the URL cache or a CRL an administrator imported, is refused.
[[nodiscard]] SignatureFacts ReadSignature(const std::wstring& path);

}  // namespace road
