// The command line with which installer mode runs the Windows Installer.
#pragma once

#include <string>

// Returns the command line that runs `msiexec_path` on the package
// `msi_path` silently, without a restart and with a verbose log at
// `log_path`. The paths are put between quotes as they are, without
// escaping: the caller refuses a path that holds a quote or ends in a
// backslash, which would bend the rest of the line into other arguments.
[[nodiscard]] std::wstring InstallerCommandLine(const std::wstring& msiexec_path,
                                                const std::wstring& msi_path,
                                                const std::wstring& log_path);
