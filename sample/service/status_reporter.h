// The state the service reports to the service manager, from the service's thread and its
// control handler alike.
#pragma once

#include <windows.h>

namespace sample {

// Holds the service's SERVICE_STATUS behind a lock and reports it through the handle that
// RegisterServiceCtrlHandlerExW returned. An SRW lock needs neither set-up nor deletion, so it
// may be used from the first report to the host process's end.
class StatusReporter {
 public:
  // Starts reporting for the handle `status_handle`, as a service of its own process.
  void Begin(SERVICE_STATUS_HANDLE status_handle) noexcept;

  // Reports `state`. Pending states count their checkpoint up by one per report; the others
  // reset it to 0, as the service manager expects. ERROR_SERVICE_SPECIFIC_ERROR as
  // `exit_code` comes with the service-specific code 1.
  void Report(DWORD state, DWORD wait_hint_ms, DWORD exit_code = NO_ERROR) noexcept;

  // Sets which controls the service takes from now on (reported with the next status).
  void SetAcceptedControls(DWORD controls) noexcept;

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
  SERVICE_STATUS_HANDLE handle_ = nullptr;
  SERVICE_STATUS status_ = {};
};

}  // namespace sample
