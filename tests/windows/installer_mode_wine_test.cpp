// RemoteUpdater.exe in installer mode under Wine, against the real Service
// Control Manager and Wine's own msiexec: the service is stopped and the
// installed program ended, a package that does not exist is reported with
// msiexec's exit code, and the service runs again afterwards.
#include <string>

#include "support/sample_product.h"
#include "support/world_test.h"

namespace {

class InstallerModeOnWine : public WorldTest {
 protected:
  void TearDown() override {
    RemoveRemoteService();
    WorldTest::TearDown();
  }
};

TEST_F(InstallerModeOnWine, MissingPackageIsReportedAfterTheServiceIsBack) {
  InstallAndStartRemoteService(L"--stop-delay-ms 1000");
  const DWORD old_host = road::ServiceStatus().dwProcessId;
  const UniqueHandle product = StartProgram(InstallSampleProgram());
  ASSERT_TRUE(product && IsStillRunning(product.get()));
  const std::wstring folder = MakeScratchFolder(L"installer mode");
  const std::wstring updater = CopyInto(UpdaterExecutable(), folder);
  ASSERT_FALSE(updater.empty()) << "REMOTEUPDATER_EXE must name RemoteUpdater.exe";
  const std::wstring msi = folder + L"\\missing update.msi";

  const std::optional<DWORD> exit_code =
      RunToExit(updater, L" --edk-remote-install-msi \"" + msi + L"\" tok-e2e", 120000);

  ASSERT_TRUE(exit_code.has_value());
  EXPECT_EQ(*exit_code, 1u);
  // Wine's msiexec ends with 2 for a package it cannot find (Windows: 1619).
  EXPECT_EQ(PublishedRecordText(), L"tok-e2e|failed:MSI exit 2; log: " + msi + L".log");
  EXPECT_TRUE(FileExistsAt(msi + L".log"));
  EXPECT_TRUE(ProcessHasEnded(old_host));
  EXPECT_FALSE(IsStillRunning(product.get()));
  EXPECT_EQ(ExitCodeWithin(product.get(), 0), 0u);
  EXPECT_EQ(SampleServiceCounter(L"Stops"), 1u);
  EXPECT_EQ(SampleServiceCounter(L"Starts"), 2u);
  EXPECT_EQ(road::ServiceStatus().dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
}

}  // namespace
