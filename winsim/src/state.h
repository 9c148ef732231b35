// The simulated world's state, shared by the files that implement its parts.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "winsim/world.h"

namespace winsim::detail {

enum class HandleKind { kProcess, kThread, kSnapshot, kFile, kKey, kServiceManager, kService };

struct HandleEntry {
  explicit HandleEntry(HandleKind k) : kind(k) {}
  HandleKind kind;
  DWORD access = 0;
  DWORD pid = 0;               // process and thread handles
  std::wstring path;           // registry key path, service name or file path
  size_t snapshot = 0;         // snapshot index
  size_t cursor = 0;           // next snapshot entry or file read position
  DWORD share = 0;             // file handles: the share mode they were opened with
};

struct Process {
  ProcessSpec setup;
  uint64_t started_ms = 0;
  std::optional<uint64_t> ends_at_ms;
  DWORD exit_code = 0;
};

struct Service {
  ServiceSpec setup;
  DWORD state = SERVICE_STOPPED;
  DWORD host_pid = 0;
};

struct File {
  std::string content;
};

struct Event {
  uint64_t at_ms;
  uint64_t order;
  std::function<void()> run;
};

struct World {
  uint64_t now_ms = 0;
  uint64_t next_event_order = 0;
  std::vector<Event> events;
  DWORD last_error = 0;

  uintptr_t next_handle = 0x1000;
  std::map<uintptr_t, HandleEntry> handles;
  std::set<void*> local_blocks;
  std::vector<std::string> problems;

  struct Fault {
    unsigned nth_use;
    DWORD error;
  };
  std::map<std::string, std::vector<Fault>> faults;
  std::map<std::string, unsigned> uses;
  std::vector<Call> journal;
  Budget budget;
  bool stopped = false;

  std::wstring command_line;
  std::map<std::wstring, std::pair<std::wstring, std::wstring>> environment;  // folded name
  std::wstring module_file_name;
  std::wstring system_directory;

  std::map<std::wstring, std::map<std::wstring, std::pair<std::wstring, RegistryValue>>>
      registry;  // folded key path -> folded value name -> (name, value)

  DWORD next_pid = 1000;
  std::map<DWORD, Process> processes;
  std::vector<DWORD> process_order;  // as snapshots list them
  std::vector<std::vector<DWORD>> snapshots;
  std::map<std::wstring, std::deque<LaunchScript>> launch_scripts;  // folded path
  std::vector<Launch> launches;

  std::map<std::wstring, Service> services;  // folded name

  std::map<std::wstring, File> files;             // folded path
  std::map<std::wstring, DWORD> held_files;       // folded path -> share mode
  std::vector<std::wstring> denied_folders;       // folded
};

World& TheWorld();

// Folds ASCII letters to lower case, as Windows compares names.
std::wstring Fold(const std::wstring& text);

// Opens the journal entry of a call to `function`: counts the use, holds the
// run to its budget, and takes the error an injected fault makes this use
// fail with (0: none).
struct CallStart {
  size_t entry;
  DWORD fault;
};
CallStart BeginCall(const char* function, std::wstring detail);
void EndCall(size_t entry, uint64_t result, DWORD error);
// Adds what only the call's outcome tells to its journal entry.
void AddDetail(size_t entry, const std::wstring& more);
void Problem(std::string text);

template <typename T>
uint64_t AsNumber(T value) {
  if constexpr (std::is_pointer_v<T>) {
    return reinterpret_cast<uintptr_t>(value);
  } else {
    return static_cast<uint64_t>(value);
  }
}

// Runs a function that reports failure through the last error, journalled.
// A fault makes it set that error and return `failure` without running `body`.
template <typename T, typename Body>
T CallSettingLastError(const char* function, std::wstring detail, T failure, Body body) {
  const CallStart call = BeginCall(function, std::move(detail));
  T result = failure;
  if (call.fault != 0) {
    TheWorld().last_error = call.fault;
  } else {
    result = body(call.entry);
  }
  EndCall(call.entry, AsNumber(result), TheWorld().last_error);
  return result;
}

// The same for a registry function, which returns its error.
template <typename Body>
LSTATUS CallReturningStatus(const char* function, std::wstring detail, Body body) {
  const CallStart call = BeginCall(function, std::move(detail));
  const LSTATUS status = call.fault != 0 ? static_cast<LSTATUS>(call.fault) : body();
  EndCall(call.entry, AsNumber(status), static_cast<DWORD>(status));
  return status;
}

// Moves the clock forward to `target_ms`, running the events that fall due.
void AdvanceTo(uint64_t target_ms);
// Earliest pending event time, if any.
std::optional<uint64_t> NextEventMs();
// Lets virtual time pass until `done` holds or `timeout` runs out, stopping
// at each event and at `at_latest`, when `done` may change. Returns false on
// time-out, or (a problem, under `what`) when nothing could ever make `done`
// hold within an INFINITE wait.
bool PassTimeUntil(const std::function<bool()>& done, std::optional<uint64_t> at_latest,
                   DWORD timeout, const char* what);

uintptr_t AddHandle(HandleEntry entry);
// The entry of an open handle of the given kind, or null (last error set).
HandleEntry* FindHandle(const void* handle, HandleKind kind);
bool RemoveHandle(const void* handle, HandleKind kind, const char* closer);

// Whether an open handle grants any of the `needed` access rights.
inline bool GrantsAny(const HandleEntry& entry, DWORD needed) {
  return (entry.access & needed) != 0;
}

Process* FindProcess(DWORD pid);
bool HasEnded(const Process& process);
DWORD NewProcess(ProcessSpec setup);
// "pid=<id>" of the process behind a process or thread handle, for the
// journal, without touching the last error; "pid=0" for anything else.
std::wstring PidText(HANDLE handle);

std::wstring Hex(DWORD value);
std::wstring Quote(const wchar_t* text);

}  // namespace winsim::detail
