#include "service/status_reporter.h"

namespace sample {

namespace {

// Holds an SRW lock exclusively for its lifetime.
class ExclusiveLock {
 public:
  explicit ExclusiveLock(SRWLOCK& lock) noexcept : lock_(lock) {
    ::AcquireSRWLockExclusive(&lock_);
  }
  ~ExclusiveLock() { ::ReleaseSRWLockExclusive(&lock_); }
  ExclusiveLock(const ExclusiveLock&) = delete;
  ExclusiveLock& operator=(const ExclusiveLock&) = delete;

 private:
  SRWLOCK& lock_;
};

[[nodiscard]] bool IsPending(DWORD state) noexcept {
  return state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
}

}  // namespace

void StatusReporter::Begin(SERVICE_STATUS_HANDLE status_handle) noexcept {
  const ExclusiveLock hold(lock_);
  handle_ = status_handle;
  status_.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
}

void StatusReporter::Report(DWORD state, DWORD wait_hint_ms, DWORD exit_code) noexcept {
  const ExclusiveLock hold(lock_);
  const bool same_pending = IsPending(state) && status_.dwCurrentState == state;
  status_.dwCheckPoint = same_pending ? status_.dwCheckPoint + 1 : (IsPending(state) ? 1 : 0);
  status_.dwCurrentState = state;
  status_.dwWaitHint = wait_hint_ms;
  status_.dwWin32ExitCode = exit_code;
  status_.dwServiceSpecificExitCode = exit_code == ERROR_SERVICE_SPECIFIC_ERROR ? 1 : 0;
  (void)::SetServiceStatus(handle_, &status_);
}

void StatusReporter::SetAcceptedControls(DWORD controls) noexcept {
  const ExclusiveLock hold(lock_);
  status_.dwControlsAccepted = controls;
}

}  // namespace sample
