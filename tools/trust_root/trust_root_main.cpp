// sample-trust-root.exe: adds certificates to this machine's Root store, as an administrator
// does for a test authority, so that signatures chained to them count as trusted.
//
//   sample-trust-root.exe <certificate.der>...
//
// Ends with 0 when every file was read and added (an existing one is replaced), 1 otherwise,
// naming each file that failed on stderr. Wine's chain engine reads the Root store once per
// process, at its first check: run this before the programs that check signatures start.

#include <cstdio>

#include "common/root_store.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fwprintf(stderr, L"usage: sample-trust-root.exe <certificate.der>...\n");
    return 2;
  }
  const road::UniqueCertStore store = tools::OpenMachineRootStore();
  if (!store) {
    std::fwprintf(stderr, L"the machine's Root store cannot be opened (error %lu)\n",
                  ::GetLastError());
    return 1;
  }
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    if (tools::AddCertificateFile(store.get(), argv[i])) continue;
    std::fwprintf(stderr, L"not added to the Root store: %ls\n", argv[i]);
    status = 1;
  }
  return status;
}
