// The feed's signature: feed.json.p7s, a detached CMS signature (DER) over feed.json's exact
// bytes, made by the publisher that signs the packages and trusted by the same pins
// (package/publisher_pins.h). Read with crypt32, judged apart on what was found.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace road {

// What Windows found about a feed's signature.
struct FeedSignatureFacts {
  // 0 when the signature was read and verifies over the feed's bytes with the signer's key.
  // Otherwise crypt32's error: CRYPT_E_HASH_VALUE (or NTE_BAD_SIGNATURE) for a signature over
  // other bytes, an ASN.1 or message error (CRYPT_E_ASN1_*, CRYPT_E_UNEXPECTED_MSG_TYPE...)
  // for a text that is no signed message, CRYPT_E_NO_SIGNER when it holds no certificate for
  // its signer, NTE_BAD_ALGID for a digest other than SHA-256, CRYPT_E_ATTRIBUTES_MISSING for
  // a signature without the signed digest of the content, ERROR_FILE_TOO_LARGE for a feed or
  // signature over kMaxFeedBytes.
  DWORD verify_error = CRYPT_E_NO_SIGNER;
  // How many signers the message names: a feed has one publisher.
  DWORD signer_count = 0;
  // The signer's chain, TrustStatus.dwErrorStatus (CERT_TRUST_* bits): 0 for a chain that
  // ends in a trusted root; read only when the signature verifies.
  DWORD chain_errors = 0;
  // The signing certificate's SHA-1 thumbprint, 40 upper-case hexadecimal digits, and its
  // subject's display name; empty when the signature does not verify.
  std::wstring signer_thumbprint;
  std::wstring signer_name;
};

// Reads the detached signature `p7s` (DER) over `feed` with crypt32: the first signer's
// signature is verified with the certificate the message carries for it, over its signed
// attributes, whose SHA-256 digest must be that of the bytes; then that certificate's chain is
// built by the machine's engine at the present time, for code signing, revocation checked over
// the whole chain but the root, as the package check does (package/signature.h), the message's
// own certificates serving as intermediates. Never throws but for memory.
[[nodiscard]] FeedSignatureFacts ReadFeedSignature(std::string_view feed, std::string_view p7s);

struct FeedSignatureVerdict {
  bool accepted = false;
  // Why not, when refused: one line, for the service log and the UI.
  std::string reason;
  // When accepted: what could not be checked, for the service log; empty when nothing.
  std::string warning;
};

// Accepts a feed's signature only when all of these hold, checked in this order; the first
// that fails is the reason:
//   1. the signature can be read and names exactly one signer;
//   2. it verifies over the feed's bytes;
//   3. the signer's certificate is not revoked and its chain ends in a trusted root;
//   4. the chain has no other fault; revocation that could not be found out is accepted with
//      a warning, as for packages (package/trust_decision.h);
//   5. the signer is one of the pinned publishers, by the packages' own pin rule.
// The signer's name, which whoever had the certificate issued chose, reaches the reason only
// as printable ASCII. Pure.
[[nodiscard]] FeedSignatureVerdict JudgeFeedSignature(const FeedSignatureFacts& facts);

}  // namespace road
