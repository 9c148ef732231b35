// The base of every test that touches Windows. On the host it starts a fresh
// simulated world and checks at the end that no handle was left open and
// nothing was misused; under Wine it clears what the tests leave in the real
// registry.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

#if !defined(_WIN32)
#include <winsim/world.h>
#endif

inline constexpr wchar_t kStatusKey[] = L"SOFTWARE\\Corvanta\\RemoteUpdater";
// What installer mode puts before its outcome when the service stays down.
inline constexpr wchar_t kRestartPrefix[] =
    L"failed:Remote service could not restart; installation result: ";

#if !defined(_WIN32)
// Where the host tests install the updater, its log beside it, and the product.
inline constexpr wchar_t kUpdaterPath[] = L"C:\\Updater\\RemoteUpdater.exe";
inline constexpr wchar_t kUpdaterLog[] = L"C:\\Updater\\RemoteUpdater.exe.log";
inline constexpr wchar_t kInstalledProduct[] =
    L"C:\\Program Files\\Corvanta Remote\\Corvanta Remote.exe";

// The record as the simulated registry holds it. Reading it makes no call, so
// it may be read in the middle of a run without counting as one.
inline std::optional<std::wstring> PublishedRecord() {
  return winsim::GetRegistryString(kStatusKey, L"Status");
}
#endif

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
