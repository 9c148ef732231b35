#include "install/installer_command_line.h"

std::wstring InstallerCommandLine(const std::wstring& msiexec_path, const std::wstring& msi_path,
                                  const std::wstring& log_path) {
  return L"\"" + msiexec_path + L"\" /i \"" + msi_path +
         L"\" /qn REINSTALLMODE=amus LAUNCH_TRAY_APP=N REBOOT=ReallySuppress /norestart /L*V \"" +
         log_path + L"\"";
}
