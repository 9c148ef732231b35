// Whole updates under Wine on the sample product's own road: an administrator step places a
// package and its SHA-256 in the service's Incoming folder, a click on the UI's "Apply update"
// makes it ask the service through the pipe to stage the package with a copy of the updater,
// start the relaunch watcher and ask the service to start installer mode. Each test checks
// what a user would see, in a prefix of its own with version 1 installed and its service
// running.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "contract/pipe_protocol.h"
#include "contract/road_contract.h"
#include "contract/road_paths.h"
#include "e2e/product_update.h"
#include "service/guardian_decision.h"
#include "service/update_facts.h"
#include "service/update_pipe.h"
#include "service/watcher_logs.h"
#include "ui/last_update_text.h"
#include "ui/ui_window.h"
#include "ui/update_client.h"
#include "ui/update_outcome_text.h"
#include "win/machine_registry.h"
#include "win/process_start.h"
#include "win/text_conversion.h"

namespace {

// Updates in a row in the soak unless CORVANTA_SOAK_UPDATES says otherwise; the sample builds
// versions 2.0.1 up to SAMPLE_SERIES_COUNT.
constexpr int kDefaultSoakUpdates = 20;

std::wstring SeriesPackage(int n) { return L"CorvantaRemote-2.0." + std::to_wstring(n) + L".msi"; }

class UpdateRoad : public ProductUpdate {
 protected:
  // Places version 2.0.<n> of the series, clicks in the UI that runs now and follows the
  // update to its end, which must be a completed one.
  UpdateRun ApplySeriesVersion(int n) {
    UpdateRun update = ApplyOnTheRoad(SeriesPackage(n), LastLaunchPid());
    ExpectCompleted(update, L"2.0." + std::to_wstring(n));
    return update;
  }
};

// While another installation runs, the Windows Installer holds its mutex (Wine's does not: the
// test holds it, as the Windows Installer would). The update is refused before anything stops,
// and the same delivery completes once the installer is free.
TEST_F(UpdateRoad, BusyInstallerStopsNothingAndTheSameDeliveryCompletesLater) {
  PlacePending(L"CorvantaRemote-2.0.0.msi");
  UniqueHandle installer_busy(
      ::CreateMutexW(nullptr, /*initial_owner=*/TRUE, road::kInstallerMutexName));
  ASSERT_TRUE(installer_busy);

  const UpdateRun refused = Click(old_ui_pid_);

  const char reason[] =
      "another program is being installed or removed on this computer; try again when it has "
      "finished";
  EXPECT_EQ(refused.answer, road::kRefusedAnswer + std::string(reason));
  ExpectShown(old_ui_pid_, L"The update was refused: " + road::WidenAscii(reason));
  ExpectNothingStarted();
  EXPECT_TRUE(FileExistsAt(road::IncomingFolder() + L"\\CorvantaRemote-2.0.0.msi"));

  installer_busy.reset();
  ExpectCompleted(Click(old_ui_pid_), L"2.0.0");
}

// A start refused after the watcher runs (the installer got busy meanwhile) leaves no watcher
// waiting for an outcome that never comes.
TEST_F(UpdateRoad, StartRefusedOnceTheWatcherRunsEndsTheWatcher) {
  sample::fixture::WriteDword(kUiKey, L"WatcherDelayMs", 3000);
  PlacePending(L"CorvantaRemote-2.0.0.msi");
  const LogFollower ui_log(road::UiLogPath());
  ASSERT_TRUE(sample::ClickApplyUpdate(old_ui_pid_, 10000));
  ASSERT_EQ(ui_log.WaitForLine(Narrow(road::kUiAskedToStage)).rfind("staged ", 0), 0u);
  const UniqueHandle installer_busy(
      ::CreateMutexW(nullptr, /*initial_owner=*/TRUE, road::kInstallerMutexName));

  const DWORD watcher = std::stoul(ui_log.WaitForLine(Narrow(road::kUiStartedWatcher)));

  EXPECT_EQ(ui_log.WaitForLine(Narrow(road::kUiAskedToStart)).rfind("refused: another program", 0),
            0u);
  EXPECT_EQ(ui_log.WaitForLine("Ended the relaunch watcher: "), "the update did not start");
  EXPECT_TRUE(WaitUntil([&] { return ProcessHasEnded(watcher); }, 5000));
  ExpectNothingStarted();
}

TEST_F(UpdateRoad, RequestsOtherThanApplyPendingUpdateAreRefused) {
  EXPECT_EQ(road::ExchangeWithService(road::ApplyRequestLine()), Refused("no pending package"));
  PlacePending(L"CorvantaRemote-2.0.0.msi");
  const struct {
    std::string request;
    std::string answer;
  } cases[] = {
      {"apply-pending-update C:\\packages\\CorvantaRemote-2.0.0.msi\n", "unknown request"},
      {"install-msi C:\\packages\\CorvantaRemote-2.0.0.msi\n", "unknown request"},
      {"APPLY-PENDING-UPDATE\n", "unknown request"},
      {"\n", "unknown request"},
      {"start C:\\packages\\CorvantaRemote-2.0.0.msi\n", "unknown request"},
      {"apply-pending-update\nC:\\packages\\CorvantaRemote-2.0.0.msi\n", "malformed request"},
      {std::string("apply-pending-update\0\n", 22), "malformed request"},
      {"apply-pending-update\xff\n", "malformed request"},
      {std::string(300, 'a') + "\n", "malformed request"},
      {"apply-pending-update", "malformed request"},  // no line end: the service stops waiting
  };
  for (const auto& c : cases) {
    EXPECT_EQ(road::ExchangeWithService(c.request), Refused(c.answer)) << c.request;
  }
  // A token the service did not stage last starts nothing, however well formed.
  const std::wstring unknown = road::NewToken();
  EXPECT_EQ(road::ExchangeWithService(road::StartRequestLine(unknown)),
            Refused("no update staged as " + Narrow(unknown)));

  ExpectNothingStarted();
  EXPECT_TRUE(FileExistsAt(road::IncomingFolder() + L"\\CorvantaRemote-2.0.0.msi"));
}

TEST_F(UpdateRoad, SoakOfUpdatesInARow) {
  const char* count_text = std::getenv("CORVANTA_SOAK_UPDATES");
  const int count = count_text != nullptr ? std::atoi(count_text) : kDefaultSoakUpdates;
  for (int n = 1; n <= count; ++n) {
    SCOPED_TRACE("update " + std::to_string(n) + " of " + std::to_string(count));
    ApplySeriesVersion(n);
    if (HasFatalFailure() || HasNonfatalFailure()) break;
  }
  // The newest staging folders stay for their logs, as many as kept and no fewer.
  EXPECT_EQ(road::ListStagingFolders().size(), std::min<size_t>(count, road::kStagingFoldersKept));
}

// The moments at which installer mode is killed; a slow service step makes the moment last.
enum class KilledWhile { kServiceStops, kMsiexecRuns, kServiceRestarts };

bool Reached(KilledWhile moment, DWORD installer_pid, const std::wstring& msiexec_log) {
  switch (moment) {
    case KilledWhile::kServiceStops:
      return ServiceState() == SERVICE_STOP_PENDING;
    // Running, not just made: a process shows as soon as it is made, before its parent has let
    // its first thread run, and a parent killed then leaves it waiting for ever (seen under
    // Wine twice in 250 runs of this test). Its log shows that it runs.
    case KilledWhile::kMsiexecRuns:
      return !ProcessesNamed(L"msiexec.exe", installer_pid).empty() && FileExistsAt(msiexec_log);
    case KilledWhile::kServiceRestarts:
      return ServiceState() == SERVICE_START_PENDING;
  }
  return false;
}

// The service log's line of the update's guardian of `token` that begins with `what`: the rest
// of it, waiting for it as long as the guardian may take. Empty when none came.
std::string GuardianLine(const LogFollower& service_log, const std::wstring& token,
                         const std::string& what) {
  return service_log.WaitForLine("Guardian of update " + Narrow(token) + ": " + what,
                                 road::kGuardianBoundMs + 30000);
}

// The update whose guardian last had to start the service.
std::wstring RestoredToken() {
  return road::ReadMachineString(L"SOFTWARE\\Corvanta\\Updates", L"ServiceRestoredToken");
}

// An update killed and a new one completed, at three moments.
TEST_F(UpdateRoad, NewUpdateCompletesAfterInstallerModeWasKilled) {
  const struct {
    const char* moment_name;
    KilledWhile moment;
    const wchar_t* delay_value;
    // The guardian's last line: it starts the service, or finds it starting by itself.
    const char* guardian_line;
    const char* guardian_rest;
  } points[] = {
      {"while the service stops", KilledWhile::kServiceStops, L"StopDelayMs",
       "brought the service back after starts: ", "1"},
      {"while msiexec runs", KilledWhile::kMsiexecRuns, nullptr,
       "brought the service back after starts: ", "1"},
      {"while the service restarts", KilledWhile::kServiceRestarts, L"StartDelayMs",
       "the service runs", "; nothing to do"},
  };
  int n = 0;
  for (const auto& point : points) {
    SCOPED_TRACE(point.moment_name);
    if (point.delay_value != nullptr)
      sample::fixture::WriteDword(kServiceKey, point.delay_value, 3000);
    const std::wstring package = SeriesPackage(++n);
    PlacePending(package);
    const DWORD ui_pid = LastLaunchPid();
    const LogFollower service_log(road::ServiceLogPath());
    UpdateRun killed = Click(ui_pid, /*to_the_end=*/false);
    ASSERT_TRUE(killed.installer) << killed.answer;
    const DWORD installer_pid = ::GetProcessId(killed.installer.get());
    const std::wstring msiexec_log =
        road::StagingFolder(killed.token) + L"\\" + package + updater_contract::kLogSuffix;
    ASSERT_TRUE(
        WaitUntil([&] { return Reached(point.moment, installer_pid, msiexec_log); }, 60000));
    // While the service stops, installer mode has not ended the program yet.
    if (point.moment == KilledWhile::kServiceStops) {
      ExpectShown(ui_pid, road::kUpdateStartedText);
    }
    ASSERT_TRUE(::TerminateProcess(killed.installer.get(), 1));
    if (point.delay_value != nullptr)
      sample::fixture::WriteDword(kServiceKey, point.delay_value, 0);

    // The update's guardian, not the test, has the service run again.
    EXPECT_EQ(GuardianLine(service_log, killed.token, point.guardian_line), point.guardian_rest)
        << service_log.NewText();
    EXPECT_EQ(ServiceState(), DWORD{SERVICE_RUNNING});
    EXPECT_EQ(RestoredToken() == killed.token, point.moment != KilledWhile::kServiceRestarts);
    ASSERT_TRUE(ServiceServes(30000));
    // What a restart of the machine would end or start: the killed update's watcher waits for
    // an outcome that never comes, and the user opens the product again.
    ::TerminateProcess(killed.watcher.get(), 1);
    UniqueHandle reopened;
    if (ProcessHasEnded(LastLaunchPid())) reopened = StartProgram(ProductExecutablePath());
    // Whether it waited on the update or was opened after it, the program says it did not
    // finish; opened after it, also that the service had to be brought back, when it had.
    const DWORD ui_now = reopened ? ::GetProcessId(reopened.get()) : LastLaunchPid();
    const bool brought_back = reopened && point.moment != KilledWhile::kServiceRestarts;
    ExpectShown(ui_now,
                std::wstring(road::kUnfinishedUpdateText) +
                    (brought_back ? L"\r\n" + std::wstring(road::kServiceBroughtBackText) : L""));

    EXPECT_NE(ApplySeriesVersion(++n).token, killed.token);
    if (HasFatalFailure()) return;
  }
}

// Installer mode gives the service's start its 30 s.
TEST_F(UpdateRoad, ServiceThatFailsItsRestartAfterAGoodInstallationRunsAgain) {
  sample::fixture::WriteDword(kServiceKey, L"FailStarts", 1);
  const LogFollower service_log(road::ServiceLogPath());

  const UpdateRun update = ApplyOnTheRoad(L"CorvantaRemote-2.0.0.msi", old_ui_pid_);

  EXPECT_EQ(
      update.record,
      update.token + L"|failed:Remote service could not restart; installation result: completed");
  EXPECT_EQ(GuardianLine(service_log, update.token, "brought the service back after starts: "), "1")
      << service_log.NewText();
  EXPECT_EQ(ServiceState(), DWORD{SERVICE_RUNNING});
  EXPECT_EQ(RunningVersion(), L"2.0.0");
  EXPECT_EQ(RestoredToken(), update.token);
}

// The UI starts the watcher before it lets the service start installer mode, so that however
// long the UI takes, installer mode cannot end it before the watcher waits for it.
TEST_F(UpdateRoad, UiThatIsSlowToStartTheWatcherStillRelaunches) {
  sample::fixture::WriteDword(kUiKey, L"WatcherDelayMs", 8000);

  const UpdateRun update = ApplyOnTheRoad(L"CorvantaRemote-2.0.0.msi", old_ui_pid_);

  EXPECT_EQ(update.shown_once_staged, road::kPreparingUpdateText);
  ExpectCompleted(update, L"2.0.0");
}

// Stops the service, lets `change` change what it reads at its start (the road's folders, its
// hooks' values), starts it again and expects its answer to a click's first request refused for
// `reason`: what that start found, or no pending package.
void RestartServiceAfter(const char* reason, const std::function<void()>& change) {
  ASSERT_TRUE(StopTheService());
  change();
  ASSERT_TRUE(ServiceServes(60000));
  EXPECT_EQ(road::ExchangeWithService(road::ApplyRequestLine()), Refused(reason));
}

// A service that does not accept the stop makes installer mode publish its failure before it
// ends the UI program that started the update: the program tells its user at once, rather
// than that it closes now, and runs on as version 1.
TEST_F(UpdateRoad, FailurePublishedWhileTheUiWaitsIsShownAtOnce) {
  RestartServiceAfter("no pending package",
                      [] { sample::fixture::WriteDword(kServiceKey, L"RefuseStop", 1); });

  const UpdateRun update = ApplyOnTheRoad(L"CorvantaRemote-2.0.0.msi", old_ui_pid_);

  ExpectOutcome(update, 1, L"failed:Service did not exit before installation");
  ExpectShown(
      old_ui_pid_,
      L"The last update failed (Service did not exit before installation). Try again later");
  EXPECT_TRUE(IsStillRunning(old_ui_.get()));
  EXPECT_EQ(RunningVersion(), L"1.0.0");
}

// What is waiting to be read on `pipe`, looked at without waiting for more than is there;
// empty when nothing is or the server has let go.
std::string ReadWaitingLine(HANDLE pipe) {
  char text[256] = {};
  DWORD read = 0;
  if (!::PeekNamedPipe(pipe, text, sizeof(text), &read, nullptr, nullptr)) return "";
  return std::string(text, read);
}

// A pipe of the name `name`, as any user's process may create it: one instance, which it
// limits itself to (Wine would make a second one whatever the first said).
UniqueHandle Squat(const std::wstring& name) {
  return OwnHandle(::CreateNamedPipeW(name.c_str(),
                                      PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                      PIPE_TYPE_BYTE, 1, 512, 512, 0, nullptr));
}

// Installer mode stops the service at every update. A user's process may then take the pipe's
// name that the service published last, or the fixed name that a service might use, and keep
// them: the UI must send neither a byte, and the service, which draws a fresh name at its
// start, must serve at once.
TEST_F(UpdateRoad, SquattedPipeNamesGetNothingAndKeepNoRequestOff) {
  const std::wstring published = road::PublishedUpdatePipeName();
  ASSERT_TRUE(road::IsUpdatePipeName(published)) << Narrow(published);
  ASSERT_TRUE(StopTheService());
  const UniqueHandle squatters[] = {Squat(published), Squat(L"\\\\.\\pipe\\CorvantaRemoteUpdate")};
  for (const UniqueHandle& squatter : squatters) ASSERT_TRUE(squatter) << ::GetLastError();
  const LogFollower service_log(road::ServiceLogPath());
  // The UI's answer to a click, as it logs it; no squatter got a byte meanwhile.
  const auto click = [&] {
    const std::string answer = Click(old_ui_pid_).answer;
    for (const UniqueHandle& squatter : squatters) {
      EXPECT_EQ(ReadWaitingLine(squatter.get()), "");
      // A squatter's one instance serves the next client once this one is gone.
      (void)::DisconnectNamedPipe(squatter.get());
    }
    return answer;
  };

  // Clicked while the service is stopped: the name published last leads to a squatter.
  EXPECT_EQ(click().rfind("no answer: the pipe is not served by the update service", 0), 0u);

  // Started while both squatters keep their names, the service serves under a new one.
  ASSERT_TRUE(::StartServiceW(OpenRemoteServiceForTest().get(), 0, nullptr)) << ::GetLastError();
  EXPECT_EQ(service_log.WaitForLine("Serving the update ", 60000), "pipe");
  EXPECT_TRUE(road::IsUpdatePipeName(road::PublishedUpdatePipeName()));
  EXPECT_NE(road::PublishedUpdatePipeName(), published);
  EXPECT_EQ(click(), "refused: no pending package");
  EXPECT_EQ(service_log.NewText().find("Could not create the update pipe"), std::string::npos);
}

// Levels of the road that the service must refuse, found at its start. A file where Staging
// should be: every request is refused until a start finds the levels sound, and the service
// writes nothing there. A file where the top level should be, as any user may make one before
// the service first runs: the service renames it aside and makes the road afresh; held open
// without delete sharing, so that it cannot be moved, the service makes a top level of its own
// and every side of the road follows it.
TEST_F(UpdateRoad, LevelsTheServiceMustRefuseAreRefusedOrRenamedAside) {
  const std::wstring top = road::PathIn(road::ProgramDataFolder(), L"Corvanta");
  RestartServiceAfter("the update folders are not the service's own", [] {
    ASSERT_TRUE(::RemoveDirectoryW(road::StagingRoot().c_str())) << ::GetLastError();
    std::ofstream(Narrow(road::StagingRoot())) << "not a folder";
  });
  EXPECT_EQ(::GetFileAttributesW(road::StagingRoot().c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);

  RestartServiceAfter("no pending package", [&] {
    ASSERT_TRUE(::MoveFileW(top.c_str(), (top + L"-moved-by-test").c_str()));
    std::ofstream(Narrow(top)) << "made by a user";
  });
  WIN32_FIND_DATAW aside{};
  const road::UniqueFind find = road::FindFirst(top + L".untrusted-*", aside);
  ASSERT_TRUE(find);
  EXPECT_EQ(ReadWholeFile(road::PathIn(road::ProgramDataFolder(), aside.cFileName)),
            "made by a user");
  EXPECT_NE(ReadWholeFile(road::ServiceLogPath()).find("Renamed a top level"), std::string::npos);

  UniqueHandle held;
  RestartServiceAfter("no pending package", [&] {
    ASSERT_TRUE(::MoveFileW(top.c_str(), (top + L"-moved-again").c_str()));
    std::ofstream(Narrow(top)) << "held by a user";
    held = OwnHandle(::CreateFileW(top.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
  });
  const std::wstring own = road::ReadMachineString(road::kRoadKeyPath, L"RoadFolder");
  EXPECT_EQ(own.rfind(L"Corvanta-", 0), 0u) << Narrow(own);
  EXPECT_EQ(road::IncomingFolder(),
            road::PathIn(road::ProgramDataFolder(), own) + L"\\Updates\\Incoming");
  EXPECT_EQ(ReadWholeFile(top), "held by a user");
  EXPECT_NE(ReadWholeFile(road::ServiceLogPath()).find("Made a top level of the update folders"),
            std::string::npos);
}

// The service stages the updater that lies beside it, and judges that file, not only its
// folder: one it cannot judge (here, gone) refuses every request until a start finds it sound.
TEST_F(UpdateRoad, UpdaterBesideTheServiceIsJudgedAtEachStart) {
  const std::wstring updater =
      road::PathIn(FolderOf(ProductExecutablePath()), road::kUpdaterFileName);
  RestartServiceAfter("the service's own folder or updater can be changed by users", [&] {
    ASSERT_TRUE(::MoveFileW(updater.c_str(), (updater + L".moved").c_str()));
  });
}

// A repair stops the service as any installation does (under Wine as well); the package starts
// it again.
TEST_F(UpdateRoad, RepairOfThePackageLeavesTheServiceRunning) {
  // The repair that `msiexec /f` starts, asked for by its properties: Wine's msiexec repairs
  // nothing through /f (docs/wine.md).
  const std::wstring arguments = L" /i \"" + Package(L"CorvantaRemote-1.0.0.msi") +
                                 L"\" REINSTALL=ALL REINSTALLMODE=amus LAUNCH_TRAY_APP=N /qn";

  EXPECT_EQ(RunToExit(SystemProgram(L"msiexec.exe"), arguments, 120000), 0u);

  EXPECT_TRUE(WaitUntil([] { return ServiceState() == SERVICE_RUNNING; }, 60000));
  EXPECT_NE(ServiceHost(), first_service_host_);
}

// The service runs as LocalSystem from the product's folder, and bcrypt, crypt32, msi, winhttp
// and wintrust are no known DLLs: Windows would take them from that folder first. Planted there,
// they are never loaded, neither at the service's start nor when it hashes and judges a
// package, nor when it asks a feed's server (here a port where nobody listens).
TEST_F(UpdateRoad, LibrariesPlantedBesideTheServiceAreNeverLoaded) {
  const std::wstring folder = FolderOf(ProductExecutablePath());
  RestartServiceAfter("no pending package", [&] {
    PlantLibraries(folder, {L"bcrypt", L"crypt32", L"msi", L"winhttp", L"wintrust"});
  });
  NameFeed(L"http://127.0.0.1:9/feed.json");
  const std::string unfetched = "status refused: the feed could not be fetched";
  EXPECT_EQ(StatusOnceAnswered(unfetched, 30000).substr(0, unfetched.size()), unfetched);
  StageByRequest(L"CorvantaRemote-2.0.0.msi");
  EXPECT_EQ(FilesIn(folder, L"*.dll.loaded"), std::vector<std::wstring>{});
}

// The pipe waits out its bound on a request whose work never ends.
TEST_F(UpdateRoad, ServiceThatNeverAnswersTimesOut) {
  sample::fixture::WriteDword(kServiceKey, L"AnswerDelayMs", 600000);

  EXPECT_EQ(road::ExchangeWithService(road::ApplyRequestLine(), 3000),
            "no answer: the update service did not answer in time");
  // The UI asks on a thread of its own: its window answers while it waits.
  ASSERT_TRUE(sample::ClickApplyUpdate(old_ui_pid_, 10000));
  DWORD_PTR result = 0;
  EXPECT_NE(::SendMessageTimeoutW(sample::FindUiWindow(old_ui_pid_), WM_NULL, 0, 0,
                                  SMTO_ABORTIFHUNG, 5000, &result),
            0);
  // The pipe answers all the same, within its bound, while that work runs on.
  EXPECT_EQ(road::ExchangeWithService(road::ApplyRequestLine()),
            "refused: the service is still busy with an earlier request; try again later\n");
}

// Packages the service must not install, delivered to Incoming as a download would bring them
// (with a .sha256 file that matches, unless the row says otherwise): a click on "Apply update" gets
// the refusal with its reason, no watcher is started, and nothing of version 1 is stopped or ended.
// The prefix trusts the test root; the package that completes is covered by the road's other cases.

const std::string kNoHash;
const std::string kOtherHash(64, '0');

TEST_F(UpdateRoad, PackagesThatFailARuleAreRefusedBeforeAnythingStops) {
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
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PlacePending(L"CorvantaRemote-next.msi", c.source, c.hash_file);

    const LogFollower ui_log(road::UiLogPath());

    const UpdateRun update = Click(old_ui_pid_);

    EXPECT_EQ(update.answer, road::kRefusedAnswer + std::string(c.answer));
    EXPECT_EQ(ui_log.WaitForLine(Narrow(road::kUiStartedWatcher), 0), "");
    EXPECT_NE(update.service_log.find(c.logged), std::string::npos) << update.service_log;
    ExpectNothingStarted();
  }
}

// Bad deliveries hide no good one, whatever their dates: each is set aside for an
// administrator with its reason (the 5 newest kept), and of the good ones the highest version
// is installed, not the one written last.
TEST_F(UpdateRoad, BadDeliveriesAreSetAsideAndTheHighestGoodOneInstalled) {
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
    PlacePending(L"CorvantaRemote-bad" + std::to_wstring(n) + L".msi",
                 SamplePackage(L"CorvantaRemote-2.0.0.msi"), &kOtherHash);
  }
  PlacePending(L"CorvantaRemote-2.0.1.msi");

  // Written last, and yet not the one installed.
  ExpectCompleted(ApplyOnTheRoad(L"CorvantaRemote-2.0.0.msi", old_ui_pid_), L"2.0.1");
  EXPECT_FALSE(FileExistsAt(foreign));
  const auto set_aside = road::ListTokenFolders(road::QuarantineFolder());
  EXPECT_EQ(set_aside.size(), 5u);
  for (const road::StagedFolder& folder : set_aside) {
    const std::string why = ReadWholeFile(
        road::PathIn(road::PathIn(road::QuarantineFolder(), folder.token), L"why.txt"));
    EXPECT_TRUE(why == "package is not of this product\r\n" || why == "package hash mismatch\r\n")
        << why;
  }
}

// Clients of the update pipe that send a request and never read the answer: none may hold the
// service's one pipe instance past its deadline, keep the service from stopping, or, having
// asked to start an update, keep installer mode from stopping the service; nor may a user fill
// SYSTEM's disk through a staged update's watcher log.

// Connects to the update pipe, waiting while it serves another client, and sends `line`;
// returns the open handle, never read from, or empty when no connection came.
UniqueHandle SendWithoutReading(const std::string& line) {
  UniqueHandle pipe;
  WaitUntil(
      [&] {
        return (pipe = OwnHandle(::CreateFileW(road::PublishedUpdatePipeName().c_str(),
                                               GENERIC_READ | FILE_WRITE_DATA, /*share=*/0, nullptr,
                                               OPEN_EXISTING, 0, nullptr))) != nullptr;
      },
      kAnswerTimeoutMs);
  DWORD written = 0;
  return pipe && ::WriteFile(pipe.get(), line.data(), static_cast<DWORD>(line.size()), &written,
                             nullptr)
             ? std::move(pipe)
             : nullptr;
}

bool Contains(const std::string& text, const wchar_t* line_start) {
  return text.find(Narrow(line_start)) != std::string::npos;
}

TEST_F(UpdateRoad, ClientThatNeverReadsHoldsThePipeOnlyUntilItsDeadline) {
  const LogFollower service_log(road::ServiceLogPath());
  const UniqueHandle silent = SendWithoutReading(road::ApplyRequestLine());
  ASSERT_TRUE(silent);

  EXPECT_EQ(road::ExchangeWithService(road::ApplyRequestLine(), kAnswerTimeoutMs),
            Refused("no pending package"));

  // Let go at its deadline, and only then was the second client answered.
  const std::string text = service_log.NewText();
  const size_t released = text.find(Narrow(road::kClientMissedDeadlineNote));
  ASSERT_NE(released, std::string::npos) << text;
  EXPECT_NE(text.find("Refused: no pending package", released), std::string::npos) << text;
}

// A service stopped three times, once waiting out a client's deadline and once its
// bound for the pipe's thread.
TEST_F(UpdateRoad, StopEndsWhateverHoldsThePipe) {
  const struct {
    const char* holder;
    DWORD answer_delay_ms;
    bool reads_after_stop;
    bool missed_deadline;
    bool thread_left_running;
  } holders[] = {
      // Its answer waits for it through the stop: it may be the "started" that tells a UI the
      // update is under way.
      {"a client that reads its answer only once the stop has come", 0, true, false, false},
      // Held to its deadline, which ends well within the service's bound for the thread.
      {"a client that sends a line and never reads", 0, false, true, false},
      // A request whose work never ends is left to the end of the service's process.
      {"an answer that never comes", 600000, false, false, true},
  };
  for (const auto& holder : holders) {
    SCOPED_TRACE(holder.holder);
    sample::fixture::WriteDword(kServiceKey, L"AnswerDelayMs", holder.answer_delay_ms);
    ASSERT_TRUE(ServiceServes());
    const LogFollower service_log(road::ServiceLogPath());
    UniqueHandle client = SendWithoutReading(road::ApplyRequestLine());
    ASSERT_TRUE(client);
    ASSERT_EQ(service_log.WaitForLine("Refused: "), "no pending package");

    SERVICE_STATUS status{};
    ASSERT_TRUE(::ControlService(OpenRemoteServiceForTest().get(), SERVICE_CONTROL_STOP, &status));
    if (holder.reads_after_stop) {
      ASSERT_TRUE(WaitUntil([] { return ServiceState() != SERVICE_RUNNING; }, 10000));
      // A wait that the stop cut short would have let the client go well before this.
      ::Sleep(500);
      EXPECT_EQ(ReadWaitingLine(client.get()), Refused("no pending package"));
      client.reset();
    }
    ASSERT_TRUE(WaitUntil([] { return ServiceState() == SERVICE_STOPPED; }, 60000));

    const std::string text = service_log.NewText();
    EXPECT_EQ(Contains(text, road::kClientMissedDeadlineNote), holder.missed_deadline) << text;
    EXPECT_EQ(Contains(text, road::kPipeThreadLeftRunningNote), holder.thread_left_running) << text;
  }
}

// The client asks to start the update as the UI does, after staging and starting the watcher,
// and then never reads: installer mode must still stop the service and complete the update.
TEST_F(UpdateRoad, UpdateCompletesWhenTheClientThatStartsItNeverReads) {
  UpdateRun update;
  update.token = StageByRequest(L"CorvantaRemote-2.0.0.msi");
  const std::wstring staging = road::StagingFolder(update.token);
  DWORD error = 0;
  update.watcher = road::StartFromFolder(road::PathIn(staging, road::kUpdaterFileName),
                                         std::wstring(updater_contract::kRelaunchSwitch) + L" " +
                                             std::to_wstring(old_ui_pid_) + L" " + update.token,
                                         staging, error)
                       .process;
  ASSERT_TRUE(update.watcher) << error;
  const LogFollower service_log(road::ServiceLogPath());

  const UniqueHandle silent = SendWithoutReading(road::StartRequestLine(update.token));
  ASSERT_TRUE(silent);
  update.installer = OpenById(service_log.WaitForLine(Narrow(road::kServiceStartedInstaller)));
  ASSERT_TRUE(update.installer);
  Finish(update);

  ExpectCompleted(update, L"2.0.0");
  // The new service serves the pipe while the old client still holds its handle.
  ASSERT_TRUE(ServiceServes());
  EXPECT_EQ(road::ExchangeWithService(road::ApplyRequestLine()), Refused("no pending package"));
}

// A user who holds a staged update's watcher log open and appends to it costs the disk its
// limit and a few seconds' writes: the service cuts it back each time, keeping its start. It
// looks every 5 s: three looks take 15 s at most.
TEST_F(UpdateRoad, WatcherLogThatAUserFillsIsCutBackToItsLimit) {
  constexpr DWORD kThreeLooksMs = 15000;
  const std::wstring watcher_log = road::PathIn(
      road::StagingFolder(StageByRequest(L"CorvantaRemote-2.0.0.msi")), road::WatcherLogFileName());
  const UniqueHandle held = OwnHandle(::CreateFileW(watcher_log.c_str(), FILE_APPEND_DATA,
                                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                    OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);
  const std::string first = std::string(updater_contract::kWatcherWaiting) + "\r\n";
  for (const std::string& bytes : {first + std::string(256 * 1024, 'x'), std::string(80000, 'y')}) {
    const LogFollower service_log(road::ServiceLogPath());
    DWORD written = 0;
    ASSERT_TRUE(
        ::WriteFile(held.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    EXPECT_NE(service_log.WaitForLine("The watcher log ", kThreeLooksMs)
                  .find("bytes: cut to 65536 bytes, closed to users' writes"),
              std::string::npos);
    std::string kept;
    EXPECT_TRUE(WaitUntil(
        [&] { return (kept = ReadWholeFile(watcher_log)).size() == road::kWatcherLogLimitBytes; },
        kThreeLooksMs))
        << kept.size();
    EXPECT_EQ(kept.substr(0, first.size()), first);
  }
}

}  // namespace
