// The base of every test that touches Windows. On the host it starts a fresh
// simulated world and checks at the end that no handle was left open and
// nothing was misused; under Wine it clears what the tests leave in the real
// registry.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#if !defined(_WIN32)
#include <winsim/world.h>
#endif

inline constexpr wchar_t kStatusKey[] = L"SOFTWARE\\Corvanta\\RemoteUpdater";
// Where the host tests install the updater; its log lives beside it.
inline constexpr wchar_t kUpdaterPath[] = L"C:\\Updater\\RemoteUpdater.exe";

class WorldTest : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(_WIN32)
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kStatusKey);
#else
    winsim::Reset();
    winsim::SetModuleFileName(kUpdaterPath);
    winsim::SetCommandLine(L"\"" + std::wstring(kUpdaterPath) + L"\"");
#endif
  }

  void TearDown() override {
#if defined(_WIN32)
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kStatusKey);
#else
    EXPECT_EQ(winsim::OpenHandleCount(), 0u) << winsim::DescribeOpenHandles();
    for (const std::string& problem : winsim::Problems()) ADD_FAILURE() << problem;
#endif
  }
};
