// The tests' fault-injecting web server (tests/feed_server/fault_server.py), started from Wine
// as a Unix program, serving a folder of its own below /tmp, which Wine maps to Z:\tmp. Files
// placed in the folder are served from then on. It ends when its port file is removed, which
// the destructor does with everything else in the folder, or after its lifetime.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "support/wine_helpers.h"
#include "support/world_test.h"

class FaultServer {
 public:
  // `arguments`: the server's options after its folder, its faults above all ("--fault
  // cut-once"); see its --help. Needs FAULT_SERVER and FAULT_SERVER_PYTHON from ctest.
  explicit FaultServer(const std::string& arguments, int lifetime_s = 60) {
    const std::string name = "fault-server-" + std::to_string(::GetCurrentProcessId()) + "-" +
                             std::to_string(::GetTickCount64());
    const std::string unix_folder = "/tmp/" + name;
    folder_ = L"Z:\\tmp\\" + std::wstring(name.begin(), name.end());
    EXPECT_TRUE(::CreateDirectoryW(folder_.c_str(), nullptr));
    const std::wstring python = WindowsPathFromEnvironment("FAULT_SERVER_PYTHON");
    const char* script = std::getenv("FAULT_SERVER");
    EXPECT_NE(script, nullptr);
    const std::string command = "python3 " + std::string(script ? script : "") + " " + unix_folder +
                                " --port-file " + unix_folder + "/port --log " + unix_folder +
                                "/log --lifetime " + std::to_string(lifetime_s) + " " + arguments;
    // Wine starts a Unix program without a process handle: the port file is the sign of life.
    DWORD error = 0;
    (void)road::StartProcess(python.c_str(), std::wstring(command.begin(), command.end()),
                             /*folder=*/nullptr, error);
    EXPECT_EQ(error, DWORD{ERROR_SUCCESS});
    EXPECT_TRUE(WaitUntil([&] { return !ReadText(L"port").empty(); }, 20'000));
    port_ = std::atoi(ReadText(L"port").c_str());
  }
  FaultServer(const FaultServer&) = delete;
  FaultServer& operator=(const FaultServer&) = delete;
  ~FaultServer() {
    ::DeleteFileW((folder_ + L"\\port").c_str());
    for (const std::wstring& name : FilesIn(folder_))
      ::DeleteFileW((folder_ + L"\\" + name).c_str());
    ::RemoveDirectoryW(folder_.c_str());
  }

  // Serves `bytes` as `name` from now on; a copy of the file at `source` with PlaceCopy.
  void Place(const std::wstring& name, const std::string& bytes) const {
    WriteFileBytes(folder_ + L"\\" + name, bytes);
  }
  void PlaceCopy(const std::wstring& name, const std::wstring& source) const {
    EXPECT_FALSE(CopyInto(source, folder_, name).empty()) << Narrow(source);
  }
  std::wstring Url(const std::wstring& name) const {
    return L"http://127.0.0.1:" + std::to_wstring(port_) + L"/" + name;
  }
  // The server's log: one line a request, "GET <path> <Range or -> <status>".
  std::vector<std::string> Requests() const {
    std::vector<std::string> lines;
    std::istringstream text(ReadText(L"log"));
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    return lines;
  }

  static void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    const UniqueHandle file = OwnHandle(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    EXPECT_TRUE(file && ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                                    &written, nullptr));
  }

 private:
  std::string ReadText(const wchar_t* file) const { return ReadWholeFile(folder_ + L"\\" + file); }

  std::wstring folder_;
  int port_ = 0;
};
