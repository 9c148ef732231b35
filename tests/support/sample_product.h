// The sample product under Wine: its service registered under its own name
// (road::kServiceName) in the real Service Control Manager, and its program
// started from the installed location or elsewhere.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "hooks/fixture.h"
#include "shared/product_location.h"
#include "shared/unique_handles.h"
#include "support/wine_helpers.h"
#include "contract/road_contract.h"
#include "ui/service_status.h"

inline std::wstring SampleServiceExecutable() {
  return SampleFolder() + L"\\v1\\CorvantaRemoteService.exe";
}

inline UniqueScHandle OpenRemoteServiceForTest() {
  const UniqueScHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return nullptr;
  return UniqueScHandle(::OpenServiceW(manager.get(), road::kServiceName, SERVICE_ALL_ACCESS));
}

// Registers the service with `options` (the sample service's own switches)
// on its command line and starts it. Fails the test when it does not run.
inline void InstallAndStartRemoteService(const std::wstring& options) {
  const UniqueScHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  ASSERT_TRUE(manager) << ::GetLastError();
  ASSERT_TRUE(FileExistsAt(SampleServiceExecutable()))
      << "sample service missing; CORVANTA_SAMPLE_DIR must name the sample build";
  const std::wstring command = L"\"" + SampleServiceExecutable() + L"\" " + options;
  const UniqueScHandle service(
      ::CreateServiceW(manager.get(), road::kServiceName, road::kServiceName,
                       SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                       SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr, nullptr,
                       nullptr));
  ASSERT_TRUE(service) << ::GetLastError();
  ASSERT_TRUE(::StartServiceW(service.get(), 0, nullptr)) << ::GetLastError();
  SERVICE_STATUS status{};
  for (int poll = 0; poll < 100 && ::QueryServiceStatus(service.get(), &status) &&
                     status.dwCurrentState != SERVICE_RUNNING;
       ++poll) {
    ::Sleep(100);
  }
  ASSERT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
}

// Whether the process is gone: it cannot be opened any more, or it is
// signalled.
inline bool ProcessHasEnded(DWORD pid) {
  const UniqueHandle process = OwnHandle(::OpenProcess(SYNCHRONIZE, FALSE, pid));
  return !process || ::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0;
}

// A counter the sample service keeps under HKLM\SOFTWARE\Corvanta\SampleService.
inline DWORD SampleServiceCounter(const wchar_t* name) {
  DWORD value = 0;
  DWORD size = sizeof(value);
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Corvanta\\SampleService", name,
                     RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS) {
    return 0;
  }
  return value;
}

// Ends the service however it can (a service that ignores stop loses its
// host process) and removes it, so later tests in this prefix start afresh.
inline void RemoveRemoteService() {
  const UniqueScHandle service = OpenRemoteServiceForTest();
  if (!service) return;
  const DWORD host = road::ServiceStatus().dwProcessId;
  SERVICE_STATUS status{};
  ::ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
  if (host != 0) {
    const UniqueHandle process =
        OwnHandle(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, host));
    if (process && ::WaitForSingleObject(process.get(), 15000) != WAIT_OBJECT_0) {
      ::TerminateProcess(process.get(), 1);
      ::WaitForSingleObject(process.get(), 5000);
    }
  }
  ::DeleteService(service.get());
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Corvanta\\SampleService");
}

// The update status record's text, read through the registry API.
inline std::wstring PublishedRecordText() {
  wchar_t text[4096] = {};
  DWORD size = sizeof(text) - sizeof(wchar_t);
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Corvanta\\RemoteUpdater", L"Status",
                     RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS) {
    return L"<no record>";
  }
  return text;
}

// %ProgramFiles%\Corvanta Remote, where the product program is installed;
// empty when the variable is unset or does not fit a path, so that nothing
// lands in a folder named after the rest.
inline std::wstring InstalledFolder() {
  wchar_t program_files[MAX_PATH] = {};
  const DWORD length = ::GetEnvironmentVariableW(L"ProgramFiles", program_files, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return L"";
  return std::wstring(program_files, length) + L"\\Corvanta Remote";
}

inline std::wstring SampleProgram() { return SampleFolder() + L"\\v1\\Corvanta Remote.exe"; }

// Copies the sample program into the installed location; returns its path,
// or empty.
inline std::wstring InstallSampleProgram() {
  const std::wstring folder = InstalledFolder();
  if (folder.empty()) return L"";
  ::CreateDirectoryW(folder.c_str(), nullptr);
  return CopyInto(SampleProgram(), folder);
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

// The file's bytes; empty when it cannot be read.
inline std::string ReadWholeFile(const std::wstring& path) {
  const UniqueHandle file =
      OwnHandle(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string content;
  char chunk[4096];
  DWORD got = 0;
  while (file && ::ReadFile(file.get(), chunk, sizeof(chunk), &got, nullptr) && got > 0) {
    content.append(chunk, got);
  }
  return content;
}

// The process ids of a watcher log's "Launch PID=" lines, in order.
inline std::vector<DWORD> LaunchedIds(const std::string& log) {
  std::vector<DWORD> ids;
  const std::string marker = "Launch PID=";
  for (size_t at = log.find(marker); at != std::string::npos; at = log.find(marker, at + 1)) {
    ids.push_back(static_cast<DWORD>(std::stoul(log.substr(at + marker.size()))));
  }
  return ids;
}

// Sets a DWORD under HKLM\SOFTWARE\Corvanta\<subkey>, where the sample
// product's programs read their behaviour.
inline void WriteSampleDword(const wchar_t* subkey, const wchar_t* name, DWORD value) {
  HKEY key = nullptr;
  const std::wstring path = std::wstring(L"SOFTWARE\\Corvanta\\") + subkey;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const UniqueHKey owned(key);
  ASSERT_EQ(::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                             sizeof(value)),
            ERROR_SUCCESS);
}

// A REG_SZ under HKLM\SOFTWARE\Corvanta\<subkey>; empty when missing.
inline std::wstring ReadSampleString(const wchar_t* subkey, const wchar_t* name) {
  wchar_t text[4096] = {};
  DWORD size = sizeof(text) - sizeof(wchar_t);
  const std::wstring path = std::wstring(L"SOFTWARE\\Corvanta\\") + subkey;
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, path.c_str(), name, RRF_RT_REG_SZ, nullptr, text, &size) !=
      ERROR_SUCCESS) {
    return L"";
  }
  return text;
}

inline const std::string kWaitingLine = "Waiting for update completion and old UI exit\r\n";

inline std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(towlower(c));
  return text;
}

// One start of the sample UI, as its test hooks record it.
using UiStart = sample::fixture::LaunchRecord;
inline UiStart LastUiStart() { return sample::fixture::LastLaunch(); }

// The checks every update that reaches the installer shares: the service runs
// again as `version`, the old UI was ended, and the product runs again from
// its installed location with its folder as working directory, started as the
// watcher's log says.
inline void ExpectRelaunchedAfterUpdate(const std::string& watcher_log, const std::wstring& version,
                                        DWORD old_ui_pid) {
  EXPECT_EQ(road::ServiceStatus().dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(ReadSampleString(L"SampleService", L"RunningVersion"), version);
  EXPECT_TRUE(ProcessHasEnded(old_ui_pid));

  const std::vector<DWORD> launched = LaunchedIds(watcher_log);
  ASSERT_EQ(launched.size(), 1u) << watcher_log;
  EXPECT_EQ(watcher_log,
            kWaitingLine + "Launch PID=" + std::to_string(launched[0]) + " exit=259\r\n");
  const UiStart relaunched = LastUiStart();
  const std::wstring product_path = ProductExecutablePath();
  EXPECT_EQ(relaunched.pid, launched[0]);
  EXPECT_EQ(relaunched.version, version);
  EXPECT_EQ(Lower(relaunched.image_path), Lower(product_path));
  EXPECT_EQ(Lower(relaunched.current_directory),
            Lower(product_path.substr(0, product_path.rfind(L'\\'))));
  EXPECT_FALSE(ProcessHasEnded(relaunched.pid));
}
