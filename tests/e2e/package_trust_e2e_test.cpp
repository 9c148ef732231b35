// Packages the service must not install, delivered to Incoming as a download would bring them
// (with a .sha256 file that matches, unless the row says otherwise): a click on "Apply update" gets
// the refusal with its reason, no watcher is started, and nothing of version 1 is stopped or ended.
// The prefix trusts the test root; the package that completes is covered by the road's other cases.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "contract/pipe_protocol.h"
#include "contract/road_paths.h"
#include "e2e/product_update.h"

namespace {

class PackageTrust : public ProductUpdate {};

const std::string kNoHash;
const std::string kOtherHash(64, '0');

TEST_F(PackageTrust, PackagesThatFailARuleAreRefusedBeforeAnythingStops) {
  const std::wstring signed_by = TestPublisherFile(L"signed\\CorvantaRemote-2.0.0-");
  const struct {
    const char* name;
    std::wstring source;
    const char* answer;  // the refusal's reason
    const char* logged;  // in the service's log: the check's verdict, or what it did instead
    const std::string* hash_file = nullptr;  // the .sha256 file's text; nothing: the package's hash
  } cases[] = {
      {"unsigned", SamplePackage(L"unsigned\\CorvantaRemote-2.0.0.msi"), "package is not signed",
       "signer (none) ((none)), package version 2.0.0, installed 1.0.0; refused: package is not "
       "signed"},
      {"another publisher under the trusted root", signed_by + L"other-publisher.msi",
       "package is not signed by the product's publisher",
       "installed 1.0.0; refused: package is not signed by the product's publisher"},
      {"a publisher under an untrusted root", signed_by + L"stranger.msi",
       "package signature does not chain to a trusted root",
       "installed 1.0.0; refused: package signature does not chain to a trusted root"},
      {"another product's UpgradeCode", SamplePackage(L"CorvantaRemote-2.0.0-foreign.msi"),
       "package is not of this product",
       "installed 1.0.0; refused: package is not of this product"},
      {"a .sha256 file that holds no hash", SamplePackage(L"CorvantaRemote-2.0.0.msi"),
       "package hash mismatch", "Package hash mismatch: expected (none)", &kNoHash},
      {"a .sha256 file of other bytes", SamplePackage(L"CorvantaRemote-2.0.0.msi"),
       "package hash mismatch", "Package hash mismatch: expected 0000000000", &kOtherHash},
      // Never offered: it leaves Incoming as soon as the service looks for a package.
      {"the installed version", SamplePackage(L"CorvantaRemote-1.0.0.msi"), "no pending package",
       "Removed CorvantaRemote-next.msi from Incoming: its version 1.0.0"},
  };
  const std::wstring delivered = road::PathIn(road::IncomingFolder(), L"CorvantaRemote-next.msi");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PlacePending(L"CorvantaRemote-next.msi", c.source, c.hash_file);

    const LogFollower ui_log(road::UiLogPath());

    const UpdateRun update = Click(old_ui_pid_);

    EXPECT_EQ(update.answer, road::kRefusedAnswer + std::string(c.answer));
    EXPECT_EQ(ui_log.WaitForLine(Narrow(road::kUiStartedWatcher), 0), "");
    EXPECT_NE(update.service_log.find(c.logged), std::string::npos) << update.service_log;
    ExpectNothingStarted();
    (void)::DeleteFileW((delivered + road::kHashSuffix).c_str());
    (void)::DeleteFileW(delivered.c_str());
  }
}

// Bad deliveries hide no good one, whatever their dates: each is set aside for an
// administrator with its reason (the 5 newest kept), and of the good ones the highest version
// is installed, not the one written last.
TEST_F(PackageTrust, BadDeliveriesAreSetAsideAndTheHighestGoodOneInstalled) {
  const std::wstring foreign = road::PathIn(road::IncomingFolder(), L"CorvantaRemote-zz.msi");
  PlacePending(L"CorvantaRemote-zz.msi", SamplePackage(L"CorvantaRemote-2.0.0-foreign.msi"));
  FILETIME future = {};
  ::GetSystemTimeAsFileTime(&future);
  future.dwHighDateTime += 100;  // some years ahead
  for (const std::wstring& path : {foreign, foreign + road::kHashSuffix}) {
    const UniqueHandle file = OwnHandle(
        ::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file && ::SetFileTime(file.get(), &future, &future, &future));
  }
  for (int n = 1; n <= 5; ++n) {
    const std::wstring name = L"CorvantaRemote-bad" + std::to_wstring(n) + L".msi";
    PlacePending(name, SamplePackage(L"CorvantaRemote-2.0.0.msi"), &kOtherHash);
  }
  PlacePending(L"CorvantaRemote-2.0.1.msi");

  // Written last, and yet not the one installed.
  const UpdateRun update = ApplyOnTheRoad(L"CorvantaRemote-2.0.0.msi", old_ui_pid_);

  ExpectCompleted(update, L"2.0.1");
  EXPECT_FALSE(FileExistsAt(foreign));
  const std::vector<road::StagedFolder> set_aside =
      road::ListTokenFolders(road::QuarantineFolder());
  EXPECT_EQ(set_aside.size(), 5u);
  for (const road::StagedFolder& folder : set_aside) {
    const std::string why = ReadWholeFile(
        road::PathIn(road::PathIn(road::QuarantineFolder(), folder.token), L"why.txt"));
    EXPECT_TRUE(why == "package is not of this product\r\n" || why == "package hash mismatch\r\n")
        << why;
  }
}

}  // namespace
