// Installer mode: --edk-remote-install-msi <msi path> <update token>.
#pragma once

#include <string>

// Stops the product's service and running copies of its executable, installs
// the package silently, starts the service again and publishes the outcome
// for the token. Returns 0 when the package was installed and the service
// runs again, 1 otherwise.
[[nodiscard]] int RunInstallerMode(const std::wstring& msi_path, const std::wstring& token);
