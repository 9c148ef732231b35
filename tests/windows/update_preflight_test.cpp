// Whether an update may run, decided on what the service found: the words a user is shown for
// each refusal, and the boundaries at which a refusal starts. Then what the service finds,
// read through the real Win32 under Wine. Wine's msiexec neither makes nor heeds
// Global\_MSIExecute (docs/wine.md), so the test holds the mutex itself, as the Windows
// Installer would during an installation.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <string>
#include <tuple>

#include "service/update_facts.h"
#include "service/update_preflight.h"
#include "support/wine_helpers.h"

namespace {

using Installer = road::UpdateFacts::Installer;
constexpr ULONGLONG kPackage = 50 * 1024 * 1024;
constexpr ULONGLONG kRoom = 5 * kPackage;  // the free space an update of kPackage needs

constexpr char kBusyText[] =
    "another program is being installed or removed on this computer; try again when it has "
    "finished";
constexpr Installer kFree = Installer::kFree, kBusy = Installer::kBusy;

TEST(UpdatePreflight, RefusesWhatWouldStopTheProductForNothingAndSaysWhy) {
  // clang-format off
  const struct {
    const char* what;
    road::UpdateFacts facts;  // installer, client session, copies known, copy sessions,
                              // drive, space known, free bytes, package bytes
    const char* refusal;      // empty: allowed
  } cases[] = {
      {"nothing in the way", {kFree, 1, true, {}, "C:", true, kRoom, kPackage}, ""},
      {"copies only in the client's session", {kFree, 1, true, {1, 1}, "C:", true, kRoom, kPackage},
       ""},
      {"another installation runs", {kBusy, 1, true, {1}, "C:", true, kRoom, kPackage}, kBusyText},
      {"the installer's state unknown",
       {Installer::kUnknown, 1, true, {}, "C:", true, kRoom, kPackage},
       "it could not be checked whether another program is being installed; try again later"},
      {"two copies in one other session", {kFree, 1, true, {2, 1, 2}, "C:", true, kRoom, kPackage},
       "Corvanta Remote is also open in 1 other user's session on this computer, and the "
       "update would close it there; ask them to close it, then try again"},
      {"copies in two other sessions, none in the client's",
       {kFree, 1, true, {3, 2}, "C:", true, kRoom, kPackage},
       "Corvanta Remote is also open in 2 other users' sessions on this computer, and the "
       "update would close it there; ask them to close it, then try again"},
      {"the copies unknown", {kFree, 1, false, {}, "C:", true, kRoom, kPackage},
       "the running copies of Corvanta Remote could not be checked; try again later"},
      {"a byte short of five times the package",
       {kFree, 1, true, {}, "D:", true, kRoom - 1, kPackage},
       "drive D: has 249 MB free and the update needs 250 MB; free some space on it, then try "
       "again"},
      {"the space unknown", {kFree, 1, true, {}, "C:", false, 0, 0},
       "the free space on the system drive could not be checked; try again later"},
      {"all in the way: the busy installer is named",
       {kBusy, 1, false, {2}, "C:", true, 0, kPackage}, kBusyText},
      {"a full drive, a package of any size", {kFree, 1, true, {}, "C:", true, 0, ~0ull},
       "drive C: has 0 MB free and the update needs 87960930222080 MB; free some space on it, then "
       "try again"},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const road::UpdateVerdict verdict = road::DecideWhetherUpdateMayRun(c.facts);
    EXPECT_EQ(verdict.allowed, c.refusal[0] == '\0');
    EXPECT_EQ(verdict.reason, c.refusal);
  }
}

TEST(UpdateFactsOnWine, InstallerIsBusyWhileItsMutexIsHeldAndFreeOnceClosed) {
  ULONG session = 0;
  ASSERT_TRUE(::ProcessIdToSessionId(::GetCurrentProcessId(), &session));
  const std::wstring package = MakeScratchFolder(L"preflight") + L"\\product.msi";
  std::ofstream(Narrow(package), std::ios::binary) << std::string(4096, 'x');
  {
    const UniqueHandle mutex =
        OwnHandle(::CreateMutexW(nullptr, /*initial_owner=*/TRUE, road::kInstallerMutexName));
    ASSERT_TRUE(mutex) << ::GetLastError();
    const road::UpdateFacts facts = road::GatherUpdateFacts(session, package);
    EXPECT_EQ(facts.installer, kBusy);
    EXPECT_EQ(road::DecideWhetherUpdateMayRun(facts).reason, kBusyText);
  }
  const road::UpdateFacts facts = road::GatherUpdateFacts(session, package);
  EXPECT_EQ(std::tie(facts.installer, facts.space_known, facts.system_drive, facts.package_bytes),
            std::make_tuple(kFree, true, "C:", 4096u));
  EXPECT_GT(facts.free_bytes, 0u);
}

}  // namespace
