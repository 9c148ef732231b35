// The service finds its update in a signed feed and downloads it through the tests' fault
// server, whatever the network does to it, and a click installs it; a feed or a download that
// must not be trusted leaves nothing in Incoming and the service says why.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "contract/pipe_protocol.h"
#include "contract/road_paths.h"
#include "e2e/product_update.h"
#include "support/fault_server.h"
#include "ui/ui_window.h"
#include "ui/update_client.h"

namespace {

class FeedUpdate : public ProductUpdate {
 protected:
  // Serves the test feed `feed` (tests/feed_server/make_test_feeds) through a fault server
  // with `faults`, and names it in the machine's policy, which turns updates on.
  void Serve(const std::wstring& feed, const std::string& faults) {
    server_ = std::make_unique<FaultServer>(faults, /*lifetime_s=*/180);
    const std::wstring folder = TestPublisherFile(L"feeds\\" + feed);
    for (const std::wstring& name : FilesIn(folder))
      server_->PlaceCopy(name, folder + L"\\" + name);
    NameFeed(server_->Url(L"feed.json"));
  }

  // A user interface started now that asks the service for the next update's status itself.
  static UniqueHandle StartUiThatAsks() {
    sample::fixture::WriteDword(kUiKey, L"NoStatusPolls", 0);
    return StartProgram(ProductExecutablePath());
  }

  // The requests of version `version`'s package, as the server logged them: "<Range or ->
  // <status>", a resumed Range's number as "N".
  std::vector<std::string> PackageRequests(const std::string& version) const {
    const std::string get = "GET /CorvantaRemote-" + version + ".msi ";
    std::vector<std::string> found;
    for (const std::string& line : server_->Requests()) {
      if (line.rfind(get, 0) != 0) continue;
      std::string request = line.substr(get.size());
      if (request.rfind("bytes=", 0) == 0) request.replace(6, request.find('-') - 6, "N");
      found.push_back(request);
    }
    return found;
  }

  std::unique_ptr<FaultServer> server_;
};

// A bad network on the way: the download resumes, or starts again, until the release checks
// out, and a click installs it.
struct NetworkFault {
  const char* name;
  const char* faults;
  // The requests of the package, as the server logged them: "<Range or -> <status>", the
  // resumed Range's number as "N".
  std::vector<std::string> package_requests;
  // Whether the status is asked for while the download waits on the server: the pipe answers
  // all the same.
  bool answered_while_downloading;
};

class NetworkFaults : public FeedUpdate, public ::testing::WithParamInterface<NetworkFault> {};

TEST_P(NetworkFaults, DownloadSurvivesAndTheClickInstallsIt) {
  Serve(L"good", GetParam().faults);
  EXPECT_EQ(StatusOnceAnswered("status ready-to-install 2.0.0", 60000),
            "status ready-to-install 2.0.0");
  EXPECT_EQ(PackageRequests("2.0.0"), GetParam().package_requests);
  if (GetParam().answered_while_downloading) {
    EXPECT_TRUE(std::any_of(answers_.begin(), answers_.end(), [](const std::string& answer) {
      return answer.rfind("status downloading ", 0) == 0;
    })) << testing::PrintToString(answers_);
  }
  EXPECT_TRUE(FileExistsAt(road::IncomingFolder() + L"\\CorvantaRemote-2.0.0.msi.sha256"));
  ExpectCompleted(Click(old_ui_pid_), L"2.0.0");
}

INSTANTIATE_TEST_SUITE_P(
    Feed, NetworkFaults,
    ::testing::Values(
        // cut half-way; the resume's Range answered with the whole body: started again
        NetworkFault{"CutAndRangeIgnored",
                     "--fault cut-once --fault ignore-range",
                     {"- 200", "bytes=N- 200"},
                     false},
        // half the body, then nothing: timed out, retried and resumed
        NetworkFault{"Stalled", "--fault stall-once --stall 8", {"- 200", "bytes=N- 206"}, true},
        // the server busy: retried after its Retry-After
        NetworkFault{"Busy", "--fault 503-once --retry-after 1", {"- 503", "- 200"}, false}),
    kRowName);

// What must not be trusted installs nothing: the status says why, Incoming stays empty, and
// version 1 runs on.
struct Refusal {
  const char* name;
  const wchar_t* feed;
  const char* faults;
  const wchar_t* serial_seen;  // the highest feed serial the machine has accepted
  std::string status;          // the start of the status answer
};

class Refusals : public FeedUpdate, public ::testing::WithParamInterface<Refusal> {};

TEST_P(Refusals, InstallNothingAndSayWhy) {
  const Refusal& refusal = GetParam();
  if (*refusal.serial_seen != L'\0') {
    sample::fixture::WriteString(road::kRoadKeyPath, L"FeedSerial", refusal.serial_seen);
  }
  Serve(refusal.feed, refusal.faults);
  const std::string answer = StatusOnceAnswered(refusal.status, 60000);
  EXPECT_EQ(answer.substr(0, refusal.status.size()), refusal.status);
  const std::wstring reason(answer.begin() + std::string("status refused: ").size(), answer.end());
  const UniqueHandle ui = StartUiThatAsks();
  ASSERT_TRUE(ui);
  ExpectShown(::GetProcessId(ui.get()), L"The last update check failed: " + reason, 20000,
              sample::kNextUpdateControl);
  (void)::TerminateProcess(ui.get(), 0);
  EXPECT_EQ(FilesIn(road::IncomingFolder()), std::vector<std::wstring>{});
  EXPECT_EQ(RunningVersion(), L"1.0.0");
  EXPECT_EQ(ServiceHost(), first_service_host_);
}

INSTANTIATE_TEST_SUITE_P(
    Feed, Refusals,
    ::testing::Values(
        Refusal{"WrongBytes", L"good", "--fault wrong-bytes", L"",
                "status refused: the download of 2.0.0 failed: the download's SHA-256 does not "
                "match the feed"},
        Refusal{"Replayed", L"good", "", L"5",
                "status refused: feed serial 1 is older than serial 5 seen before"},
        Refusal{"Expired", L"expired", "", L"",
                "status refused: feed expired at 2020-01-01T00:00:00Z; keeping what is "
                "installed"},
        Refusal{"OtherPublisher", L"other", "", L"", "status refused: the feed is signed by "}),
    kRowName);

// Turned off by the administrator: a check asked for asks the feed's server nothing.
TEST_F(FeedUpdate, UpdatesTurnedOffAskTheFeedNothing) {
  Serve(L"good", "");
  sample::fixture::WriteDword(kPolicyKey, L"UpdateMode", 0);
  const std::string off = "status refused: updates are turned off by the administrator";
  EXPECT_EQ(StatusOnceAnswered(off, 30000), off);
  EXPECT_EQ(server_->Requests(), std::vector<std::string>{});
}

// Where nobody sits: with no user interface running, the service downloads the release and
// installs it with nobody clicking, runs afterwards, and the next user interface tells what
// happened.
TEST_F(FeedUpdate, AutomaticUpdateCompletesWithNobodyThere) {
  ASSERT_TRUE(::TerminateProcess(old_ui_.get(), 0));
  ASSERT_EQ(::WaitForSingleObject(old_ui_.get(), 10000), WAIT_OBJECT_0);
  Serve(L"good", "");
  sample::fixture::WriteDword(kPolicyKey, L"UpdateMode", 2);
  (void)road::ExchangeWithService(road::CheckRequestLine());
  EXPECT_TRUE(WaitUntil([] { return RunningVersion() == L"2.0.0"; }, 120000));
  EXPECT_TRUE(ServiceServes(30000));
  EXPECT_TRUE(WaitUntil([] { return ProcessesNamed(road::kUpdaterFileName).empty(); }, 60000));
  const UniqueHandle next_ui = StartProgram(ProductExecutablePath());
  ASSERT_TRUE(next_ui);
  ExpectShown(::GetProcessId(next_ui.get()),
              L"The last update completed: version 2.0.0 is running");
}

// A version prefix: the feed's 3.0.0 is passed over, and its 2.0.1 taken.
TEST_F(FeedUpdate, VersionPrefixPassesOverALaterMajorVersion) {
  Serve(L"series", "");
  sample::fixture::WriteString(kPolicyKey, L"TargetVersionPrefix", L"2.0.");
  EXPECT_EQ(StatusOnceAnswered("status ready-to-install 2.0.1", 60000),
            "status ready-to-install 2.0.1");
  EXPECT_EQ(PackageRequests("2.0.1"), std::vector<std::string>{"- 200"});
  for (const std::string& request : server_->Requests()) {
    EXPECT_EQ(request.find("3.0.0"), std::string::npos) << request;
  }
}

// The window of a program that asks for the status: "Check for updates" has the service check
// at once, the window follows the download, and "Apply update" is offered only once the
// release is ready.
TEST_F(FeedUpdate, WindowFollowsItsCheckAndOffersApplyOnlyWhenReady) {
  const UniqueHandle ui = StartUiThatAsks();
  ASSERT_TRUE(ui);
  const DWORD pid = ::GetProcessId(ui.get());
  const auto shown = [pid] { return sample::UpdateStatusText(pid, sample::kNextUpdateControl); };
  const auto apply_offered = [pid] {
    return ::IsWindowEnabled(::GetDlgItem(sample::FindUiWindow(pid), sample::kApplyUpdateCommand));
  };
  ASSERT_TRUE(WaitUntil([&] { return !shown().empty(); }, 10000));
  EXPECT_FALSE(apply_offered()) << testing::PrintToString(shown());

  Serve(L"good", "");
  ASSERT_TRUE(sample::ClickButton(pid, sample::kCheckForUpdatesCommand, 10000));
  // The window enables the button just after it shows the text.
  EXPECT_TRUE(WaitUntil(
      [&] { return shown() == L"Version 2.0.0 is ready to install." && apply_offered(); }, 60000))
      << testing::PrintToString(shown()) << " offered: " << apply_offered();
  (void)::TerminateProcess(ui.get(), 0);
}

}  // namespace
