#include "install/installer_mode.h"

// Not yet built: installer mode does nothing and reports failure.
int RunInstallerMode(const std::wstring& /*msi_path*/, const std::wstring& /*token*/) {
  return 1;
}
