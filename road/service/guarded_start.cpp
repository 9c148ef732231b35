#include "service/guarded_start.h"

#include "contract/road_contract.h"
#include "contract/road_paths.h"
#include "win/process_start.h"

namespace road {

namespace {

// How long the service waits for installer mode it ended before it ran.
constexpr DWORD kAbandonWaitMs = 5000;

// What the guardian may do with installer mode: wait for it, read its exit code and its
// creation time, nothing more.
constexpr DWORD kGuardianAccess = SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION;

// Starts the guardian of `token` from `staging`, handing it an inheritable duplicate of
// `installer`, which is closed here again whatever happens. False, noted in `log`, when it
// cannot start.
[[nodiscard]] bool StartGuardian(HANDLE installer, const std::wstring& staging,
                                 const std::wstring& token, const ServiceLog& log) {
  HANDLE duplicate = nullptr;
  DWORD error = ERROR_SUCCESS;
  if (!::DuplicateHandle(::GetCurrentProcess(), installer, ::GetCurrentProcess(), &duplicate,
                         kGuardianAccess, /*inherit=*/TRUE, /*options=*/0)) {
    error = ::GetLastError();
  }
  const UniqueHandle inheritable(duplicate);
  if (!inheritable) {
    log.Note(L"Could not hand installer mode to the update's guardian (error " +
             std::to_wstring(error) + L")");
    return false;
  }
  const std::wstring guardian = PathIn(staging, kGuardianFileName);
  const std::wstring arguments = std::wstring(kGuardSwitch) + L" " +
                                 std::to_wstring(reinterpret_cast<ULONG_PTR>(inheritable.get())) +
                                 L" " + token;
  // A console program, which would otherwise get a console of its own.
  const ProcessHandles started =
      StartHandingDown(guardian, arguments, staging, CREATE_NO_WINDOW, inheritable.get(), error);
  if (!started.process) {
    log.Note(L"Could not start the update's guardian (error " + std::to_wstring(error) + L")");
    return false;
  }
  log.Note(L"Started the update's guardian pid " +
           std::to_wstring(::GetProcessId(started.process.get())) + L" from " + guardian);
  return true;
}

// Ends installer mode before it ran an instruction, and waits a little for it to be gone, so
// that no suspended process is left behind the refusal.
void Abandon(HANDLE installer) noexcept {
  (void)::TerminateProcess(installer, ERROR_CANCELLED);
  (void)::WaitForSingleObject(installer, kAbandonWaitMs);
}

}  // namespace

UniqueHandle StartGuardedInstallerMode(const std::wstring& staging, const std::wstring& arguments,
                                       const std::wstring& token, const ServiceLog& log) {
  const std::wstring updater = PathIn(staging, kUpdaterFileName);
  DWORD error = ERROR_SUCCESS;
  ProcessHandles installer =
      StartHandingDown(updater, arguments, staging, CREATE_SUSPENDED, /*inherited=*/nullptr, error);
  if (!installer.process) {
    log.Note(L"Could not start installer mode (error " + std::to_wstring(error) + L")");
    return nullptr;
  }
  if (!StartGuardian(installer.process.get(), staging, token, log)) {
    Abandon(installer.process.get());
    return nullptr;
  }
  if (::ResumeThread(installer.thread.get()) == static_cast<DWORD>(-1)) {
    error = ::GetLastError();
    log.Note(L"Could not let installer mode run (error " + std::to_wstring(error) + L")");
    // Its guardian sees it end before it did anything, and the service running.
    Abandon(installer.process.get());
    return nullptr;
  }
  return std::move(installer.process);
}

}  // namespace road
