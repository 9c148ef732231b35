#include "relaunch/relaunch_watcher.h"

// Not yet built: the watcher does nothing and reports failure.
int RunRelaunchWatcher(const std::wstring& /*process_id_text*/, const std::wstring& /*token*/) {
  return 1;
}
