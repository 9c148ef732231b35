#include "feed/feed_signature.h"

#include <wincrypt.h>
#include <windows.h>

#include <bcrypt.h>

#include <cstdio>
#include <memory>
#include <string>

#include "feed/feed_document.h"
#include "package/signature.h"
#include "package/trust_decision.h"
#include "win/road_handles.h"
#include "win/text_conversion.h"

namespace road {

namespace {

constexpr DWORD kMessageEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

struct CryptMsgCloser {
  void operator()(HCRYPTMSG message) const noexcept { (void)::CryptMsgClose(message); }
};
// A message opened with CryptMsgOpenToDecode.
using UniqueCryptMsg = std::unique_ptr<void, CryptMsgCloser>;

std::string FeedStatusNumber(unsigned long value) {
  char text[16] = {};
  (void)std::snprintf(text, sizeof(text), "0x%08lX", value);
  return text;
}

constexpr DWORD kSha256Bytes = 32;

// The SHA-256 of `bytes`, or an empty text when it cannot be made.
std::string FeedSha256(std::string_view bytes) {
  BCRYPT_ALG_HANDLE raw_algorithm = nullptr;
  if (::BCryptOpenAlgorithmProvider(&raw_algorithm, BCRYPT_SHA256_ALGORITHM,
                                    /*implementation=*/nullptr, /*flags=*/0) != 0) {
    return {};
  }
  const UniqueAlgorithm algorithm(raw_algorithm);
  BCRYPT_HASH_HANDLE raw_hash = nullptr;
  if (::BCryptCreateHash(raw_algorithm, &raw_hash, /*object=*/nullptr, 0, /*secret=*/nullptr, 0,
                         /*flags=*/0) != 0) {
    return {};
  }
  const UniqueHash hash(raw_hash);
  std::string digest(kSha256Bytes, '\0');
  // BCryptHashData only reads its input, declared writable as it is.
  auto* input = reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data()));
  if (::BCryptHashData(raw_hash, input, static_cast<ULONG>(bytes.size()), /*flags=*/0) != 0 ||
      ::BCryptFinishHash(raw_hash, reinterpret_cast<PUCHAR>(digest.data()), kSha256Bytes,
                         /*flags=*/0) != 0) {
    return {};
  }
  return digest;
}

// One parameter of the decoded message, whole, in `buffer`; false with the error in `error`.
bool MessageParameter(HCRYPTMSG message, DWORD type, std::string* buffer, DWORD* error) {
  DWORD size = 0;
  if (!::CryptMsgGetParam(message, type, /*index=*/0, /*data=*/nullptr, &size)) {
    *error = ::GetLastError();
    return false;
  }
  buffer->assign(size, '\0');
  if (!::CryptMsgGetParam(message, type, /*index=*/0, buffer->data(), &size)) {
    *error = ::GetLastError();
    return false;
  }
  return true;
}

// Decodes `p7s` as a signed message over detached content: 0, or crypt32's error.
DWORD DecodeSignedMessage(std::string_view p7s, UniqueCryptMsg* message) {
  HCRYPTMSG opened = ::CryptMsgOpenToDecode(kMessageEncoding, CMSG_DETACHED_FLAG, /*type=*/0,
                                            /*provider=*/0, /*recipient=*/nullptr,
                                            /*stream=*/nullptr);
  const DWORD error = ::GetLastError();
  message->reset(opened);
  if (opened == nullptr) return error;
  if (!::CryptMsgUpdate(message->get(), reinterpret_cast<const BYTE*>(p7s.data()),
                        static_cast<DWORD>(p7s.size()), /*final=*/TRUE)) {
    return ::GetLastError();
  }
  DWORD type = 0;
  DWORD size = sizeof(type);
  if (!::CryptMsgGetParam(message->get(), CMSG_TYPE_PARAM, /*index=*/0, &type, &size)) {
    return ::GetLastError();
  }
  return type == CMSG_SIGNED ? ERROR_SUCCESS : static_cast<DWORD>(CRYPT_E_UNEXPECTED_MSG_TYPE);
}

// Whether the first signer's signed attributes carry `feed`'s SHA-256 as the message digest:
// 0, CRYPT_E_HASH_VALUE when they carry another, or why it cannot be told. Wine's crypt32
// verifies the signature over the attributes but never compares this digest with the detached
// content (docs/wine.md); Windows does both, and this check costs it one hash.
DWORD CheckMessageDigest(HCRYPTMSG message, std::string_view feed) {
  // The signer's whole record: Wine answers no narrower parameter of it.
  std::string buffer;
  DWORD error = ERROR_SUCCESS;
  if (!MessageParameter(message, CMSG_SIGNER_INFO_PARAM, &buffer, &error)) return error;
  const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(buffer.data());
  const char* algorithm = signer->HashAlgorithm.pszObjId;
  if (algorithm == nullptr || std::string_view(algorithm) != szOID_NIST_sha256) {
    return static_cast<DWORD>(NTE_BAD_ALGID);
  }
  for (DWORD i = 0; i < signer->AuthAttrs.cAttr; ++i) {
    const CRYPT_ATTRIBUTE& attribute = signer->AuthAttrs.rgAttr[i];
    if (attribute.pszObjId == nullptr ||
        std::string_view(attribute.pszObjId) != szOID_RSA_messageDigest) {
      continue;
    }
    if (attribute.cValue != 1) break;
    // The value is the DER of an OCTET STRING of 32 bytes: its tag, its length, the digest.
    const std::string digest = FeedSha256(feed);
    const CRYPT_ATTR_BLOB& value = attribute.rgValue[0];
    const std::string_view found(reinterpret_cast<const char*>(value.pbData), value.cbData);
    if (digest.empty()) return static_cast<DWORD>(NTE_FAIL);
    return found == std::string("\x04\x20", 2) + digest ? ERROR_SUCCESS
                                                        : static_cast<DWORD>(CRYPT_E_HASH_VALUE);
  }
  return static_cast<DWORD>(CRYPT_E_ATTRIBUTES_MISSING);
}

// Verifies the first signer's signature over `feed` with the certificate the message carries
// for it, which goes to `signer`; `certificates` is the message's own store. 0, or crypt32's
// error.
DWORD VerifyOverBytes(HCRYPTMSG message, std::string_view feed, HCERTSTORE certificates,
                      UniqueCertificate* signer) {
  static const BYTE kNoBytes = 0;
  const BYTE* content = feed.empty() ? &kNoBytes : reinterpret_cast<const BYTE*>(feed.data());
  if (!::CryptMsgUpdate(message, content, static_cast<DWORD>(feed.size()), /*final=*/TRUE)) {
    return ::GetLastError();
  }
  std::string buffer;
  DWORD error = ERROR_SUCCESS;
  if (!MessageParameter(message, CMSG_SIGNER_CERT_INFO_PARAM, &buffer, &error)) return error;
  // Its issuer and serial number name the signer's certificate among the message's.
  signer->reset(::CertGetSubjectCertificateFromStore(certificates, kMessageEncoding,
                                                     reinterpret_cast<PCERT_INFO>(buffer.data())));
  if (!*signer) return static_cast<DWORD>(CRYPT_E_NO_SIGNER);
  if (!::CryptMsgControl(message, /*flags=*/0, CMSG_CTRL_VERIFY_SIGNATURE, (*signer)->pCertInfo)) {
    return ::GetLastError();
  }
  return CheckMessageDigest(message, feed);
}

// The status bits of `signer`'s chain, built now for code signing, with the message's own
// certificates as intermediates; CERT_TRUST_IS_PARTIAL_CHAIN when none can be built.
DWORD SignerChainErrors(PCCERT_CONTEXT signer, HCERTSTORE certificates) {
  LPSTR usages[] = {const_cast<LPSTR>(szOID_PKIX_KP_CODE_SIGNING)};
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof(para);
  para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  para.RequestedUsage.Usage.cUsageIdentifier = ARRAYSIZE(usages);
  para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  PCCERT_CHAIN_CONTEXT built = nullptr;
  // The machine's engine, whose Root store is the one the service trusts. The root is left out
  // of revocation: it is trusted by being in that store.
  if (!::CertGetCertificateChain(HCCE_LOCAL_MACHINE, signer, /*time=*/nullptr, certificates, &para,
                                 CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT,
                                 /*reserved=*/nullptr, &built)) {
    return CERT_TRUST_IS_PARTIAL_CHAIN;
  }
  const UniqueCertChain chain(built);
  return chain->TrustStatus.dwErrorStatus;
}

bool IsOtherBytesError(DWORD error) {
  return error == static_cast<DWORD>(NTE_BAD_SIGNATURE) ||
         error == static_cast<DWORD>(CRYPT_E_HASH_VALUE);
}

// Rules 1 to 4: why the signature or its chain is not good enough, or empty.
std::string FeedSignatureRefusal(const FeedSignatureFacts& facts) {
  if (facts.verify_error != ERROR_SUCCESS && !IsOtherBytesError(facts.verify_error)) {
    return "the feed's signature cannot be read (error " + FeedStatusNumber(facts.verify_error) +
           ")";
  }
  if (facts.signer_count != 1) {
    return "the feed's signature has " + std::to_string(facts.signer_count) + " signers, not one";
  }
  if (facts.verify_error != ERROR_SUCCESS) return "the feed's signature does not match it";
  const DWORD errors = facts.chain_errors;
  if ((errors & CERT_TRUST_IS_REVOKED) != 0) return "the feed's signer's certificate is revoked";
  if ((errors & kChainNoTrustedRoot) != 0) {
    return "the feed's signer's chain is not trusted: it does not end in a trusted root";
  }
  if ((errors & ~kChainRevocationUnknown) != 0) {
    return "the feed's signer's chain is not trusted (status " + FeedStatusNumber(errors) + ")";
  }
  return {};
}

}  // namespace

FeedSignatureFacts ReadFeedSignature(std::string_view feed, std::string_view p7s) {
  FeedSignatureFacts facts;
  if (feed.size() > kMaxFeedBytes || p7s.size() > kMaxFeedBytes) {
    facts.verify_error = ERROR_FILE_TOO_LARGE;
    return facts;
  }
  if (p7s.empty()) {
    facts.verify_error = static_cast<DWORD>(CRYPT_E_ASN1_EOD);
    return facts;
  }
  UniqueCryptMsg message;
  facts.verify_error = DecodeSignedMessage(p7s, &message);
  if (facts.verify_error != ERROR_SUCCESS) return facts;
  DWORD size = sizeof(facts.signer_count);
  if (!::CryptMsgGetParam(message.get(), CMSG_SIGNER_COUNT_PARAM, /*index=*/0, &facts.signer_count,
                          &size)) {
    facts.verify_error = ::GetLastError();
    return facts;
  }
  const UniqueCertStore certificates(::CertOpenStore(CERT_STORE_PROV_MSG, kMessageEncoding,
                                                     /*provider=*/0, /*flags=*/0, message.get()));
  if (!certificates) {
    facts.verify_error = ::GetLastError();
    return facts;
  }
  UniqueCertificate signer;
  facts.verify_error = VerifyOverBytes(message.get(), feed, certificates.get(), &signer);
  if (facts.verify_error != ERROR_SUCCESS) return facts;
  facts.signer_thumbprint = CertificateThumbprint(signer.get());
  facts.signer_name = CertificateSubjectName(signer.get());
  facts.chain_errors = SignerChainErrors(signer.get(), certificates.get());
  return facts;
}

FeedSignatureVerdict JudgeFeedSignature(const FeedSignatureFacts& facts) {
  const std::string refusal = FeedSignatureRefusal(facts);
  if (!refusal.empty()) return {false, refusal, {}};
  if (!IsPinnedPublisher(facts.signer_thumbprint, ThisProductsPins().publisher_thumbprints)) {
    return {false,
            "the feed is signed by " + PrintableAscii(facts.signer_name) + " (" +
                PrintableAscii(facts.signer_thumbprint) + "), not a pinned publisher",
            {}};
  }
  if ((facts.chain_errors & kChainRevocationUnknown) == 0) return {true, {}, {}};
  return {true,
          {},
          "the feed's signer's certificate was not checked for revocation: no CRL or OCSP answer"};
}

}  // namespace road
