// The sample product under Wine: its service registered under the product's service name in the
// real Service Control Manager, its programs started from the installed location or elsewhere,
// the values its test hooks keep (tests/hooks/fixture.h), and the watcher's log as a user
// reads it.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "contract/road_contract.h"
#include "hooks/fixture.h"
#include "shared/product_location.h"
#include "shared/unique_handles.h"
#include "shared/updater_contract.h"
#include "support/wine_helpers.h"
#include "support/world_test.h"
#include "ui/service_status.h"
#include "win/machine_registry.h"

using sample::fixture::kServiceKey;
using sample::fixture::kUiKey;

inline std::wstring SampleServiceExecutable() {
  return SampleFolder() + L"\\v1\\" + road::kServiceProgramName;
}
inline std::wstring SampleProgram() {
  return SampleFolder() + L"\\v1\\" + updater_contract::kProductExecutableName;
}

// The service's state and host process as the Service Control Manager reports them now.
inline DWORD ServiceState() { return road::ServiceStatus().dwCurrentState; }
inline DWORD ServiceHost() { return road::ServiceStatus().dwProcessId; }

// The version the sample service reports while it runs; empty while none runs.
inline std::wstring RunningVersion() {
  return road::ReadMachineString(kServiceKey, L"RunningVersion");
}
// How often the sample service was started (L"Starts") or stopped (L"Stops").
inline DWORD ServiceCounter(const wchar_t* name) {
  return road::ReadMachineDword(kServiceKey, name, 0);
}

inline UniqueScHandle OpenRemoteServiceForTest() {
  const UniqueScHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return nullptr;
  return UniqueScHandle(
      ::OpenServiceW(manager.get(), updater_contract::kServiceName, SERVICE_ALL_ACCESS));
}

// Registers the service with `options` (the sample service's own switches) on its command
// line and starts it. Fails the test when it does not run.
inline void InstallAndStartRemoteService(const std::wstring& options) {
  const UniqueScHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  ASSERT_TRUE(manager) << ::GetLastError();
  ASSERT_TRUE(FileExistsAt(SampleServiceExecutable()))
      << "sample service missing; CORVANTA_SAMPLE_DIR must name the sample build";
  const std::wstring command = L"\"" + SampleServiceExecutable() + L"\" " + options;
  const wchar_t* name = updater_contract::kServiceName;
  const UniqueScHandle service(::CreateServiceW(manager.get(), name, name, SERVICE_ALL_ACCESS,
                                                SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                                SERVICE_ERROR_NORMAL, command.c_str(), nullptr,
                                                nullptr, nullptr, nullptr, nullptr));
  ASSERT_TRUE(service) << ::GetLastError();
  ASSERT_TRUE(::StartServiceW(service.get(), 0, nullptr)) << ::GetLastError();
  ASSERT_TRUE(WaitUntil([] { return ServiceState() == SERVICE_RUNNING; }, 10000));
}

// Whether the process is gone: it cannot be opened any more, or it is signalled.
inline bool ProcessHasEnded(DWORD pid) {
  const UniqueHandle process = OwnHandle(::OpenProcess(SYNCHRONIZE, FALSE, pid));
  return !process || ::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0;
}

// Ends the service however it can (a service that ignores stop loses its host process) and
// removes it, so later tests in this prefix start afresh.
inline void RemoveRemoteService() {
  const UniqueScHandle service = OpenRemoteServiceForTest();
  if (!service) return;
  const DWORD host = ServiceHost();
  SERVICE_STATUS status{};
  ::ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
  const UniqueHandle process =
      OwnHandle(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, host));
  if (process && ::WaitForSingleObject(process.get(), 15000) != WAIT_OBJECT_0) {
    ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), 5000);
  }
  ::DeleteService(service.get());
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kServiceKey);
}

// Copies the sample program into the installed location; returns its path, or empty.
inline std::wstring InstallSampleProgram(const std::wstring& program = SampleProgram()) {
  const std::wstring folder = FolderOf(ProductExecutablePath());
  if (folder.empty()) return L"";
  ::CreateDirectoryW(folder.c_str(), nullptr);
  return CopyInto(program, folder);
}

// Starts `path` and waits until it pumps messages.
inline UniqueHandle StartProgram(const std::wstring& path) {
  ProcessHandles handles = StartWithArguments(path);
  if (!handles.process) return nullptr;
  ::WaitForInputIdle(handles.process.get(), 10000);
  return std::move(handles.process);
}

inline bool IsStillRunning(HANDLE process) {
  return ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
}

// The process ids of a watcher log's launch lines, in order.
inline std::vector<DWORD> LaunchedIds(const std::string& log) {
  std::vector<DWORD> ids;
  const std::string marker = updater_contract::kWatcherLaunchPid;
  for (size_t at = log.find(marker); at != std::string::npos; at = log.find(marker, at + 1)) {
    ids.push_back(static_cast<DWORD>(std::stoul(log.substr(at + marker.size()))));
  }
  return ids;
}

using sample::fixture::LastLaunchLine;
using sample::fixture::LastLaunchPid;
