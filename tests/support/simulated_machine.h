// The simulated machine that the host tests and the fuzz targets run the
// updater on: described as data (what is installed and running, how it
// behaves over time, which calls fail) and set up by one arranger.
#pragma once

#include <winsim/world.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "shared/updater_contract.h"

// Where the updater, its log, the package and the product are.
inline const std::wstring kProgramFiles = L"C:\\Program Files";
inline const std::wstring kSystemDirectory = L"C:\\Windows\\system32";
inline const std::wstring kUpdaterPath =
    L"C:\\Updater\\" + std::wstring(updater_contract::kUpdaterFileName);
inline const std::wstring kUpdaterLog = kUpdaterPath + updater_contract::kLogSuffix;
inline const std::wstring kPackage = L"D:\\pkg\\update.msi";

// The product's executable below a ProgramFiles folder.
inline std::wstring ProductPathBelow(const std::wstring& program_files) {
  return program_files + L"\\" + updater_contract::kProductFolderName + L"\\" +
         updater_contract::kProductExecutableName;
}
inline const std::wstring kInstalledProduct = ProductPathBelow(kProgramFiles);

inline constexpr DWORD kOldUiPid = 4242;
inline constexpr uint64_t kNever = UINT64_MAX;

// `function` fails with `error` on its use-th call (1: the first), or on
// every call when use is 0.
struct Fault {
  std::string function;
  unsigned use;
  DWORD error;
};
// The error of a call refused for want of rights, the fault most tables make.
inline constexpr DWORD kDenied = ERROR_ACCESS_DENIED;

// A write of the record by someone else, at a time (0: before the run).
struct RecordWrite {
  uint64_t at_ms;
  std::wstring text;
  DWORD type = REG_SZ;
};

// The machine by default: the product installed with its service running,
// ProgramFiles set, the package in place, msiexec ending with 0 after 4 s.
struct Machine {
  std::optional<std::wstring> program_files = kProgramFiles;
  std::wstring system_directory = kSystemDirectory;
  // The product's service, named by the arranger; none: not installed.
  std::optional<winsim::ServiceSpec> service = winsim::ServiceSpec{};
  bool other_program = false;  // a process of another program runs
  // Running copies of the installed product: how long each takes to end
  // once terminated (kNever: it never does).
  std::vector<uint64_t> product_copies;
  // The old UI, process kOldUiPid, ends then (0: before the run, kNever:
  // never); none: there is no such process.
  std::optional<uint64_t> old_ui_exits_at_ms;
  std::optional<std::wstring> package = kPackage;  // a file that exists
  DWORD installer_exit = 0;
  uint64_t installer_takes_ms = 4000;
  std::vector<RecordWrite> record;
  // How launches of the installed product behave; the last one repeats.
  std::vector<winsim::LaunchScript> product_launches;
  std::vector<Fault> faults;
};

// "<updater>" <switch> <argument> <token>, the way the product starts it.
inline std::wstring UpdaterCommandLine(const std::wstring& mode_switch,
                                       const std::wstring& argument, const std::wstring& token) {
  return L"\"" + kUpdaterPath + L"\" " + mode_switch + L" " + argument + L" " + token;
}

// A fresh world in which the updater runs from kUpdaterPath without arguments.
inline void ResetMachine() {
  winsim::Reset();
  winsim::SetModuleFileName(kUpdaterPath);
  winsim::SetCommandLine(L"\"" + kUpdaterPath + L"\"");
}

// A running copy of the product program, the installed one unless another
// image path and file name are given (for another program), that ends this
// long after it is terminated (kNever: never); returns its id.
inline DWORD AddProductCopy(
    uint64_t ends_after_terminate_ms = 0, const std::wstring& image_path = kInstalledProduct,
    const std::wstring& exe_name = updater_contract::kProductExecutableName) {
  winsim::ProcessSpec copy;
  copy.exe_name = exe_name;
  copy.image_path = image_path;
  copy.ends_after_terminate_ms = ends_after_terminate_ms == kNever
                                     ? std::nullopt
                                     : std::optional<uint64_t>(ends_after_terminate_ms);
  return winsim::AddProcess(copy);
}

// Returns the ids of the product's copies, in the order of the machine's list.
inline std::vector<DWORD> ArrangeProcesses(const Machine& machine) {
  if (machine.service) {
    winsim::ServiceSpec service = *machine.service;
    service.name = updater_contract::kServiceName;
    winsim::AddService(service);
  }
  if (machine.other_program) AddProductCopy(0, L"C:\\Windows\\explorer.exe", L"explorer.exe");
  std::vector<DWORD> copies;
  for (uint64_t ends_after : machine.product_copies) copies.push_back(AddProductCopy(ends_after));
  if (machine.old_ui_exits_at_ms) {
    winsim::ProcessSpec old_ui;
    old_ui.pid = kOldUiPid;
    old_ui.exe_name = updater_contract::kProductExecutableName;
    old_ui.image_path = kInstalledProduct;
    if (*machine.old_ui_exits_at_ms != kNever) old_ui.exits_at_ms = *machine.old_ui_exits_at_ms;
    winsim::AddProcess(old_ui);
  }
  return copies;
}

inline void ArrangeRecord(const std::vector<RecordWrite>& writes) {
  for (const RecordWrite& write : writes) {
    const auto store = [write] {
      winsim::SetRegistryString(updater_contract::kStatusKeyPath,
                                updater_contract::kStatusValueName, write.text, write.type);
    };
    if (write.at_ms == 0)
      store();
    else
      winsim::At(write.at_ms, store);
  }
}

// Sets the machine up in the current world; returns the ids of the
// product's copies.
inline std::vector<DWORD> ArrangeMachine(const Machine& machine) {
  if (machine.program_files) winsim::SetEnvironment(L"ProgramFiles", *machine.program_files);
  winsim::SetSystemDirectory(machine.system_directory);
  const std::vector<DWORD> copies = ArrangeProcesses(machine);
  if (machine.package) winsim::SetFile(*machine.package, "package bytes");
  winsim::LaunchScript installer;
  installer.exit_after_ms = machine.installer_takes_ms;
  installer.exit_code = machine.installer_exit;
  winsim::ScriptLaunches(machine.system_directory + L"\\msiexec.exe", {installer});
  ArrangeRecord(machine.record);
  winsim::ScriptLaunches(kInstalledProduct, machine.product_launches);
  for (const Fault& fault : machine.faults)
    winsim::FailCall(fault.function, fault.use, fault.error);
  return copies;
}

// The record as the simulated registry holds it. Reading it makes no call, so
// it may be read in the middle of a run without counting as one.
inline std::optional<std::wstring> PublishedRecord() {
  return winsim::GetRegistryString(updater_contract::kStatusKeyPath,
                                   updater_contract::kStatusValueName);
}

// Whether msiexec was started: installer mode starts no other program.
inline bool InstallerRan() {
  const std::vector<winsim::Launch>& launches = winsim::Launches();
  return std::any_of(launches.begin(), launches.end(), [](const auto& l) { return l.pid != 0; });
}

inline std::string WatcherLog() { return winsim::FileContent(kUpdaterLog).value_or(""); }
