#include "service/update_guardian.h"

#include <tlhelp32.h>

#include <cwchar>
#include <string>

#include "contract/road_contract.h"
#include "service/guardian_decision.h"
#include "service/service_log.h"
#include "shared/ascii_case.h"
#include "shared/unique_handles.h"
#include "ui/service_status.h"
#include "win/machine_registry.h"

namespace road {

namespace {

// The update under watch, and what the guardian has done for it so far.
struct Watch {
  std::wstring token;
  UniqueHandle installer;
  DWORD installer_pid = 0;
  FILETIME installer_created = {};
  // The token of the update started last, as the guardian found it at its own start: the
  // service may write its own token only after the guardian runs.
  std::wstring started_before;
  unsigned starts_made = 0;
  bool started_it = false;  // one of its starts was taken by the service manager
  bool installation_noted = false;
  ULONGLONG since = 0;  // GetTickCount64 of the last start, or of the end of the installation
};

void Note(const ServiceLog& log, const Watch& watch, const std::wstring& text) {
  log.Note(kGuardianLinePrefix + watch.token + L": " + text);
}

// The handle and token of the guardian's command line; false for anything else.
[[nodiscard]] bool ReadCommandLine(int argc, wchar_t** argv, HANDLE& installer,
                                   std::wstring& token) {
  if (!AsksForGuardian(argc, argv) || argc != 4) return false;
  const wchar_t* digits = argv[2];
  if (*digits == L'\0' || std::wcsspn(digits, L"0123456789") != std::wcslen(digits)) return false;
  const auto value = static_cast<ULONG_PTR>(std::wcstoull(digits, /*end=*/nullptr, /*base=*/10));
  // NOLINTNEXTLINE(performance-no-int-to-ptr): an inherited handle comes as its value
  installer = reinterpret_cast<HANDLE>(value);
  token = argv[3];
  return installer != nullptr && IsWellFormedToken(token);
}

// Whether process `pid` runs and was made at or after `since`.
[[nodiscard]] bool RunsSince(DWORD pid, const FILETIME& since) noexcept {
  const UniqueHandle process =
      OwnHandle(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION,
                              /*inherit=*/FALSE, pid));
  FILETIME created = {}, exited = {}, kernel = {}, user = {};
  return process && ::WaitForSingleObject(process.get(), /*milliseconds=*/0) == WAIT_TIMEOUT &&
         ::GetProcessTimes(process.get(), &created, &exited, &kernel, &user) &&
         ::CompareFileTime(&created, &since) >= 0;
}

// Whether an msiexec that installer mode started still runs: a child of its process id, made
// after it. The guardian's handle keeps that id from being given to another process.
[[nodiscard]] bool InstallationRuns(const Watch& watch) {
  const UniqueHandle snapshot =
      OwnHandle(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, /*process_id=*/0));
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = snapshot && ::Process32FirstW(snapshot.get(), &entry); more;
       more = ::Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ParentProcessID == watch.installer_pid &&
        SameIgnoringAsciiCase(entry.szExeFile, L"msiexec.exe") &&
        RunsSince(entry.th32ProcessID, watch.installer_created)) {
      return true;
    }
  }
  return false;
}

// Whether an update newer than the guardian's has been started since it began.
[[nodiscard]] bool Superseded(const Watch& watch) {
  const std::wstring started = ReadMachineString(kRoadKeyPath, kStartedTokenValueName);
  return !started.empty() && started != watch.token && started != watch.started_before;
}

[[nodiscard]] GuardianFacts Look(Watch& watch, const ServiceLog& log) {
  GuardianFacts facts;
  facts.installation_runs = watch.starts_made == 0 && InstallationRuns(watch);
  if (facts.installation_runs) {
    watch.since = ::GetTickCount64();
    if (!watch.installation_noted) Note(log, watch, L"waiting for the msiexec it left running");
    watch.installation_noted = true;
  }
  facts.superseded = Superseded(watch);
  facts.service_state = ServiceStatus().dwCurrentState;
  facts.starts_made = watch.starts_made;
  facts.waited_ms = ::GetTickCount64() - watch.since;
  return facts;
}

// Asks the service manager to start the service; ERROR_SUCCESS or why not. Each handle is
// closed again at once: the guardian must never keep the service from stopping.
[[nodiscard]] DWORD StartTheService() noexcept {
  const UniqueScHandle manager(
      ::OpenSCManagerW(/*machine=*/nullptr, /*database=*/nullptr, SC_MANAGER_CONNECT));
  if (!manager) return ::GetLastError();
  const UniqueScHandle service(::OpenServiceW(manager.get(), kServiceName, SERVICE_START));
  if (!service) return ::GetLastError();
  if (!::StartServiceW(service.get(), /*argc=*/0, /*argv=*/nullptr)) return ::GetLastError();
  return ERROR_SUCCESS;
}

// The service's state as the log names it.
[[nodiscard]] std::wstring StateName(DWORD state) {
  switch (state) {
    case SERVICE_STOPPED:
      return L"stopped";
    case SERVICE_START_PENDING:
      return L"starting";
    case SERVICE_STOP_PENDING:
      return L"stopping";
    case 0:
      return L"unknown";
    default:
      return L"in state " + std::to_wstring(state);
  }
}

void StartOnce(Watch& watch, const GuardianFacts& facts, const ServiceLog& log) {
  const DWORD error = StartTheService();
  watch.since = ::GetTickCount64();
  ++watch.starts_made;
  watch.started_it = watch.started_it || error == ERROR_SUCCESS;
  const std::wstring attempt = L"start " + std::to_wstring(watch.starts_made) + L" of " +
                               std::to_wstring(kGuardianMaxStarts) + L", the service " +
                               StateName(facts.service_state);
  Note(log, watch,
       error == ERROR_SUCCESS ? L"started the service (" + attempt + L")"
                              : L"could not start the service (" + attempt + L", error " +
                                    std::to_wstring(error) + L")");
}

// What is left to do once the service runs or a newer update is under way; the exit code.
[[nodiscard]] int Finish(const Watch& watch, const GuardianFacts& facts, const ServiceLog& log) {
  if (facts.superseded) {
    Note(log, watch, L"a newer update has started; its own guardian watches the service");
  } else if (!watch.started_it) {
    Note(log, watch, L"the service runs; nothing to do");
  } else {
    const LSTATUS written =
        WriteMachineString(kRoadKeyPath, kServiceRestoredValueName, watch.token);
    Note(log, watch, kGuardianBroughtBack + std::to_wstring(watch.starts_made));
    if (written != ERROR_SUCCESS) {
      Note(log, watch,
           L"could not note that in the registry (error " + std::to_wstring(written) + L")");
    }
  }
  return 0;
}

// Looks and acts until the service runs or the guardian gives up; the exit code.
[[nodiscard]] int GuardTheService(Watch& watch, const ServiceLog& log) {
  watch.since = ::GetTickCount64();
  for (;;) {
    const GuardianFacts facts = Look(watch, log);
    const GuardianStep step = DecideGuardianStep(facts);
    switch (step.kind) {
      case GuardianStep::Kind::kWait:
        ::Sleep(step.wait_ms);
        break;
      case GuardianStep::Kind::kStartNow:
        StartOnce(watch, facts, log);
        break;
      case GuardianStep::Kind::kNothingToDo:
        return Finish(watch, facts, log);
      case GuardianStep::Kind::kGiveUp:
        Note(log, watch,
             L"gave up: the service does not run after " + std::to_wstring(watch.starts_made) +
                 L" starts (" + StateName(facts.service_state) + L")");
        return 1;
    }
  }
}

// Waits for installer mode to end and notes how it ended; false, noted, when it cannot.
[[nodiscard]] bool AwaitInstallerMode(Watch& watch, const ServiceLog& log) {
  DWORD exit_code = 0;
  FILETIME exited = {}, kernel = {}, user = {};
  if (::WaitForSingleObject(watch.installer.get(), INFINITE) != WAIT_OBJECT_0 ||
      !::GetExitCodeProcess(watch.installer.get(), &exit_code) ||
      !::GetProcessTimes(watch.installer.get(), &watch.installer_created, &exited, &kernel,
                         &user)) {
    const DWORD error = ::GetLastError();
    Note(log, watch, L"could not wait for installer mode (error " + std::to_wstring(error) + L")");
    return false;
  }
  Note(log, watch,
       L"installer mode pid " + std::to_wstring(watch.installer_pid) + L" ended with exit code " +
           std::to_wstring(exit_code));
  return true;
}

}  // namespace

bool AsksForGuardian(int argc, wchar_t** argv) noexcept {
  return argc >= 2 && std::wcscmp(argv[1], kGuardSwitch) == 0;
}

int RunUpdateGuardian(int argc, wchar_t** argv) {
  HANDLE installer = nullptr;
  Watch watch;
  if (!ReadCommandLine(argc, argv, installer, watch.token)) return 2;
  // A number that names no process of this one is not a handle it was given: nothing of it
  // is closed.
  watch.installer_pid = ::GetProcessId(installer);
  if (watch.installer_pid == 0) return 2;
  watch.installer.reset(installer);
  watch.started_before = ReadMachineString(kRoadKeyPath, kStartedTokenValueName);
  // Only a service that found the road's folders its own stages and starts a guardian.
  const ServiceLog log(/*to_road_folders=*/true);
  if (!AwaitInstallerMode(watch, log)) return 1;
  return GuardTheService(watch, log);
}

}  // namespace road
