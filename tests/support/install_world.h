// A simulated machine ready for installer mode: the product's service runs,
// ProgramFiles is set, the package exists and msiexec answers as scripted.
#pragma once

#include <cstdint>
#include <string>

#include "support/world_test.h"

inline constexpr wchar_t kRemoteService[] = L"Corvanta Remote";
inline constexpr wchar_t kSystemDirectory[] = L"C:\\Windows\\system32";

inline void ArrangeInstallableMachine(const std::wstring& msi_path, uint64_t stop_takes_ms = 0) {
  winsim::SetEnvironment(L"ProgramFiles", L"C:\\Program Files");
  winsim::ServiceSpec service;
  service.name = kRemoteService;
  service.state = SERVICE_RUNNING;
  service.stop_takes_ms = stop_takes_ms;
  service.host_exe_name = L"CorvantaRemoteService.exe";
  service.host_image_path = L"C:\\Program Files\\Corvanta Remote\\CorvantaRemoteService.exe";
  winsim::AddService(service);
  winsim::SetFile(msi_path, "package bytes");
}

// A running copy of the product program, the installed one unless told
// otherwise, that ends this long after it is terminated, or never when empty;
// returns its id.
inline DWORD AddProductCopy(std::optional<uint64_t> ends_after_terminate_ms = 0,
                            const std::wstring& image_path = kInstalledProduct,
                            const std::wstring& exe_name = L"Corvanta Remote.exe") {
  winsim::ProcessSpec copy;
  copy.exe_name = exe_name;
  copy.image_path = image_path;
  copy.ends_after_terminate_ms = ends_after_terminate_ms;
  return winsim::AddProcess(copy);
}

// msiexec in `system_directory` ends with `exit_code` after `after_ms`.
inline void InstallerExitsWith(DWORD exit_code, uint64_t after_ms = 4000,
                               const std::wstring& system_directory = kSystemDirectory) {
  winsim::LaunchScript script;
  script.exit_after_ms = after_ms;
  script.exit_code = exit_code;
  winsim::ScriptLaunches(system_directory + L"\\msiexec.exe", {script});
}

// Whether a process was created from msiexec.exe.
inline bool InstallerRan() {
  for (const winsim::Launch& launch : winsim::Launches()) {
    if (launch.pid != 0) return true;
  }
  return false;
}
