// RemoteUpdater.exe: a windowless GUI-subsystem program, started by the
// product for each update, once in installer mode and once as the relaunch
// watcher.
#include <windows.h>

#include "app/dispatch.h"

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPWSTR /*command_line*/,
                    int /*show*/) {
  // The command line is read again, whole, by the dispatcher.
  int exit_code = 1;
  if (DispatchCommandLine(exit_code)) return exit_code;
  return 1;
}
