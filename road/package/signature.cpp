#include "package/signature.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <memory>

namespace road {

namespace {

constexpr DWORD kSha1Bytes = 20;

// Ends a WinVerifyTrust check: the state it keeps between the verify and this call holds the
// signer's certificates, so it is closed only once they have been read.
struct TrustStateCloser {
  void operator()(WINTRUST_DATA* data) const noexcept {
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    data->dwStateAction = WTD_STATEACTION_CLOSE;
    (void)::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, data);
  }
};
using UniqueTrustState = std::unique_ptr<WINTRUST_DATA, TrustStateCloser>;

std::wstring HexDigits(const BYTE* bytes, DWORD count) {
  static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring text;
  for (DWORD i = 0; i < count; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0xF];
  }
  return text;
}

// Reads the first signer's chain status and certificate from the check's state. False when
// the state holds no signer with a chain.
[[nodiscard]] bool ReadSigner(HANDLE state, SignatureFacts* facts) {
  CRYPT_PROVIDER_DATA* provider = ::WTHelperProvDataFromStateData(state);
  if (provider == nullptr) return false;
  CRYPT_PROVIDER_SGNR* signer = ::WTHelperGetProvSignerFromChain(
      provider, /*signer=*/0, /*counter_signer=*/FALSE, /*counter_signer_index=*/0);
  if (signer == nullptr || signer->pChainContext == nullptr || signer->csCertChain == 0) {
    return false;
  }
  facts->chain_errors = signer->pChainContext->TrustStatus.dwErrorStatus;
  // The chain starts with the signing certificate itself.
  const PCCERT_CONTEXT certificate = signer->pasCertChain[0].pCert;
  if (certificate == nullptr) return false;
  facts->signer_thumbprint = CertificateThumbprint(certificate);
  facts->signer_name = CertificateSubjectName(certificate);
  return !facts->signer_thumbprint.empty();
}

}  // namespace

std::wstring CertificateThumbprint(PCCERT_CONTEXT certificate) {
  BYTE hash[kSha1Bytes] = {};
  DWORD size = sizeof(hash);
  if (!::CertGetCertificateContextProperty(certificate, CERT_SHA1_HASH_PROP_ID, hash, &size)) {
    return {};
  }
  return HexDigits(hash, size);
}

std::wstring CertificateSubjectName(PCCERT_CONTEXT certificate) {
  wchar_t name[256] = {};
  (void)::CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, /*flags=*/0,
                             /*type=*/nullptr, name, ARRAYSIZE(name));
  return name;
}

WINTRUST_DATA SignatureCheckRequest(WINTRUST_FILE_INFO* file) noexcept {
  WINTRUST_DATA data{};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
  // A root is trusted by being in the Root store; no authority above it can revoke it.
  data.dwProvFlags = WTD_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  return data;
}

SignatureFacts ReadSignature(const std::wstring& path) {
  WINTRUST_FILE_INFO file{};
  file.cbStruct = sizeof(file);
  file.pcwszFilePath = path.c_str();
  WINTRUST_DATA data = SignatureCheckRequest(&file);
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  SignatureFacts facts;
  facts.verdict = ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  // The state is made whatever the verdict, and closed on every path from here.
  const UniqueTrustState state(&data);
  const bool signer_read = ReadSigner(data.hWVTStateData, &facts);
  if (facts.verdict == ERROR_SUCCESS && !signer_read) facts.verdict = TRUST_E_NO_SIGNER_CERT;
  return facts;
}

}  // namespace road
