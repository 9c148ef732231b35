// Deliveries the service refused, set aside for an administrator: Quarantine\<token>\ holds the
// package, its .sha256 file and why.txt with the reason. No user can open Quarantine.
#pragma once

#include <string>

#include "service/service_log.h"

namespace road {

// How many refused deliveries are kept; beyond that the oldest go.
inline constexpr size_t kQuarantineKept = 5;

// The file in each quarantined delivery's folder that says why it was refused.
inline constexpr wchar_t kQuarantineReasonFile[] = L"why.txt";

// Moves `package` (<name>.msi in Incoming) and its .sha256 file into a fresh folder in
// Quarantine with why.txt holding `reason`, notes it in `log`, and removes the oldest
// quarantined deliveries beyond kQuarantineKept. False when the package could not be moved: it
// is then removed from Incoming instead, so that it never hides a later delivery.
bool SetDeliveryAside(const std::wstring& package, const std::string& reason,
                      const ServiceLog& log);

}  // namespace road
