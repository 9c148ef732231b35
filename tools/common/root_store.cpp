#include "common/root_store.h"

#include <fstream>
#include <iterator>
#include <vector>

namespace tools {

road::UniqueCertStore OpenMachineRootStore() noexcept {
  return road::UniqueCertStore(::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, /*encoding=*/0,
                                               /*provider=*/0, CERT_SYSTEM_STORE_LOCAL_MACHINE,
                                               L"Root"));
}

bool AddCertificateFile(HCERTSTORE store, const std::wstring& path) {
  std::ifstream file(path.c_str(), std::ios::binary);
  const std::vector<char> der{std::istreambuf_iterator<char>(file), {}};
  // cppcheck-suppress knownConditionTrueFalse ; a missing or empty file reads as no bytes
  if (der.empty()) return false;
  return ::CertAddEncodedCertificateToStore(
             store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
             static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING,
             /*added=*/nullptr) != FALSE;
}

}  // namespace tools
