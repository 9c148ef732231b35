// What both kinds of whole update under Wine share: a prefix with version 1 of the sample
// product installed, its service running and its UI open; one run type for an update begun
// either by starting both modes of RemoteUpdater.exe directly or by a click on the UI's
// "Apply update" (the product's road); and the checks of what a user sees afterwards.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "common/process_image.h"
#include "common/process_list.h"
#include "contract/pipe_protocol.h"
#include "contract/road_paths.h"
#include "contract/status_record.h"
#include "service/package_hash.h"
#include "shared/status_record_text.h"
#include "support/registry_access.h"
#include "support/sample_product.h"
#include "ui/ui_window.h"
#include "ui/update_client.h"
#include "win/road_handles.h"

inline constexpr DWORD kModeTimeoutMs = 180000;
inline constexpr DWORD kAnswerTimeoutMs = 30000;
inline constexpr wchar_t kPolicyKey[] = L"SOFTWARE\\Policies\\Corvanta\\Remote\\Update";

// The service's answer that refuses a request for `reason`.
inline std::string Refused(const std::string& reason) {
  return road::kRefusedAnswer + reason + "\n";
}

// Stops the service and waits until it has stopped.
[[nodiscard]] inline bool StopTheService() {
  SERVICE_STATUS status{};
  return ::ControlService(OpenRemoteServiceForTest().get(), SERVICE_CONTROL_STOP, &status) &&
         WaitUntil([] { return ServiceState() == SERVICE_STOPPED; }, 60000);
}

// Starts the service when it is stopped and waits until it serves the pipe.
[[nodiscard]] inline bool ServiceServes(DWORD timeout_ms = 30000) {
  if (ServiceState() == SERVICE_STOPPED &&
      !::StartServiceW(OpenRemoteServiceForTest().get(), 0, nullptr)) {
    return false;
  }
  // The name is read again at every look: a service that starts publishes a new one.
  return WaitUntil(
      [] { return ::WaitNamedPipeW(road::PublishedUpdatePipeName().c_str(), 100) != FALSE; },
      timeout_ms);
}

// Copies the planted library (tests/e2e/planted_library.c) into `folder` as each of `names`
// with ".dll" appended. A copy that any process loads leaves "<name>.dll.loaded" beside itself.
inline void PlantLibraries(const std::wstring& folder,
                           std::initializer_list<const wchar_t*> names) {
  const std::wstring planted = WindowsPathFromEnvironment("PLANTED_LIBRARY");
  for (const wchar_t* name : names) {
    ASSERT_FALSE(CopyInto(planted, folder, std::wstring(name) + L".dll").empty())
        << "PLANTED_LIBRARY must name the planted library";
  }
}

// Ids of the running processes of `name` whose parent is `parent` (any when 0).
inline std::vector<DWORD> ProcessesNamed(const std::wstring& name, DWORD parent = 0) {
  std::vector<DWORD> ids;
  for (const tools::ProcessEntry& process : tools::RunningProcesses()) {
    if (tools::SameName(process.exe_name, name.c_str()) &&
        (parent == 0 || process.parent == parent))
      ids.push_back(process.pid);
  }
  return ids;
}

// Expects the control `control` (the update status control unless named) of the UI program
// `pid` to show `expected` within `timeout_ms`: the window sets the text from its worker thread.
inline void ExpectShown(DWORD pid, const std::wstring& expected,
                        DWORD timeout_ms = kAnswerTimeoutMs,
                        WORD control = sample::kUpdateStatusControl) {
  std::wstring shown;
  WaitUntil([&] { return (shown = sample::UpdateStatusText(pid, control)) == expected; },
            timeout_ms);
  EXPECT_EQ(shown, expected) << "shown by the UI program " << pid;
}

// The lines appended to a log after this follower was made.
class LogFollower {
 public:
  explicit LogFollower(std::wstring path)
      : path_(std::move(path)), start_(ReadWholeFile(path_).size()) {}

  // The rest of the first new line that starts with `prefix`, waiting up to `timeout_ms` for
  // it; empty when none came.
  std::string WaitForLine(const std::string& prefix, DWORD timeout_ms = kAnswerTimeoutMs) const {
    std::string rest;
    WaitUntil(
        [&] {
          const std::string text = ReadWholeFile(path_);
          for (size_t at = start_, end; (end = text.find("\r\n", at)) != std::string::npos;
               at = end + 2) {
            if (text.compare(at, prefix.size(), prefix) != 0) continue;
            rest = text.substr(at + prefix.size(), end - at - prefix.size());
            return true;
          }
          return false;
        },
        timeout_ms);
    return rest;
  }
  // Everything written since this follower was made.
  std::string NewText() const { return ReadWholeFile(path_).substr(start_); }

 private:
  std::wstring path_;
  size_t start_;
};

// One update, begun either way, followed to its end.
struct UpdateRun {
  std::wstring token;
  std::wstring package;  // the package installer mode was given
  // The UI program whose click began the update, which the update ends; 0 when it was begun
  // directly and ends the old UI.
  DWORD ui_pid = 0;
  std::string answer;       // on the road: the service's last answer
  std::string service_log;  // on the road: what the service wrote, when nothing started
  UniqueHandle installer;
  UniqueHandle watcher;
  std::optional<DWORD> installer_exit;
  std::optional<DWORD> watcher_exit;
  std::wstring record;
  std::string watcher_log;
  // On the road: what the UI showed when it logged the service's "staged" answer.
  std::wstring shown_once_staged;

  // Whether it was begun by a click, on the road.
  bool on_road() const { return ui_pid != 0; }
};

class ProductUpdate : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(ServiceState(), DWORD{SERVICE_RUNNING})
        << "the prepared machine must run version 1's service";
    first_service_host_ = ServiceHost();
    ASSERT_TRUE(ServiceServes(10000));
    // The UI programs of the test leave the pipe to the test, unless it asks otherwise.
    sample::fixture::WriteDword(kUiKey, L"NoStatusPolls", 1);
    old_ui_ = StartProgram(ProductExecutablePath());
    ASSERT_TRUE(old_ui_);
    old_ui_pid_ = ::GetProcessId(old_ui_.get());
    // Under load Wine may call the program idle before it has run a line of its own.
    ASSERT_TRUE(WaitUntil([this] { return LastLaunchPid() == old_ui_pid_; }, 20000))
        << LastLaunchPid() << " is not " << old_ui_pid_;
    // For updates started directly: the updater in a folder of its own, so its log starts
    // empty, and the packages in another.
    updater_ = CopyInto(UpdaterExecutable(), MakeScratchFolder(L"Updater"));
    ASSERT_FALSE(updater_.empty());
    packages_ = MakeScratchFolder(L"Update Packages");
  }

  // A copy of one of the sample's packages, for the updater to install (and delete); `name`
  // may also name a package that does not exist.
  std::wstring Package(const std::wstring& name) const {
    const std::wstring built = SamplePackage(name);
    return FileExistsAt(built) ? CopyInto(built, packages_) : packages_ + L"\\" + name;
  }

  // The road's administrator step: `source` (the sample's build of `package` unless named)
  // lands in the service's Incoming folder as `package`, with a .sha256 file that holds
  // `hash_text`, or unless given the package's hash.
  void PlacePending(const std::wstring& package, const std::wstring& source = L"",
                    const std::string* hash_text = nullptr) const {
    const std::wstring from = source.empty() ? SamplePackage(package) : source;
    const std::wstring placed = CopyInto(from, road::IncomingFolder(), package);
    ASSERT_FALSE(placed.empty()) << Narrow(from) << " is not built";
    std::ofstream(Narrow(placed + road::kHashSuffix))
        << (hash_text != nullptr ? *hash_text : road::Sha256OfFile(placed) + "\n");
  }

  // Places `package` of the sample's build and asks the service to stage it, as a click asks
  // first; the token it was staged as, empty (and the test failed) when it was not.
  std::wstring StageByRequest(const std::wstring& package) const {
    PlacePending(package);
    const road::Answer staged =
        road::ParseAnswer(road::ExchangeWithService(road::ApplyRequestLine()));
    EXPECT_EQ(staged.kind, road::Answer::Kind::kStaged) << staged.text;
    return staged.token;
  }

  // Names `url` as the feed in the machine's policy, which turns updates on.
  static void NameFeed(const std::wstring& url) {
    sample::fixture::WriteString(kPolicyKey, L"FeedUrl", url);
    sample::fixture::WriteDword(kPolicyKey, L"UpdateMode", 1);
  }

  // Asks the service to check now, then asks for its status until it answers `expected`
  // (without its line end) or `timeout_ms` pass; the last answer. Every answer is kept in
  // `answers_`.
  std::string StatusOnceAnswered(const std::string& expected, DWORD timeout_ms) {
    const std::string asked = road::ExchangeWithService(road::CheckRequestLine());
    EXPECT_TRUE(road::ParseStatusAnswer(asked).has_value()) << asked;
    std::string answer;
    (void)WaitUntil(
        [&] {
          answer = road::WithoutLineEnd(road::ExchangeWithService(road::StatusRequestLine()));
          answers_.push_back(answer);
          return answer.rfind(expected, 0) == 0;
        },
        timeout_ms);
    return answer;
  }

  // Starts installer mode on `package` and the relaunch watcher of `watched_pid` (the old UI
  // unless given) side by side with one token, and follows both to their ends.
  UpdateRun RunUpdate(const std::wstring& package, std::optional<DWORD> watched_pid = {}) {
    UpdateRun run;
    run.token = L"e2e-" + std::to_wstring(::GetTickCount());
    // As the service keeps it when it starts an update on the road.
    sample::fixture::WriteString(road::kRoadKeyPath, road::kStartedTokenValueName, run.token);
    const auto start = [&](const wchar_t* mode_switch, const std::wstring& argument) {
      const std::wstring arguments = std::wstring(L" ") + mode_switch + L" " + argument;
      return std::move(StartWithArguments(updater_, arguments + L" " + run.token).process);
    };
    run.package = package;
    run.installer = start(updater_contract::kInstallSwitch, L"\"" + package + L"\"");
    run.watcher = start(updater_contract::kRelaunchSwitch,
                        std::to_wstring(watched_pid.value_or(old_ui_pid_)));
    Finish(run, updater_ + updater_contract::kLogSuffix);
    return run;
  }

  // Clicks "Apply update" in the UI program `ui_pid` and waits for the service's answers; once
  // started, takes hold of installer mode and the watcher as their starters' logs name them,
  // expects both to run from the staged copy, installer mode as the service's child and the
  // watcher as the UI's, and unless told otherwise follows both to their ends.
  UpdateRun Click(DWORD ui_pid, bool to_the_end = true) {
    const LogFollower ui_log(road::UiLogPath());
    const LogFollower service_log(road::ServiceLogPath());
    UpdateRun run;
    run.ui_pid = ui_pid;
    const DWORD service_host = ServiceHost();
    EXPECT_TRUE(sample::ClickApplyUpdate(ui_pid, 10000)) << "no window of pid " << ui_pid;
    run.answer = ui_log.WaitForLine(Narrow(road::kUiAskedToStage));
    if (road::ParseAnswer(run.answer).kind == road::Answer::Kind::kStaged) {
      run.shown_once_staged = sample::UpdateStatusText(ui_pid);
      run.answer = ui_log.WaitForLine(Narrow(road::kUiAskedToStart));
    }
    const road::Answer answer = road::ParseAnswer(run.answer);
    if (answer.kind != road::Answer::Kind::kStarted) {
      run.service_log = service_log.NewText();
      return run;
    }
    run.token = answer.token;
    run.installer = OpenById(service_log.WaitForLine(Narrow(road::kServiceStartedInstaller)));
    run.watcher = OpenById(ui_log.WaitForLine(Narrow(road::kUiStartedWatcher)));
    const std::wstring staged = road::StagingFolder(run.token) + L"\\" + road::kUpdaterFileName;
    ExpectStarted(run.installer.get(), service_host, staged);
    ExpectStarted(run.watcher.get(), ui_pid, staged);
    if (to_the_end) Finish(run);
    return run;
  }

  // Waits for both modes of a run on the road, then reads what they left.
  void Finish(UpdateRun& run) {
    Finish(run, road::StagingFolder(run.token) + L"\\" + road::WatcherLogFileName());
  }

  // The road's whole update: `package` of the sample's build placed, "Apply update" clicked
  // in the UI program `ui_pid`, and both modes followed to their ends.
  UpdateRun ApplyOnTheRoad(const std::wstring& package, DWORD ui_pid) {
    PlacePending(package);
    UpdateRun run = Click(ui_pid);
    run.package = road::StagingFolder(run.token) + L"\\" + package;
    return run;
  }

  // What every update on the road leaves, whatever its outcome: it started, and nothing of it
  // still runs.
  void ExpectRanOnTheRoad(const UpdateRun& update) const {
    ASSERT_EQ(update.answer, road::kStartedAnswer + Narrow(update.token))
        << "the service's log meanwhile:\n"
        << update.service_log;
    // The housekeeping thread of the service that runs now removes the older ones.
    EXPECT_TRUE(WaitUntil(
        [] { return road::ListStagingFolders().size() <= road::kStagingFoldersKept; }, 10000));
    EXPECT_TRUE(ProcessesNamed(road::kUpdaterFileName).empty());
    EXPECT_TRUE(ProcessesNamed(L"msiexec.exe").empty());
    // The update's guardian ends once it has seen the service run.
    EXPECT_TRUE(
        WaitUntil([] { return ProcessesNamed(L"CorvantaRemoteGuardian.exe").empty(); }, 10000));
  }

  // What every update that reached the installer leaves: the service runs again as
  // `version`, the UI program the update ended is gone, and the product runs again from its
  // installed location with its folder as working directory and its quoted path as command
  // line, started as the watcher's log says, and its window shows `shown`.
  void ExpectRelaunched(const UpdateRun& run, const std::wstring& version,
                        const std::wstring& shown) const {
    EXPECT_EQ(ServiceState(), DWORD{SERVICE_RUNNING});
    EXPECT_EQ(RunningVersion(), version);
    EXPECT_TRUE(ProcessHasEnded(run.ui_pid != 0 ? run.ui_pid : old_ui_pid_));
    const DWORD launched = ExpectLaunchedOnce(run, version, shown);
    EXPECT_EQ(run.watcher_log,
              WatcherLine(updater_contract::kWatcherWaiting) + LaunchLine(launched, 259));
  }

  // The watcher's log names one start, the product's, which still runs as `version` and tells
  // its user `shown` of the update; returns its process id.
  DWORD ExpectLaunchedOnce(const UpdateRun& run, const std::wstring& version,
                           const std::wstring& shown) const {
    const std::vector<DWORD> launched = LaunchedIds(run.watcher_log);
    EXPECT_EQ(launched.size(), 1u) << run.watcher_log;
    if (launched.size() != 1) return 0;
    const std::wstring product = ProductExecutablePath();
    EXPECT_EQ(Upper(LastLaunchLine()),
              Upper(sample::fixture::LaunchRecordLine(launched[0], version, product,
                                                      FolderOf(product), L"\"" + product + L"\"")));
    EXPECT_FALSE(ProcessHasEnded(launched[0]));
    EXPECT_EQ(sample::UpdateStatusText(launched[0]), shown);
    return launched[0];
  }

  // How an update ended: both modes with `exit_code`, and the record gives `outcome` for this
  // token; on the road, also what every update there leaves.
  void ExpectOutcome(const UpdateRun& run, DWORD exit_code, const std::wstring& outcome) const {
    if (run.on_road()) ExpectRanOnTheRoad(run);
    EXPECT_EQ(run.installer_exit, exit_code);
    EXPECT_EQ(run.watcher_exit, exit_code);
    EXPECT_EQ(run.record, StatusRecordText(run.token, outcome));
  }

  // A completed update: the outcome says so, and the product runs again as `version`; on the
  // road, the installer's log lies beside the staged package, which was consumed.
  void ExpectCompleted(const UpdateRun& run, const std::wstring& version) const {
    ExpectOutcome(run, 0, updater_contract::kCompletedOutcome);
    if (HasFatalFailure()) return;
    if (run.on_road()) {
      const std::wstring package = L"CorvantaRemote-" + version + L".msi";
      EXPECT_TRUE(FileExistsAt(road::StagingFolder(run.token) + L"\\" + package +
                               updater_contract::kLogSuffix));
      EXPECT_FALSE(FileExistsAt(road::IncomingFolder() + L"\\" + package));
    }
    ExpectRelaunched(run, version,
                     L"The last update completed: version " + version + L" is running");
  }

  // Nothing of an update started, or nothing changed before it ended: no updater runs, version
  // 1's UI and service run on, no staging folder is left once the housekeeping thread has had two
  // rounds (5 s each) to remove the dropped one.
  void ExpectNothingStarted() const {
    EXPECT_TRUE(ProcessesNamed(road::kUpdaterFileName).empty());
    EXPECT_TRUE(IsStillRunning(old_ui_.get()));
    EXPECT_EQ(ServiceHost(), first_service_host_);
    EXPECT_EQ(RunningVersion(), L"1.0.0");
    EXPECT_TRUE(WaitUntil([] { return road::ListStagingFolders().empty(); }, 10000));
  }

  std::vector<std::string> answers_;
  DWORD first_service_host_ = 0;
  std::wstring updater_;
  std::wstring packages_;
  UniqueHandle old_ui_;
  DWORD old_ui_pid_ = 0;

  // The process whose id a log line gives, opened to be waited for and ended.
  static UniqueHandle OpenById(const std::string& pid_text) {
    const DWORD pid = static_cast<DWORD>(std::strtoul(pid_text.c_str(), nullptr, 10));
    return OwnHandle(::OpenProcess(
        SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  }

 private:
  // Expects `process` to run `image` as the child of `parent`. Its parent shows only while it
  // runs: a mode no longer listed (a watcher that gives up at once) must have ended.
  static void ExpectStarted(HANDLE process, DWORD parent, const std::wstring& image) {
    ASSERT_NE(process, nullptr);
    std::optional<DWORD> seen_parent;
    for (const tools::ProcessEntry& entry : tools::RunningProcesses()) {
      if (entry.pid == ::GetProcessId(process)) seen_parent = entry.parent;
    }
    EXPECT_EQ(seen_parent.value_or(parent), parent);
    EXPECT_TRUE(seen_parent || ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0);
    EXPECT_EQ(Upper(tools::ImagePathOf(process)), Upper(image));
  }

  static void Finish(UpdateRun& run, const std::wstring& watcher_log) {
    if (run.installer) run.installer_exit = ExitCodeWithin(run.installer.get(), kModeTimeoutMs);
    if (run.watcher) run.watcher_exit = ExitCodeWithin(run.watcher.get(), kModeTimeoutMs);
    run.record = road::ReadStatusRecord();
    run.watcher_log = ReadWholeFile(watcher_log);
  }
};
