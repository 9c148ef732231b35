// sample-trust-root.exe: adds certificates to this machine's Root store, as an administrator
// does for a test authority, so that signatures chained to them count as trusted.
//
//   sample-trust-root.exe <certificate.der>...
//
// Ends with 0 when every file was read and added (an existing one is replaced), 1 otherwise,
// naming each file that failed on stderr. Wine's chain engine reads the Root store once per
// process, at its first check: run this before the programs that check signatures start.

#include <windows.h>

#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

namespace {

struct StoreCloser {
  void operator()(HCERTSTORE store) const noexcept { ::CertCloseStore(store, /*flags=*/0); }
};
using UniqueStore = std::unique_ptr<void, StoreCloser>;

// Adds the DER certificate in the file `path` to `store`; false when it cannot.
[[nodiscard]] bool AddCertificate(HCERTSTORE store, const wchar_t* path) {
  std::ifstream file(path, std::ios::binary);
  const std::vector<char> der{std::istreambuf_iterator<char>(file), {}};
  // cppcheck-suppress knownConditionTrueFalse ; a missing or empty file reads as no bytes
  if (der.empty()) return false;
  return ::CertAddEncodedCertificateToStore(
             store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
             static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING,
             /*added=*/nullptr) != FALSE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fwprintf(stderr, L"usage: sample-trust-root.exe <certificate.der>...\n");
    return 2;
  }
  const UniqueStore store(::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, /*encoding=*/0,
                                          /*provider=*/0, CERT_SYSTEM_STORE_LOCAL_MACHINE,
                                          L"Root"));
  if (!store) {
    std::fwprintf(stderr, L"the machine's Root store cannot be opened (error %lu)\n",
                  ::GetLastError());
    return 1;
  }
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    if (AddCertificate(store.get(), argv[i])) continue;
    std::fwprintf(stderr, L"not added to the Root store: %ls\n", argv[i]);
    status = 1;
  }
  return status;
}
