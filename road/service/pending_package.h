// The packages an administrator step left in Incoming for the next update.
#pragma once

#include <string>

#include "service/service_log.h"

namespace road {

// The package placed last in Incoming that may still update this product: of the
// <name>.msi.sha256 files whose <name>.msi is there too, the one written last. A package whose
// version is not newer than the installed product's goes first (RemoveInstalledPackages), so
// that a completed update's package, and any older one, is never offered again. Returns
// <name>.msi, or empty when there is none.
[[nodiscard]] std::wstring FindPendingPackage(const ServiceLog& log);

// Removes from Incoming every package, with its .sha256 file, whose ProductVersion is not
// newer than the version of this product that the Windows Installer has installed, and notes
// each in `log`. A package stays in Incoming until an update has installed it, so that a
// failed update can be tried again from the same delivery; this is where it leaves. A package
// or an installed version that cannot be read is kept: the trust check refuses it with the
// reason when it is offered.
void RemoveInstalledPackages(const ServiceLog& log);

}  // namespace road
