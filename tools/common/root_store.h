// The machine's Root store, to which an administrator adds a test authority so that
// signatures chained to it count as trusted.
#pragma once

#include <windows.h>

#include <wincrypt.h>

#include <string>

#include "win/road_handles.h"

namespace tools {

// The machine's Root store, open for adding; empty, with the error for GetLastError, when it
// cannot be opened.
[[nodiscard]] road::UniqueCertStore OpenMachineRootStore() noexcept;

// Adds the DER certificate in the file `path` to `store`, replacing the same one there; false
// when the file cannot be read or the certificate not added.
[[nodiscard]] bool AddCertificateFile(HCERTSTORE store, const std::wstring& path);

}  // namespace tools
