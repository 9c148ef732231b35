// The packages an administrator step (or a download) left in Incoming for the next update.
#pragma once

#include <string>

#include "service/service_log.h"

namespace road {

// What FindPendingPackage found.
struct PendingPackage {
  std::wstring package;  // <name>.msi in Incoming; empty when none may update the product
  std::string version;   // its version, "2.0.0"; empty with `package`
  // When `package` is empty: the reason of the last delivery set aside in this look, for the
  // client's refusal; empty when there was none.
  std::string refusal;
};

// Whether `package` (<name>.msi) is a complete delivery in Incoming: the package and its
// <name>.msi.sha256 are both there.
[[nodiscard]] bool IsCompleteDelivery(const std::wstring& package);

// Sorts out every complete delivery in Incoming (<name>.msi with its <name>.msi.sha256) and
// returns the one of the highest version that may update this product. Each is first checked
// against its .sha256 file, before anything else opens it, then by the package check
// (signature, publisher, product, version), and judged by JudgeDelivery: one that fails either
// check is set aside in Quarantine (quarantine.h), one whose version is installed already, or
// older, leaves Incoming, so that neither ever hides a later delivery. The date of a file
// decides nothing. Each step is noted in `log`.
[[nodiscard]] PendingPackage FindPendingPackage(const ServiceLog& log);

// The same sorting, at the service's start: a completed update's package leaves Incoming, and
// a delivery that fails its checks is set aside, before any request. The version of the
// package left to install, or empty.
[[nodiscard]] std::string RemoveInstalledPackages(const ServiceLog& log);

}  // namespace road
