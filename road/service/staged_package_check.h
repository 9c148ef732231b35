// The service's judgement of a staged package, by its signature, publisher, product and
// version, before installer mode may be started on it.
#pragma once

#include <string>

#include "package/package_check.h"
#include "service/service_log.h"

namespace road {

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
