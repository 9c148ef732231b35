// Owners of the handles the road opens beyond those of the updater (shared/unique_handles.h):
// each is wrapped on the line that opens it, so that every return path closes it.
#pragma once

#include <windows.h>

#include <bcrypt.h>
#include <objbase.h>
#include <wincrypt.h>

#include <memory>
#include <string>
#include <type_traits>

#include "shared/unique_handles.h"

namespace road {

struct FindCloser {
  void operator()(HANDLE find) const noexcept { ::FindClose(find); }
};
struct EventSourceCloser {
  void operator()(HANDLE source) const noexcept { ::DeregisterEventSource(source); }
};
struct AlgorithmCloser {
  void operator()(BCRYPT_ALG_HANDLE algorithm) const noexcept {
    ::BCryptCloseAlgorithmProvider(algorithm, /*flags=*/0);
  }
};
struct HashDestroyer {
  void operator()(BCRYPT_HASH_HANDLE hash) const noexcept { ::BCryptDestroyHash(hash); }
};
struct CertStoreCloser {
  void operator()(HCERTSTORE store) const noexcept { ::CertCloseStore(store, /*flags=*/0); }
};
struct CertificateFreer {
  void operator()(PCCERT_CONTEXT certificate) const noexcept {
    (void)::CertFreeCertificateContext(certificate);
  }
};
struct CertChainFreer {
  void operator()(PCCERT_CHAIN_CONTEXT chain) const noexcept { ::CertFreeCertificateChain(chain); }
};
struct CoTaskMemoryFreer {
  void operator()(void* memory) const noexcept { ::CoTaskMemFree(memory); }
};

// A directory search begun by FindFirstFileW.
using UniqueFind = std::unique_ptr<std::remove_pointer_t<HANDLE>, FindCloser>;
// An event source registered with RegisterEventSourceW.
using UniqueEventSource = std::unique_ptr<std::remove_pointer_t<HANDLE>, EventSourceCloser>;
// A CNG algorithm provider and a hash object made from one.
using UniqueAlgorithm = std::unique_ptr<void, AlgorithmCloser>;
using UniqueHash = std::unique_ptr<void, HashDestroyer>;
// A certificate store opened with CertOpenStore.
using UniqueCertStore = std::unique_ptr<void, CertStoreCloser>;
// A certificate context handed out by crypt32, and a chain built by CertGetCertificateChain.
using UniqueCertificate = std::unique_ptr<const CERT_CONTEXT, CertificateFreer>;
using UniqueCertChain = std::unique_ptr<const CERT_CHAIN_CONTEXT, CertChainFreer>;
// A string the shell allocated with CoTaskMemAlloc on the caller's behalf.
using UniqueCoTaskString = std::unique_ptr<wchar_t, CoTaskMemoryFreer>;

// Takes ownership of a search handle; INVALID_HANDLE_VALUE, as FindFirstFileW reports
// failure, becomes an empty owner.
[[nodiscard]] inline UniqueFind OwnFind(HANDLE find) noexcept {
  return UniqueFind(find == INVALID_HANDLE_VALUE ? nullptr : find);
}

// Begins a directory search for `pattern` with its first entry in `data`; empty when nothing
// matches or the folder cannot be listed.
[[nodiscard]] inline UniqueFind FindFirst(const std::wstring& pattern,
                                          WIN32_FIND_DATAW& data) noexcept {
  return OwnFind(::FindFirstFileW(pattern.c_str(), &data));
}

// A handle of this process's own to `object`, with the same access, for a thread that may
// outlive its caller's handle; empty when it cannot be made.
[[nodiscard]] inline UniqueHandle DuplicateOwnHandle(HANDLE object) noexcept {
  HANDLE duplicate = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), object, ::GetCurrentProcess(), &duplicate,
                         /*access=*/0, /*inherit=*/FALSE, DUPLICATE_SAME_ACCESS)) {
    return nullptr;
  }
  return OwnHandle(duplicate);
}

}  // namespace road
