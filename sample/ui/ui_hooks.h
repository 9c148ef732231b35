// Points where a build of the UI program may add to what it does. The product links
// plain_ui_hooks.cpp, which adds nothing; another build may link hooks of its own.
#pragma once

#include <windows.h>

namespace sample {

class UiHooks {
 public:
  virtual ~UiHooks() = default;
  // First thing at every start. True: the program ends at once with `exit_code`.
  [[nodiscard]] virtual bool Launched(int& exit_code) = 0;
  // Before the window is made, and once it exists.
  virtual void BeforeWindow() = 0;
  virtual void WindowShown(HWND window) = 0;
  // On the update's worker thread, between the service's "staged" answer and the start of
  // the relaunch watcher.
  virtual void BeforeWatcher() = 0;
  // Whether the window asks the service for the next update's status, once, as it is made.
  // False leaves the pipe to whoever else uses it, and "Apply update" enabled.
  [[nodiscard]] virtual bool AsksForStatus() = 0;
};

// The hooks of this build.
UiHooks& Hooks();

}  // namespace sample
