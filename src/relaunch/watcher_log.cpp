#include "relaunch/watcher_log.h"

#include <windows.h>

#include <vector>

#include "shared/unique_handles.h"
#include "shared/updater_contract.h"

namespace {

// The longest path Windows can name, in UTF-16 code units.
constexpr DWORD kModulePathUnits = 32768;

}  // namespace

void AppendWatcherLogLine(const std::string& message) {
  std::vector<wchar_t> module_path(kModulePathUnits, L'\0');
  const DWORD length =
      ::GetModuleFileNameW(/*module=*/nullptr, module_path.data(), kModulePathUnits);
  if (length == 0) return;
  const std::wstring log_path =
      std::wstring(module_path.data(), length) + updater_contract::kLogSuffix;

  // Append access alone makes every write land at the current end of the
  // file, whatever another writer did since it was opened.
  const UniqueHandle file = OwnHandle(::CreateFileW(
      log_path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
      /*security=*/nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, /*template_file=*/nullptr));
  if (!file) return;

  const std::string line = message + "\r\n";
  // Windows wants somewhere to put the count on a synchronous write, even
  // though nothing looks at it.
  DWORD written = 0;
  (void)::WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written,
                    /*overlapped=*/nullptr);
}
