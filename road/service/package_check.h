// The service's package check: what it finds about a package and about this machine, gathered
// in one place, judged by the pure trust decision (package/trust_decision.h), and logged once.
#pragma once

#include <string>

#include "package/trust_decision.h"
#include "service/service_log.h"

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

// Checks the package at `path` with CheckPackage and notes in `log` what was found (the
// signer's name and thumbprint, the package's and the installed version) and the verdict, with
// its warning when revocation could not be checked.
[[nodiscard]] PackageCheck CheckAndNotePackage(const std::wstring& path, const ServiceLog& log);

// Checks the package at `path`, a staged copy that no user can change, with
// CheckAndNotePackage. Returns the reason of a refusal, or empty when the package may be
// installed.
[[nodiscard]] std::string WhyStagedPackageIsRefused(const std::wstring& path,
                                                    const ServiceLog& log);

}  // namespace road
