// The simulated world's core: clock, handle table, faults and journal.
#include <algorithm>
#include <cstdlib>
#include <map>
#include <sstream>

#include "state.h"

namespace winsim::detail {

World& TheWorld() {
  static World world;
  return world;
}

std::wstring Fold(const std::wstring& text) {
  std::wstring folded = text;
  for (wchar_t& c : folded) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return folded;
}

std::wstring Hex(DWORD value) {
  std::wostringstream out;
  out << L"0x" << std::hex << value;
  return out.str();
}

std::wstring Quote(const wchar_t* text) {
  return text == nullptr ? L"null" : L"\"" + std::wstring(text) + L"\"";
}

namespace {

enum class Kind {
  kCanFail,
  kNeverFails,  // has no failure to report
  kCloses,      // never fails, and runs during unwinding, so never stops a run
};

struct Function {
  Kind kind;
  // The errors with which Windows plausibly fails it, the likeliest first.
  std::vector<DWORD> errors;
};

constexpr DWORD kDiskFull = 112;  // ERROR_DISK_FULL

// Every function the simulation provides.
const std::map<std::string, Function>& Functions() {
  static const std::map<std::string, Function> functions = {
      {"Sleep", {Kind::kNeverFails, {}}},
      {"GetCommandLineW", {Kind::kNeverFails, {}}},
      {"CommandLineToArgvW", {Kind::kCanFail, {ERROR_NOT_ENOUGH_MEMORY}}},
      {"LocalFree", {Kind::kCloses, {}}},
      {"GetEnvironmentVariableW", {Kind::kCanFail, {ERROR_ENVVAR_NOT_FOUND}}},
      {"GetModuleFileNameW", {Kind::kCanFail, {ERROR_NOT_ENOUGH_MEMORY}}},
      {"GetSystemDirectoryW", {Kind::kCanFail, {ERROR_NOT_ENOUGH_MEMORY}}},
      {"RegCreateKeyExW", {Kind::kCanFail, {ERROR_ACCESS_DENIED}}},
      {"RegOpenKeyExW", {Kind::kCanFail, {ERROR_ACCESS_DENIED}}},
      {"RegSetValueExW", {Kind::kCanFail, {ERROR_ACCESS_DENIED}}},
      {"RegQueryValueExW", {Kind::kCanFail, {ERROR_ACCESS_DENIED}}},
      {"RegCloseKey", {Kind::kCloses, {}}},
      {"CloseHandle", {Kind::kCloses, {}}},
      {"WaitForSingleObject", {Kind::kCanFail, {ERROR_INVALID_HANDLE}}},
      {"OpenProcess", {Kind::kCanFail, {ERROR_ACCESS_DENIED, ERROR_INVALID_PARAMETER}}},
      {"QueryFullProcessImageNameW", {Kind::kCanFail, {ERROR_ACCESS_DENIED}}},
      {"TerminateProcess", {Kind::kCanFail, {ERROR_ACCESS_DENIED}}},
      {"GetExitCodeProcess", {Kind::kCanFail, {ERROR_ACCESS_DENIED}}},
      {"CreateProcessW", {Kind::kCanFail, {ERROR_FILE_NOT_FOUND}}},
      {"WaitForInputIdle", {Kind::kCanFail, {ERROR_INVALID_HANDLE}}},
      {"CreateToolhelp32Snapshot", {Kind::kCanFail, {ERROR_NOT_ENOUGH_MEMORY}}},
      {"Process32FirstW", {Kind::kCanFail, {ERROR_BAD_LENGTH}}},
      {"Process32NextW", {Kind::kCanFail, {ERROR_BAD_LENGTH}}},
      {"OpenSCManagerW", {Kind::kCanFail, {ERROR_ACCESS_DENIED}}},
      {"OpenServiceW", {Kind::kCanFail, {ERROR_ACCESS_DENIED}}},
      {"CloseServiceHandle", {Kind::kCloses, {}}},
      {"QueryServiceStatus", {Kind::kCanFail, {ERROR_ACCESS_DENIED}}},
      {"QueryServiceStatusEx", {Kind::kCanFail, {ERROR_ACCESS_DENIED}}},
      {"ControlService", {Kind::kCanFail, {ERROR_SERVICE_CANNOT_ACCEPT_CTRL}}},
      {"StartServiceW", {Kind::kCanFail, {ERROR_SERVICE_DISABLED}}},
      {"CreateFileW", {Kind::kCanFail, {ERROR_SHARING_VIOLATION}}},
      {"WriteFile", {Kind::kCanFail, {kDiskFull}}},
      {"ReadFile", {Kind::kCanFail, {ERROR_ACCESS_DENIED}}},
      {"DeleteFileW", {Kind::kCanFail, {ERROR_SHARING_VIOLATION}}},
  };
  return functions;
}

DWORD TakeFault(const std::string& function, unsigned use) {
  const World& w = TheWorld();
  auto found = w.faults.find(function);
  if (found == w.faults.end()) return 0;
  for (const World::Fault& fault : found->second) {
    if (fault.nth_use == 0 || fault.nth_use == use) return fault.error;
  }
  return 0;
}

// Stops the run once it has used up its budget; see SetBudget.
void HoldToBudget(Kind kind) {
  World& w = TheWorld();
  if (kind == Kind::kCloses) return;
  const bool over = w.journal.size() > w.budget.calls || w.now_ms > w.budget.virtual_ms;
  if (!over && !w.stopped) return;
  std::ostringstream text;
  text << "the run went over its budget of " << w.budget.calls << " calls or "
       << w.budget.virtual_ms << " ms: " << w.journal.size() << " calls at " << w.now_ms << " ms";
  if (!w.stopped) Problem(text.str());
  w.stopped = true;
  throw RunStopped(text.str());
}

}  // namespace

CallStart BeginCall(const char* function, std::wstring detail) {
  World& w = TheWorld();
  auto known = Functions().find(function);
  if (known == Functions().end()) {
    Problem(std::string("journalled call to ") + function + ", which is missing from the list");
  }
  const Kind kind = known == Functions().end() ? Kind::kCanFail : known->second.kind;
  HoldToBudget(kind);
  const unsigned use = ++w.uses[function];
  w.journal.push_back(Call{function, std::move(detail), w.now_ms, use, 0, 0});
  return CallStart{w.journal.size() - 1, TakeFault(function, use)};
}

void EndCall(size_t entry, uint64_t result, DWORD error) {
  Call& call = TheWorld().journal.at(entry);
  call.result = result;
  call.error = error;
}

void AddDetail(size_t entry, const std::wstring& more) { TheWorld().journal.at(entry).detail += more; }

void Problem(std::string text) { TheWorld().problems.push_back(std::move(text)); }

std::optional<uint64_t> NextEventMs() {
  const World& w = TheWorld();
  if (w.events.empty()) return std::nullopt;
  uint64_t earliest = w.events.front().at_ms;
  for (const Event& e : w.events) earliest = std::min(earliest, e.at_ms);
  return earliest;
}

void AdvanceTo(uint64_t target_ms) {
  World& w = TheWorld();
  for (;;) {
    auto next = std::min_element(w.events.begin(), w.events.end(), [](const Event& a, const Event& b) {
      return a.at_ms != b.at_ms ? a.at_ms < b.at_ms : a.order < b.order;
    });
    if (next == w.events.end() || next->at_ms > target_ms) break;
    Event event = std::move(*next);
    w.events.erase(next);
    w.now_ms = std::max(w.now_ms, event.at_ms);
    event.run();
  }
  w.now_ms = std::max(w.now_ms, target_ms);
}

bool PassTimeUntil(const std::function<bool()>& done, std::optional<uint64_t> at_latest,
                   DWORD timeout, const char* what) {
  World& w = TheWorld();
  const std::optional<uint64_t> deadline =
      timeout == INFINITE ? std::nullopt : std::optional<uint64_t>(w.now_ms + timeout);
  for (;;) {
    if (done()) return true;
    std::optional<uint64_t> next = deadline;
    for (std::optional<uint64_t> candidate : {at_latest, NextEventMs()}) {
      if (candidate && *candidate >= w.now_ms && (!next || *candidate < *next)) next = candidate;
    }
    if (!next) {
      Problem(std::string(what) + " with no time-out on something that never happens");
      return false;
    }
    AdvanceTo(*next);
    if (deadline && w.now_ms >= *deadline) return done();
  }
}

uintptr_t AddHandle(HandleEntry entry) {
  World& w = TheWorld();
  const uintptr_t value = w.next_handle;
  w.next_handle += 4;  // never reused, so a stale handle is caught
  w.handles.emplace(value, std::move(entry));
  return value;
}

HandleEntry* FindHandle(const void* handle, HandleKind kind) {
  World& w = TheWorld();
  auto found = w.handles.find(reinterpret_cast<uintptr_t>(handle));
  if (found == w.handles.end() || found->second.kind != kind) {
    w.last_error = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  return &found->second;
}

bool RemoveHandle(const void* handle, HandleKind kind, const char* closer) {
  World& w = TheWorld();
  auto found = w.handles.find(reinterpret_cast<uintptr_t>(handle));
  if (found == w.handles.end() || found->second.kind != kind) {
    std::ostringstream text;
    text << closer << " of a handle that is not open as that kind: " << handle;
    Problem(text.str());
    w.last_error = ERROR_INVALID_HANDLE;
    return false;
  }
  w.handles.erase(found);
  return true;
}

}  // namespace winsim::detail

namespace winsim {

using namespace detail;

void Reset() {
  World& w = TheWorld();
  for (void* block : w.local_blocks) std::free(block);
  w = World{};
  w.command_line = L"\"C:\\Program\\program.exe\"";
  w.module_file_name = L"C:\\Program\\program.exe";
  w.system_directory = L"C:\\Windows\\system32";
}

uint64_t NowMs() { return TheWorld().now_ms; }

void At(uint64_t at_ms, std::function<void()> event) {
  World& w = TheWorld();
  w.events.push_back(Event{at_ms, w.next_event_order++, std::move(event)});
}

size_t OpenHandleCount() {
  const World& w = TheWorld();
  return w.handles.size() + w.local_blocks.size();
}

std::string DescribeOpenHandles() {
  static const char* const kKinds[] = {"process", "thread", "snapshot", "file",
                                       "registry key", "service manager", "service"};
  const World& w = TheWorld();
  std::ostringstream text;
  for (const auto& [value, entry] : w.handles) {
    text << kKinds[static_cast<int>(entry.kind)] << " handle 0x" << std::hex << value << std::dec;
    if (entry.pid != 0) text << " pid " << entry.pid;
    if (!entry.path.empty()) text << " " << std::string(entry.path.begin(), entry.path.end());
    text << "\n";
  }
  if (!w.local_blocks.empty()) text << w.local_blocks.size() << " LocalAlloc block(s)\n";
  return text.str();
}

const std::vector<std::string>& Problems() { return TheWorld().problems; }

void SetBudget(Budget budget) { TheWorld().budget = budget; }

void FailCall(const std::string& function, unsigned nth_use, DWORD error) {
  if (!CanFail(function)) {
    Problem("FailCall(\"" + function + "\"): no such function that can fail");
    return;
  }
  if (error == 0) Problem("FailCall(\"" + function + "\") with error 0 would not fail");
  TheWorld().faults[function].push_back(World::Fault{nth_use, error});
}

bool CanFail(const std::string& function) { return !PlausibleErrors(function).empty(); }

std::vector<DWORD> PlausibleErrors(const std::string& function) {
  auto known = Functions().find(function);
  return known == Functions().end() ? std::vector<DWORD>{} : known->second.errors;
}

unsigned UseCount(const std::string& function) {
  const World& w = TheWorld();
  auto found = w.uses.find(function);
  return found == w.uses.end() ? 0 : found->second;
}

std::map<std::string, unsigned> UseCounts() { return TheWorld().uses; }

const std::vector<Call>& Journal() { return TheWorld().journal; }

std::vector<Call> CallsTo(const std::string& function) {
  std::vector<Call> calls;
  for (const Call& call : TheWorld().journal) {
    if (call.function == function) calls.push_back(call);
  }
  return calls;
}

}  // namespace winsim

// ---- Win32: errors and time ---------------------------------------------

DWORD WINAPI GetLastError() { return winsim::detail::TheWorld().last_error; }

void WINAPI SetLastError(DWORD error) { winsim::detail::TheWorld().last_error = error; }

void WINAPI Sleep(DWORD milliseconds) {
  using namespace winsim::detail;
  const CallStart call = BeginCall("Sleep", std::to_wstring(milliseconds));
  if (milliseconds == INFINITE) {
    Problem("Sleep(INFINITE) never returns");
  } else {
    AdvanceTo(TheWorld().now_ms + milliseconds);
  }
  EndCall(call.entry, 0, TheWorld().last_error);
}
