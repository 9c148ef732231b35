// The package an administrator step left in Incoming for the next update.
#pragma once

#include <string>

namespace road {

// The package placed last in Incoming: of the <name>.msi.sha256 files whose <name>.msi is
// there too, the one written last. Returns <name>.msi, or empty when there is none.
[[nodiscard]] std::wstring FindPendingPackage();

}  // namespace road
