// Whole updates under Wine on the sample product's own road: an
// administrator step places a package and its SHA-256 in the service's
// Incoming folder, a click on the UI's "Apply update" makes it ask the service
// through the pipe to stage the package with a copy of the updater, start the
// relaunch watcher and ask the service to start installer mode. Each test
// checks what a user would see, in a prefix of its own with version 1
// installed and its service running.
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "support/sample_product.h"
#include "ui/update_client.h"
#include "ui/ui_window.h"
#include "contract/road_contract.h"
#include "contract/road_paths.h"
#include "win/road_handles.h"
#include "win/security_descriptor.h"

namespace {

constexpr DWORD kModeTimeoutMs = 180000;
constexpr DWORD kAnswerTimeoutMs = 30000;
// Updates in a row in the soak unless CORVANTA_SOAK_UPDATES says otherwise;
// the sample builds versions 2.0.1 up to SAMPLE_SERIES_COUNT.
constexpr int kDefaultSoakUpdates = 20;

struct ProcessEntry {
  DWORD pid = 0;
  DWORD parent = 0;
  std::wstring name;
};

std::vector<ProcessEntry> RunningProcesses() {
  std::vector<ProcessEntry> found;
  const UniqueHandle snapshot = OwnHandle(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = snapshot && ::Process32FirstW(snapshot.get(), &entry); more;
       more = ::Process32NextW(snapshot.get(), &entry)) {
    found.push_back({entry.th32ProcessID, entry.th32ParentProcessID, entry.szExeFile});
  }
  return found;
}

// Ids of the running processes of `name` whose parent is `parent` (any when 0).
std::vector<DWORD> ProcessesNamed(const std::wstring& name, DWORD parent = 0) {
  std::vector<DWORD> ids;
  for (const ProcessEntry& process : RunningProcesses()) {
    if (Lower(process.name) == Lower(name) && (parent == 0 || process.parent == parent)) {
      ids.push_back(process.pid);
    }
  }
  return ids;
}

DWORD ParentOf(DWORD pid) {
  for (const ProcessEntry& process : RunningProcesses()) {
    if (process.pid == pid) return process.parent;
  }
  return 0;
}

std::wstring ImageOf(HANDLE process) {
  wchar_t path[MAX_PATH * 2] = {};
  DWORD size = MAX_PATH * 2;
  return ::QueryFullProcessImageNameW(process, 0, path, &size) ? std::wstring(path, size) : L"";
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeout_ms) {
  for (DWORD waited = 0; !condition(); waited += 20) {
    if (waited >= timeout_ms) return false;
    ::Sleep(20);
  }
  return true;
}

// The lines appended to a log after this follower was made.
class LogFollower {
 public:
  explicit LogFollower(std::wstring path)
      : path_(std::move(path)), start_(ReadWholeFile(path_).size()) {}

  // The rest of the first new line that starts with `prefix`, waiting up to
  // `timeout_ms` for it; empty when none came.
  std::string WaitForLine(const std::string& prefix, DWORD timeout_ms) const {
    std::string rest;
    WaitUntil([&] { return FindLine(prefix, rest); }, timeout_ms);
    return rest;
  }

  bool HasLine(const std::string& prefix) const {
    std::string rest;
    return FindLine(prefix, rest);
  }

  // Everything written since this follower was made.
  std::string NewText() const {
    const std::string text = ReadWholeFile(path_);
    return text.size() > start_ ? text.substr(start_) : std::string();
  }

 private:
  bool FindLine(const std::string& prefix, std::string& rest) const {
    const std::string text = ReadWholeFile(path_);
    for (size_t at = start_; at < text.size();) {
      const size_t end = text.find("\r\n", at);
      if (end == std::string::npos) return false;
      if (text.compare(at, prefix.size(), prefix) == 0) {
        rest = text.substr(at + prefix.size(), end - at - prefix.size());
        return true;
      }
      at = end + 2;
    }
    return false;
  }

  std::wstring path_;
  size_t start_;
};

// One update begun by a click, followed to its end.
struct RoadUpdate {
  std::string answer;
  std::wstring token;
  UniqueHandle installer;
  UniqueHandle watcher;
  DWORD installer_parent = 0;
  DWORD watcher_parent = 0;
  std::wstring installer_image;
  std::wstring watcher_image;
  std::optional<DWORD> installer_exit;
  std::optional<DWORD> watcher_exit;
  std::wstring record;
  std::string watcher_log;
  std::string service_log;  // what the service wrote, when the update did not start
};

UniqueHandle OpenById(const std::string& pid_text) {
  const DWORD pid = static_cast<DWORD>(std::strtoul(pid_text.c_str(), nullptr, 10));
  return OwnHandle(::OpenProcess(
      SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
}

std::vector<std::wstring> StagingFolders() {
  std::vector<std::wstring> folders;
  WIN32_FIND_DATAW data{};
  const road::UniqueFind find = road::FindFirst(road::StagingRoot() + L"\\*", data);
  for (bool more = find != nullptr; more; more = ::FindNextFileW(find.get(), &data) != FALSE) {
    if (road::IsWellFormedToken(data.cFileName)) folders.push_back(data.cFileName);
  }
  return folders;
}

// Whether the service serves the pipe, without connecting to it.
bool PipeIsServed() {
  return WaitUntil([] { return ::WaitNamedPipeW(road::kUpdatePipeName, 100) != FALSE; }, 10000);
}

class UpdateRoad : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(road::ServiceStatus().dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING))
        << "the prepared machine must run version 1's service";
    ASSERT_TRUE(PipeIsServed());
    old_ui_ = StartProgram(ProductExecutablePath());
    ASSERT_TRUE(old_ui_);
    old_ui_pid_ = ::GetProcessId(old_ui_.get());
  }

  // The administrator step: `package` of the sample's build, with the
  // .sha256 file of `hash_of` beside it, lands in the service's Incoming.
  void PlacePending(const std::wstring& package, const std::wstring& hash_of = L"") {
    const std::wstring built = SampleFolder() + L"\\msi\\";
    ASSERT_TRUE(FileExistsAt(built + package)) << Narrow(package) << " is not built";
    ASSERT_FALSE(CopyInto(built + package, road::IncomingFolder()).empty());
    ASSERT_FALSE(CopyInto(built + (hash_of.empty() ? package : hash_of) + L".sha256",
                          road::IncomingFolder(), package + L".sha256")
                     .empty());
  }

  // Clicks "Apply update" in the UI program `ui_pid` and waits for the
  // service's answer; once started, takes hold of installer mode and the
  // watcher while they run.
  RoadUpdate Click(DWORD ui_pid) {
    const LogFollower ui_log(road::UiLogPath());
    const LogFollower service_log(road::ServiceLogPath());
    RoadUpdate update;
    EXPECT_TRUE(sample::ClickApplyUpdate(ui_pid, 10000)) << "no window of pid " << ui_pid;
    update.answer = ui_log.WaitForLine(Narrow(road::kUiAskedToStage), kAnswerTimeoutMs);
    if (road::ParseAnswer(update.answer).kind == road::Answer::Kind::kStaged) {
      update.answer = ui_log.WaitForLine(Narrow(road::kUiAskedToStart), kAnswerTimeoutMs);
    }
    const road::Answer answer = road::ParseAnswer(update.answer);
    if (answer.kind != road::Answer::Kind::kStarted) {
      update.service_log = service_log.NewText();
      return update;
    }
    update.token = answer.token;
    update.installer =
        OpenById(service_log.WaitForLine(Narrow(road::kServiceStartedInstaller), kAnswerTimeoutMs));
    update.watcher = OpenById(ui_log.WaitForLine(Narrow(road::kUiStartedWatcher), kAnswerTimeoutMs));
    for (auto [process, parent, image] :
         {std::tuple{update.installer.get(), &update.installer_parent, &update.installer_image},
          std::tuple{update.watcher.get(), &update.watcher_parent, &update.watcher_image}}) {
      if (process == nullptr) continue;
      *parent = ParentOf(::GetProcessId(process));
      *image = ImageOf(process);
    }
    return update;
  }

  void Finish(RoadUpdate& update) {
    if (update.installer) {
      update.installer_exit = ExitCodeWithin(update.installer.get(), kModeTimeoutMs);
    }
    if (update.watcher) update.watcher_exit = ExitCodeWithin(update.watcher.get(), kModeTimeoutMs);
    update.record = PublishedRecordText();
    update.watcher_log = ReadWholeFile(road::StagingFolder(update.token) + L"\\" +
                                       road::WatcherLogFileName());
  }

  // What a completed update on the road leaves: both modes ran from the
  // staged copy, installer mode as the service's child and the watcher as the
  // UI's, the package was consumed, nothing of the update still runs, and the
  // product runs again as `version`.
  void ExpectCompleted(const RoadUpdate& update, const std::wstring& version, DWORD ui_pid,
                       DWORD service_host) {
    ASSERT_EQ(update.answer, "started " + Narrow(update.token))
        << "the service's log meanwhile:\n" << update.service_log;
    const std::wstring staged_updater =
        Lower(road::StagingFolder(update.token) + L"\\" + road::kUpdaterFileName);
    EXPECT_EQ(update.installer_parent, service_host);
    EXPECT_EQ(update.watcher_parent, ui_pid);
    EXPECT_EQ(Lower(update.installer_image), staged_updater);
    EXPECT_EQ(Lower(update.watcher_image), staged_updater);
    EXPECT_EQ(update.installer_exit, 0u);
    EXPECT_EQ(update.watcher_exit, 0u);
    EXPECT_EQ(update.record, update.token + L"|completed");
    EXPECT_LE(StagingFolders().size(), road::kStagingFoldersKept);
    EXPECT_TRUE(FileExistsAt(road::StagingFolder(update.token) + L"\\CorvantaRemote-" + version +
                             L".msi.log"));
    EXPECT_FALSE(FileExistsAt(road::IncomingFolder() + L"\\CorvantaRemote-" + version + L".msi"));
    EXPECT_TRUE(ProcessesNamed(road::kUpdaterFileName).empty());
    EXPECT_TRUE(ProcessesNamed(L"msiexec.exe").empty());
    ExpectRelaunchedAfterUpdate(update.watcher_log, version, ui_pid);
  }

  // Places `version` of the series, clicks in the UI that runs now and
  // follows the update to its end.
  RoadUpdate ApplySeriesVersion(int n, const std::wstring& expected_version = L"") {
    const std::wstring version = L"2.0." + std::to_wstring(n);
    PlacePending(L"CorvantaRemote-" + version + L".msi");
    const DWORD ui_pid = LastUiStart().pid;
    const DWORD service_host = road::ServiceStatus().dwProcessId;
    RoadUpdate update = Click(ui_pid);
    Finish(update);
    if (!expected_version.empty()) ExpectCompleted(update, expected_version, ui_pid, service_host);
    return update;
  }

  // Nothing of an update started: no updater runs, version 1's UI and service
  // run on, no staging folder is left.
  void ExpectNothingStarted(DWORD service_host) {
    EXPECT_TRUE(ProcessesNamed(road::kUpdaterFileName).empty());
    EXPECT_TRUE(IsStillRunning(old_ui_.get()));
    EXPECT_EQ(road::ServiceStatus().dwProcessId, service_host);
    EXPECT_EQ(ReadSampleString(L"SampleService", L"RunningVersion"), L"1.0.0");
    EXPECT_TRUE(StagingFolders().empty());
  }

  UniqueHandle old_ui_;
  DWORD old_ui_pid_ = 0;
};

TEST_F(UpdateRoad, CompletedUpdateRunsFromTheStagedCopy) {
  PlacePending(L"CorvantaRemote-2.0.0.msi");
  const DWORD service_host = road::ServiceStatus().dwProcessId;

  RoadUpdate update = Click(old_ui_pid_);
  Finish(update);

  ExpectCompleted(update, L"2.0.0", old_ui_pid_, service_host);
  EXPECT_NE(road::ServiceStatus().dwProcessId, service_host);
}

TEST_F(UpdateRoad, PackageWhoseHashDoesNotMatchStartsNothing) {
  PlacePending(L"CorvantaRemote-2.0.0.msi", L"CorvantaRemote-2.0.0-fail.msi");
  const DWORD service_host = road::ServiceStatus().dwProcessId;
  const LogFollower ui_log(road::UiLogPath());

  const RoadUpdate update = Click(old_ui_pid_);

  EXPECT_EQ(update.answer, "refused: package hash mismatch");
  EXPECT_FALSE(ui_log.HasLine("Started the relaunch watcher"));
  ExpectNothingStarted(service_host);
}

TEST_F(UpdateRoad, RequestsOtherThanApplyPendingUpdateAreRefused) {
  const DWORD service_host = road::ServiceStatus().dwProcessId;
  EXPECT_EQ(road::ExchangeWithService("apply-pending-update\n"),
            "refused: no pending package\n");
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
    EXPECT_EQ(road::ExchangeWithService(c.request), "refused: " + c.answer + "\n") << c.request;
  }
  // A token the service did not stage last starts nothing, however well formed.
  const std::wstring unknown = road::NewToken();
  EXPECT_EQ(road::ExchangeWithService(road::StartRequestLine(unknown)),
            "refused: no update staged as " + Narrow(unknown) + "\n");

  ExpectNothingStarted(service_host);
  EXPECT_TRUE(FileExistsAt(road::IncomingFolder() + L"\\CorvantaRemote-2.0.0.msi"));
}

TEST_F(UpdateRoad, SoakOfUpdatesInARow) {
  const char* count_text = std::getenv("CORVANTA_SOAK_UPDATES");
  const int count = count_text != nullptr ? std::atoi(count_text) : kDefaultSoakUpdates;
  for (int n = 1; n <= count; ++n) {
    SCOPED_TRACE("update " + std::to_string(n) + " of " + std::to_string(count));
    ApplySeriesVersion(n, L"2.0." + std::to_wstring(n));
    if (HasFatalFailure() || HasNonfatalFailure()) break;
  }
}

TEST_F(UpdateRoad, NewUpdateCompletesAfterInstallerModeWasKilled) {
  const struct {
    const char* moment;
    const wchar_t* delay_value;  // a slow service step, so the moment lasts
    std::function<bool(DWORD installer_pid, const std::wstring& msiexec_log)> reached;
  } points[] = {
      {"while the service stops", L"StopDelayMs",
       [](DWORD, const std::wstring&) {
         return road::ServiceStatus().dwCurrentState == SERVICE_STOP_PENDING;
       }},
      // Running, not just made: a process shows as soon as it is made, before its parent has
      // let its first thread run, and a parent killed then leaves it waiting for ever (seen
      // under Wine twice in 250 runs of this test). Its log shows that it runs.
      {"while msiexec runs", nullptr,
       [](DWORD installer, const std::wstring& msiexec_log) {
         return !ProcessesNamed(L"msiexec.exe", installer).empty() && FileExistsAt(msiexec_log);
       }},
      {"while the service restarts", L"StartDelayMs",
       [](DWORD, const std::wstring&) {
         return road::ServiceStatus().dwCurrentState == SERVICE_START_PENDING;
       }},
  };
  int n = 0;
  for (const auto& point : points) {
    SCOPED_TRACE(point.moment);
    if (point.delay_value != nullptr) WriteSampleDword(L"SampleService", point.delay_value, 3000);
    const std::wstring package = L"CorvantaRemote-2.0." + std::to_wstring(++n) + L".msi";
    PlacePending(package);
    RoadUpdate killed = Click(LastUiStart().pid);
    ASSERT_TRUE(killed.installer) << killed.answer;
    const DWORD installer_pid = ::GetProcessId(killed.installer.get());
    const std::wstring msiexec_log =
        road::StagingFolder(killed.token) + L"\\" + package + L".log";
    ASSERT_TRUE(WaitUntil([&] { return point.reached(installer_pid, msiexec_log); }, 60000));
    ASSERT_TRUE(::TerminateProcess(killed.installer.get(), 1));
    if (point.delay_value != nullptr) WriteSampleDword(L"SampleService", point.delay_value, 0);

    // What a restart of the machine would end or start: the killed update's
    // watcher waits for an outcome that never comes, the service may have
    // been left stopped, and the user opens the product again.
    ::TerminateProcess(killed.watcher.get(), 1);
    ASSERT_TRUE(WaitUntil([] { return ProcessesNamed(L"msiexec.exe").empty(); }, kModeTimeoutMs));
    ASSERT_TRUE(WaitUntil(
        [] {
          const DWORD state = road::ServiceStatus().dwCurrentState;
          return state == SERVICE_RUNNING || state == SERVICE_STOPPED;
        },
        60000));
    if (road::ServiceStatus().dwCurrentState == SERVICE_STOPPED) {
      ASSERT_TRUE(::StartServiceW(OpenRemoteServiceForTest().get(), 0, nullptr));
    }
    ASSERT_TRUE(PipeIsServed());
    UniqueHandle reopened;
    if (ProcessHasEnded(LastUiStart().pid)) reopened = StartProgram(ProductExecutablePath());

    ++n;
    const RoadUpdate next = ApplySeriesVersion(n, L"2.0." + std::to_wstring(n));
    EXPECT_NE(next.token, killed.token);
    if (HasFatalFailure()) return;
  }
}

// The UI starts the watcher before it lets the service start installer mode,
// so that however long the UI takes, installer mode cannot end it before the
// watcher waits for it.
TEST_F(UpdateRoad, UiThatIsSlowToStartTheWatcherStillRelaunches) {
  WriteSampleDword(L"SampleUI", L"WatcherDelayMs", 8000);
  PlacePending(L"CorvantaRemote-2.0.0.msi");
  const DWORD service_host = road::ServiceStatus().dwProcessId;

  RoadUpdate update = Click(old_ui_pid_);
  Finish(update);

  ExpectCompleted(update, L"2.0.0", old_ui_pid_, service_host);
}

// Installer mode stops the service at every update, which frees the pipe's
// name: a user's process that takes it must get nothing from the UI, and the
// service must serve again once the name is free.
TEST_F(UpdateRoad, SquattedPipeIsRefusedAndTheServiceTakesItBack) {
  const UniqueScHandle service = OpenRemoteServiceForTest();
  SERVICE_STATUS status{};
  ASSERT_TRUE(::ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
  ASSERT_TRUE(WaitUntil(
      [] { return road::ServiceStatus().dwCurrentState == SERVICE_STOPPED; }, 60000));
  UniqueHandle squatter = OwnHandle(::CreateNamedPipeW(
      road::kUpdatePipeName, PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE, 1, 512, 512, 0, nullptr));
  ASSERT_TRUE(squatter) << ::GetLastError();
  const LogFollower service_log(road::ServiceLogPath());
  const LogFollower ui_log(road::UiLogPath());
  ASSERT_TRUE(::StartServiceW(service.get(), 0, nullptr)) << ::GetLastError();
  EXPECT_FALSE(service_log.WaitForLine("Could not create the update pipe (error ", 60000).empty());

  EXPECT_TRUE(sample::ClickApplyUpdate(old_ui_pid_, 10000));
  EXPECT_EQ(ui_log.WaitForLine(Narrow(road::kUiAskedToStage), kAnswerTimeoutMs)
                .rfind("no answer: the pipe is not served by the update service", 0),
            0u);
  DWORD sent_to_squatter = 0;
  ::PeekNamedPipe(squatter.get(), nullptr, 0, nullptr, &sent_to_squatter, nullptr);
  EXPECT_EQ(sent_to_squatter, 0u);

  squatter.reset();
  EXPECT_EQ(service_log.WaitForLine("Serving the update ", 120000), "pipe");
  EXPECT_EQ(road::ExchangeWithService(road::ApplyRequestLine()),
            "refused: no pending package\n");
}

TEST_F(UpdateRoad, ServiceThatNeverAnswersTimesOut) {
  WriteSampleDword(L"SampleService", L"AnswerDelayMs", 600000);

  EXPECT_EQ(road::ExchangeWithService(road::ApplyRequestLine(), 3000),
            "no answer: the update service did not answer in time");
  // The UI asks on a thread of its own: its window answers while it waits.
  ASSERT_TRUE(sample::ClickApplyUpdate(old_ui_pid_, 10000));
  DWORD_PTR result = 0;
  EXPECT_NE(::SendMessageTimeoutW(sample::FindUiWindow(old_ui_pid_), WM_NULL, 0, 0,
                                  SMTO_ABORTIFHUNG, 5000, &result),
            0);
}

// The access lists the service gives the pipe, its folders and the watcher
// log. Wine 8 reads back a default list for files (SYSTEM and the user), not
// the one set, so the descriptors built from the sample's SDDL strings are
// checked instead (docs/wine.md).
class RoadAccessLists : public ::testing::Test {
 protected:
  // The rights that allow entries for `who` grant, with generic rights mapped
  // as for files; `inherited` is false when one of the list's entries does not
  // reach the files and folders below.
  static ACCESS_MASK GrantedTo(const wchar_t* sddl, WELL_KNOWN_SID_TYPE who, bool& is_protected,
                               bool& inherited) {
    const UniqueLocal<void> descriptor = road::DescriptorFromSddl(sddl);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (!descriptor ||
        !::GetSecurityDescriptorControl(descriptor.get(), &control, &revision) ||
        !::GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted) || !dacl) {
      ADD_FAILURE() << "not a descriptor with an access list: " << Narrow(sddl);
      return 0;
    }
    is_protected = (control & SE_DACL_PROTECTED) != 0;
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sid_size = sizeof(sid);
    EXPECT_TRUE(::CreateWellKnownSid(who, nullptr, sid, &sid_size));
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                               FILE_ALL_ACCESS};
    ACCESS_MASK granted = 0;
    inherited = true;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
      void* ace = nullptr;
      EXPECT_TRUE(::GetAce(dacl, i, &ace));
      const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
      EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE) << Narrow(sddl);
      inherited = inherited && (allowed->Header.AceFlags & (OBJECT_INHERIT_ACE |
                                                            CONTAINER_INHERIT_ACE)) ==
                                   (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
      if (!::EqualSid(const_cast<DWORD*>(&allowed->SidStart), sid)) continue;
      ACCESS_MASK mask = allowed->Mask;
      ::MapGenericMask(&mask, &mapping);
      granted |= mask;
    }
    return granted;
  }
};

TEST_F(RoadAccessLists, EachTrusteeGetsOnlyItsRights) {
  constexpr ACCESS_MASK kNothing = 0;
  constexpr ACCESS_MASK kChanges = DELETE | WRITE_DAC | WRITE_OWNER;
  const struct {
    const char* what;
    const wchar_t* sddl;
    WELL_KNOWN_SID_TYPE who;
    ACCESS_MASK granted;  // all of these
    ACCESS_MASK denied;   // none of these
  } cases[] = {
      {"pipe", road::kPipeSddl, WinLocalSystemSid, FILE_ALL_ACCESS, kNothing},
      {"pipe", road::kPipeSddl, WinBuiltinAdministratorsSid, FILE_ALL_ACCESS, kNothing},
      // All that a client asks for: GENERIC_READ | FILE_WRITE_DATA.
      {"pipe", road::kPipeSddl, WinInteractiveSid, FILE_GENERIC_READ | FILE_WRITE_DATA,
       FILE_CREATE_PIPE_INSTANCE | kChanges},
      {"pipe", road::kPipeSddl, WinWorldSid, kNothing, FILE_ALL_ACCESS},
      {"pipe", road::kPipeSddl, WinNetworkSid, kNothing, FILE_ALL_ACCESS},
      {"folders", road::kFolderSddl, WinLocalSystemSid, FILE_ALL_ACCESS, kNothing},
      {"folders", road::kFolderSddl, WinBuiltinAdministratorsSid, FILE_ALL_ACCESS, kNothing},
      {"folders", road::kFolderSddl, WinBuiltinUsersSid,
       FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_DATA | FILE_EXECUTE,
       FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | FILE_WRITE_ATTRIBUTES |
           kChanges},
      {"folders", road::kFolderSddl, WinWorldSid, kNothing, FILE_ALL_ACCESS},
      {"Incoming", road::kIncomingSddl, WinLocalSystemSid, FILE_ALL_ACCESS, kNothing},
      {"Incoming", road::kIncomingSddl, WinBuiltinUsersSid, kNothing, FILE_ALL_ACCESS},
      {"watcher log", road::kWatcherLogSddl, WinLocalSystemSid, FILE_ALL_ACCESS, kNothing},
      {"watcher log", road::kWatcherLogSddl, WinBuiltinUsersSid,
       FILE_READ_DATA | FILE_APPEND_DATA,
       FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES | FILE_WRITE_EA | kChanges},
      {"watcher log", road::kWatcherLogSddl, WinWorldSid, kNothing, FILE_ALL_ACCESS},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.what) + ", trustee type " + std::to_string(c.who));
    bool is_protected = false;
    bool inherited = false;
    const ACCESS_MASK granted = GrantedTo(c.sddl, c.who, is_protected, inherited);
    EXPECT_EQ(granted & c.granted, c.granted) << std::hex << granted;
    EXPECT_EQ(granted & c.denied, 0u) << std::hex << granted;
    EXPECT_TRUE(is_protected) << "inherits from above";
    // What is made in a staging folder carries its list.
    if (c.sddl != road::kWatcherLogSddl && c.sddl != road::kPipeSddl) {
      EXPECT_TRUE(inherited);
    }
  }
}

}  // namespace
