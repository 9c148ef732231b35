// The check the service runs on a staged package right before installer mode is started on it.
#pragma once

#include <string>

#include "package/trust_decision.h"

namespace road {

struct PackageCheck {
  PackageTrustFacts found;  // for the log: the signer, the package's and the installed version
  TrustDecision decision;
};

// Reads the signature of the package at `path`, its UpgradeCode and ProductVersion, and the
// version installed under the product's UpgradeCode, and decides on them with this product's
// pins. A file that is no package leaves its properties empty, and a version the Windows
// Installer cannot tell is an empty text: the decision refuses both. Check the copy that will
// be installed, where no user can change it between this check and msiexec.
[[nodiscard]] PackageCheck CheckPackage(const std::wstring& path);

}  // namespace road
