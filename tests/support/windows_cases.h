// What the package, feed, policy and download tests share: the chain status of a signer whose
// revocation could not be checked, a publisher no pin names, the test root trusted, and a
// version read from its text.
#pragma once

#include <windows.h>

#include <wincrypt.h>

#include "common/root_store.h"
#include "package/product_version.h"
#include "support/wine_helpers.h"

// The chain status when the revocation server cannot be reached.
inline constexpr DWORD kOffline =
    CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;
// The thumbprint of a publisher no pin names.
inline constexpr wchar_t kStrangerThumbprint[] = L"F6401C08FF2FF9E882C59853E826DF32A6AEF53F";

// Adds the test root to the machine's Root store. Wine writes a store's changes to the registry
// only when it is closed, and its chain engine reads the Root store once in a process, at its
// first check: the root is added, and the store closed, before any chain is built.
inline bool TrustTestRoot() {
  const road::UniqueCertStore store = tools::OpenMachineRootStore();
  return store && tools::AddCertificateFile(store.get(), TestPublisherFile(L"root.der"));
}

// The version `text` names; a text that names none throws, which fails the test.
inline road::ProductVersion Version(const wchar_t* text) {
  return road::ParseProductVersion(text).value();
}
