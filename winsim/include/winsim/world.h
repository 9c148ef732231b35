// Scripting the simulated Windows from tests: what exists, what happens when,
// which calls fail, and what the code under test did.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace winsim {

// Starts a fresh world: clock at 0, empty registry, environment, process
// table, services and files, no faults, empty journal, the default budget.
// The command line, module file name and system directory get neutral
// defaults (a program C:\Program\program.exe, C:\Windows\system32).
void Reset();

// ---- Budget -------------------------------------------------------------
// A run that makes more calls than this, or lets the clock pass this time,
// is stopped: the world reports a problem and throws RunStopped from the
// next call (closing functions excepted, as they run during unwinding).
// So a loop that never ends fails its test instead of hanging it.
struct Budget {
  uint64_t calls = 1000000;
  uint64_t virtual_ms = 24ull * 60 * 60 * 1000;
};
void SetBudget(Budget budget);
class RunStopped : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// ---- Clock --------------------------------------------------------------
// Virtual milliseconds since Reset. Only Sleep and timed waits move it.
uint64_t NowMs();
// Runs `event` when the clock reaches `at_ms` (at once if that has passed
// by the next clock move). Events at equal times run in scheduling order.
void At(uint64_t at_ms, std::function<void()> event);

// ---- Handles ------------------------------------------------------------
// Handles given out and not yet closed, LocalAlloc blocks included.
size_t OpenHandleCount();
std::string DescribeOpenHandles();
// Misuse seen by the simulation (closing a handle twice, waiting forever on
// something that never ends, a wrong structure size...). Empty is healthy.
const std::vector<std::string>& Problems();

// ---- Fault injection ----------------------------------------------------
// Makes `function` fail with `error` on its nth use (1 = first) counted from
// Reset, or on every use from now on when nth_use is 0. The function fails
// the way Windows reports it: registry calls return the error, others set
// the last error and return their failure value. A function the simulation
// does not provide, or one that cannot fail (Sleep, GetCommandLineW, the
// closing functions), is refused as a problem.
void FailCall(const std::string& function, unsigned nth_use, DWORD error);
// Whether FailCall accepts `function`.
bool CanFail(const std::string& function);
// The errors with which Windows plausibly fails `function`; none for one
// that cannot fail.
std::vector<DWORD> PlausibleErrors(const std::string& function);
// How often `function` was called since Reset.
unsigned UseCount(const std::string& function);
// Every function called since Reset, with its use count.
std::map<std::string, unsigned> UseCounts();

// ---- Call journal -------------------------------------------------------
// Every call of every simulated function, failed ones included.
struct Call {
  std::string function;
  std::wstring detail;  // key arguments, "name=value" separated by spaces
  uint64_t at_ms;
  unsigned use = 0;     // 1 for the function's first call since Reset
  uint64_t result = 0;  // the returned value; a handle or pointer as its number
  DWORD error = 0;      // registry calls: the returned status; others: the last error after it
};
const std::vector<Call>& Journal();
std::vector<Call> CallsTo(const std::string& function);

// ---- Command line, environment, module, system directory ----------------
void SetCommandLine(const std::wstring& command_line);
void SetEnvironment(const std::wstring& name, const std::wstring& value);
void UnsetEnvironment(const std::wstring& name);
void SetModuleFileName(const std::wstring& path);
void SetSystemDirectory(const std::wstring& path);

// ---- Registry (HKEY_LOCAL_MACHINE) --------------------------------------
struct RegistryValue {
  DWORD type;
  std::vector<uint8_t> data;
};
void SetRegistryValue(const std::wstring& key_path, const std::wstring& name, DWORD type,
                      std::vector<uint8_t> data);
// Stores text as wide code units, with its terminating NUL unless told not.
void SetRegistryString(const std::wstring& key_path, const std::wstring& name,
                       const std::wstring& text, DWORD type = REG_SZ,
                       bool with_terminator = true);
bool RegistryKeyExists(const std::wstring& key_path);
std::optional<RegistryValue> GetRegistryValue(const std::wstring& key_path,
                                              const std::wstring& name);
// The value's text up to its first NUL, whatever its type.
std::optional<std::wstring> GetRegistryString(const std::wstring& key_path,
                                              const std::wstring& name);

// ---- Processes ----------------------------------------------------------
struct ProcessSpec {
  DWORD pid = 0;                      // 0: the simulation picks one
  std::wstring exe_name;              // as snapshots report it
  std::wstring image_path;            // as QueryFullProcessImageNameW reports it
  std::optional<uint64_t> exits_at_ms;  // ends by itself then; never when empty
  DWORD exit_code = 0;
  // After a successful TerminateProcess the process ends this much later;
  // never when empty.
  std::optional<uint64_t> ends_after_terminate_ms = 0;
  // Becomes input-idle this long after its start; never when empty.
  std::optional<uint64_t> idle_after_ms = 0;
};
DWORD AddProcess(ProcessSpec setup);
bool IsRunning(DWORD pid);
std::optional<DWORD> ExitCodeOf(DWORD pid);  // empty while running or unknown

// How a program started through CreateProcessW behaves.
struct LaunchScript {
  std::optional<uint64_t> exit_after_ms;  // ends this long after its start; never when empty
  DWORD exit_code = 0;
  std::optional<uint64_t> idle_after_ms = 0;
  std::function<void()> on_start;       // runs when the process is created
};
// Queues behaviours for launches of `application` (compared without regard
// to case); each launch that starts takes the next one, the last one repeats.
// A program with no script starts, becomes idle at once and keeps running.
void ScriptLaunches(const std::wstring& application, std::vector<LaunchScript> scripts);
struct Launch {
  std::wstring application;
  std::wstring command_line;
  std::optional<std::wstring> current_directory;
  // How the program's windows show: the show command of its first window
  // (SW_SHOWDEFAULT unless the starter chose one), and whether it was
  // started without a console window (CREATE_NO_WINDOW).
  WORD show_command;
  bool windowless;
  BOOL inherit_handles;
  bool environment_null;
  bool security_attributes_null;
  DWORD pid;  // 0 when creation failed
  uint64_t at_ms;
};
const std::vector<Launch>& Launches();

// ---- Services -----------------------------------------------------------
struct ServiceSpec {
  std::wstring name;
  // The process the service runs in, as snapshots and image queries report it.
  std::wstring host_exe_name = L"service.exe";
  std::wstring host_image_path = L"C:\\Services\\service.exe";
  DWORD state = SERVICE_RUNNING;
  bool ignores_stop = false;   // accepts the stop control and keeps running
  uint64_t stop_takes_ms = 0;  // STOP_PENDING this long, then STOPPED
  // Reaches STOPPED by itself at this time, unasked; never when empty.
  std::optional<uint64_t> stops_at_ms;
  // The host process ends this long after the service reports STOPPED;
  // never when empty.
  std::optional<uint64_t> host_lingers_ms = 0;
  uint64_t start_takes_ms = 0;  // START_PENDING this long, then RUNNING
  bool falls_back_after_start = false;  // reaches STOPPED instead of RUNNING
};
void AddService(ServiceSpec setup);
DWORD ServiceState(const std::wstring& name);
DWORD ServiceHostPid(const std::wstring& name);  // 0 when none runs

// ---- Files --------------------------------------------------------------
void SetFile(const std::wstring& path, const std::string& content);
bool FileExists(const std::wstring& path);
std::optional<std::string> FileContent(const std::wstring& path);
// Another process holds the file open with this share mode.
void HoldFile(const std::wstring& path, DWORD share_mode);
// Creating files below this folder fails with ERROR_ACCESS_DENIED.
void DenyWritesBelow(const std::wstring& folder);

}  // namespace winsim
