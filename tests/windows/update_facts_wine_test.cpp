// What the service finds before an update, read through the real Win32 under Wine. Wine's
// msiexec neither makes nor heeds Global\_MSIExecute (docs/wine.md), so the test holds the
// mutex itself, as the Windows Installer would during an installation.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <string>
#include <vector>

#include "service/update_facts.h"
#include "support/sample_product.h"

namespace {

using Installer = road::UpdateFacts::Installer;

ULONG OwnSession() {
  ULONG session = 0;
  EXPECT_TRUE(::ProcessIdToSessionId(::GetCurrentProcessId(), &session));
  return session;
}

// A package of `bytes` bytes in a scratch folder; returns its path.
std::wstring PackageOfSize(DWORD bytes) {
  const std::wstring path = MakeScratchFolder(L"preflight") + L"\\product.msi";
  std::ofstream(Narrow(path), std::ios::binary) << std::string(bytes, 'x');
  return path;
}

TEST(UpdateFactsOnWine, InstallerIsBusyWhileItsMutexIsHeldAndFreeOnceClosed) {
  const std::wstring package = PackageOfSize(4096);
  {
    const UniqueHandle mutex =
        OwnHandle(::CreateMutexW(nullptr, /*initial_owner=*/TRUE, road::kInstallerMutexName));
    ASSERT_TRUE(mutex) << ::GetLastError();
    const road::UpdateFacts facts = road::GatherUpdateFacts(OwnSession(), package);
    EXPECT_EQ(facts.installer, Installer::kBusy);
    EXPECT_EQ(road::DecideWhetherUpdateMayRun(facts).reason.rfind("another program is being", 0),
              0u);
  }
  const road::UpdateFacts facts = road::GatherUpdateFacts(OwnSession(), package);
  EXPECT_EQ(facts.installer, Installer::kFree);
  EXPECT_TRUE(facts.space_known);
  EXPECT_EQ(facts.system_drive, "C:");
  EXPECT_EQ(facts.package_bytes, 4096u);
  EXPECT_GT(facts.free_bytes, 0u);
}

// Wine runs every process in one session: copies in other sessions are judged on data only.
TEST(UpdateFactsOnWine, InstalledUiCopiesAreFoundWithTheirSessionAndOthersAreNot) {
  ASSERT_TRUE(FileExistsAt(SampleProgram())) << "CORVANTA_SAMPLE_DIR must name the sample build";
  const UniqueHandle installed = StartProgram(InstallSampleProgram());
  const UniqueHandle elsewhere =
      StartProgram(CopyInto(SampleProgram(), MakeScratchFolder(L"elsewhere")));
  ASSERT_TRUE(installed && elsewhere);

  const road::UpdateFacts facts = road::GatherUpdateFacts(OwnSession(), PackageOfSize(1));
  EXPECT_TRUE(facts.ui_copies_known);
  EXPECT_EQ(facts.ui_copy_sessions, std::vector<ULONG>{OwnSession()});
  EXPECT_TRUE(road::DecideWhetherUpdateMayRun(facts).allowed);

  for (HANDLE process : {installed.get(), elsewhere.get()}) {
    ::TerminateProcess(process, 1);
    ::WaitForSingleObject(process, 5000);
  }
}

}  // namespace
