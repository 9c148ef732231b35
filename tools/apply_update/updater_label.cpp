#include "apply_update/updater_label.h"

#include "apply_update/update_timeline.h"
#include "contract/road_contract.h"

namespace apply_update {

namespace {

[[nodiscard]] bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

std::wstring UpdaterLabel(const std::vector<std::wstring>& log_lines, DWORD pid,
                          const std::wstring& parent_name) {
  const std::wstring number = std::to_wstring(pid) + L" ";
  const std::wstring installer =
      std::wstring(kServiceLogLabel) + L": " + road::kServiceStartedInstaller + number;
  const std::wstring watcher = std::wstring(kUiLogLabel) + L": " + road::kUiStartedWatcher + number;
  for (const std::wstring& line : log_lines) {
    if (StartsWith(line, installer)) return kInstallerLabel;
    if (StartsWith(line, watcher)) return kWatcherLabel;
  }
  if (::lstrcmpiW(parent_name.c_str(), road::kServiceProgramName) == 0) return kInstallerLabel;
  if (::lstrcmpiW(parent_name.c_str(), updater_contract::kProductExecutableName) == 0) {
    return kWatcherLabel;
  }
  return updater_contract::kUpdaterFileName;
}

}  // namespace apply_update
