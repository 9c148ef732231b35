// The lines the road's two sides exchange and the .sha256 file a delivery brings, read as the
// service and the user interface read them: a token becomes part of a path, so anything but a
// well-formed one must be turned away. And how the user interface opens the pipe, which decides
// what the pipe's server may do in the user's name. Then the service's answers to requests from
// a client whose session is known, another one, or unknown: a failed session query must refuse
// the request, never pass for session 0. And its log: a client that sends the same request
// again and again costs it a few lines a minute, and the log says how many it left out.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "common/process_list.h"
#include "contract/pipe_protocol.h"
#include "contract/road_contract.h"
#include "contract/road_paths.h"
#include "service/guarded_start.h"
#include "service/package_hash.h"
#include "service/repeated_lines.h"
#include "service/service_log.h"
#include "service/update_requests.h"
#include "support/wine_helpers.h"
#include "support/world_test.h"
#include "ui/update_client.h"
#include "win/text_conversion.h"

namespace {

TEST(RoadLines, OnlyWellFormedTokensAreTakenFromRequestsAndAnswers) {
  const std::string token = kWellFormedToken;
  const struct {
    std::string token;  // sent after "start ", "staged " and "started ", and named in a pipe's name
    bool taken;
  } cases[] = {
      {token, true},
      {"0F8FAD5B-D9CB-469F-A165-70867728950E", true},
      {"0f8fad5b-d9cb-469f-a165-70867728950", false},    // a digit short
      {"0f8fad5b-d9cb-469f-a165-70867728950e0", false},  // a digit more
      {"0f8fad5b-d9cb-469f-a165-7086772895-e", false},   // a dash in a hex place
      {"0f8fad5bd-9cb-469f-a165-70867728950e", false},   // a digit in a dash place
      {"0f8fad5b-d9cb-469f-a165-70867728950g", false},
      {"..\\..\\..\\Windows\\System32\\cmd.ex", false},
      {"{0f8fad5b-d9cb-469f-a165-70867728950e}", false},
      {"", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.token);
    const std::wstring wide = road::WidenAscii(c.token);
    const road::Request request = road::ParseRequest(road::kStartRequest + c.token);
    EXPECT_EQ(request.kind == road::Request::Kind::kStart, c.taken);
    EXPECT_EQ(request.token, c.taken ? wide : L"");
    EXPECT_EQ(road::IsUpdatePipeName(L"\\\\.\\pipe\\CorvantaRemoteUpdate-" + wide), c.taken);
    for (const auto& [prefix, kind] :
         {std::pair{road::kStagedAnswer, road::Answer::Kind::kStaged},
          std::pair{road::kStartedAnswer, road::Answer::Kind::kStarted}}) {
      const road::Answer answer = road::ParseAnswer(prefix + c.token + "\r\n");
      EXPECT_EQ(answer.kind, c.taken ? kind : road::Answer::Kind::kNone) << prefix;
      EXPECT_EQ(answer.token, c.taken ? wide : L"") << prefix;
    }
  }
  EXPECT_EQ(road::ParseRequest(road::kApplyRequest).kind, road::Request::Kind::kApplyPending);
  EXPECT_EQ(road::ParseRequest(std::string(road::kApplyRequest) + " now").kind,
            road::Request::Kind::kUnknown);
  const road::Answer refused = road::ParseAnswer("refused: no pending package\n");
  EXPECT_EQ(refused.kind, road::Answer::Kind::kRefused);
  EXPECT_EQ(refused.text, "no pending package");
  EXPECT_TRUE(road::IsWellFormedToken(road::NewToken()));
}

// The status answer, as the service writes it and the user interface reads it back; a line
// that is not one of its forms reads as nothing.
TEST(RoadLines, TheStatusAnswerReadsBackAsWritten) {
  using Kind = road::UpdateProgress::Kind;
  const struct {
    road::UpdateProgress progress;
    std::string line;
  } rows[] = {
      {{Kind::kUpToDate, 0, 0, "", ""}, "status up-to-date"},
      {{Kind::kChecking, 0, 0, "", ""}, "status checking"},
      {{Kind::kDownloading, 0, 40000000, "", ""}, "status downloading 0 of 40000000"},
      {{Kind::kDownloading, 18446744073709551615u, 18446744073709551615u, "", ""},
       "status downloading 18446744073709551615 of 18446744073709551615"},
      {{Kind::kReady, 0, 0, "2.0.0", ""}, "status ready-to-install 2.0.0"},
      {{Kind::kRefused, 0, 0, "", "the feed has expired"}, "status refused: the feed has expired"},
      {{Kind::kRefused, 0, 0, "", "a\nb\xe9"}, "status refused: a?b?"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(road::StatusAnswerText(row.progress), row.line);
    const std::optional<road::UpdateProgress> read = road::ParseStatusAnswer(row.line + "\r\n");
    ASSERT_TRUE(read.has_value()) << row.line;
    EXPECT_EQ(road::StatusAnswerText(*read), row.line);
  }
  for (const char* line :
       {"status", "status up to date", "status downloading 5 of 4", "status downloading 1 of",
        "status downloading -1 of 4", "status downloading 18446744073709551616 of 1",
        "status ready-to-install ", "staged up-to-date", "refused: no pending package"}) {
    EXPECT_FALSE(road::ParseStatusAnswer(line).has_value()) << line;
  }
  EXPECT_EQ(road::StatusRequestLine(), "status\n");
  EXPECT_EQ(road::CheckRequestLine(), "check-for-update\n");
  EXPECT_EQ(road::ParseRequest("check-for-update").kind, road::Request::Kind::kCheck);
}

TEST(RoadLines, TheHashIsTakenOnlyFromTheStartOfTheFile) {
  const std::string hash(64, 'a');
  const struct {
    std::string text;  // the .sha256 file's contents
    std::string read;  // what the service takes from it
  } cases[] = {
      {hash + "  CorvantaRemote-2.0.0.msi\n", hash},
      {hash, hash},
      {hash + "\r\n", hash},
      {"", ""},
      {hash.substr(1), ""},        // 63 digits
      {hash + "0", ""},            // 65 digits
      {std::string(64, 'A'), ""},  // not the lowercase the file holds
      {"  " + hash, ""},           // not at the start
      {std::string(63, 'a') + "g", ""},
  };
  const std::wstring file = MakeScratchFolder(L"Hashes") + L"\\package.msi.sha256";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::ofstream(Narrow(file), std::ios::binary | std::ios::trunc) << c.text;
    EXPECT_EQ(road::ReadExpectedHash(file), c.read);
  }
  EXPECT_EQ(road::ReadExpectedHash(file + L".missing"), "");
}

// The client opens only a published name that the service could have made: the literal
// prefix and a GUID (each token above), and nothing that leads elsewhere.
TEST(RoadLines, OnlyAPipeNameOfTheServicesShapeIsOpened) {
  const std::wstring guid = L"0f8fad5b-d9cb-469f-a165-70867728950e";
  const std::wstring refused[] = {
      L"\\\\.\\pipe\\CorvantaRemoteUpdate",                 // a fixed name, which anyone can take
      L"\\\\attacker\\pipe\\CorvantaRemoteUpdate-" + guid,  // another machine's pipe
      L"\\\\?\\pipe\\CorvantaRemoteUpdate-" + guid,
      L"\\\\.\\PIPE\\CorvantaRemoteUpdate-" + guid,
      L"C:\\Users\\Public\\CorvantaRemoteUpdate-" + guid,
      L"",
  };
  for (const std::wstring& name : refused)
    EXPECT_FALSE(road::IsUpdatePipeName(name)) << Narrow(name);
  EXPECT_EQ(road::UpdatePipeName(guid), L"\\\\.\\pipe\\CorvantaRemoteUpdate-" + guid);
  EXPECT_EQ(road::UpdatePipeName(L"..\\x"), L"");
  EXPECT_TRUE(road::IsUpdatePipeName(road::UpdatePipeName(road::NewToken())));
}

// Wine grants every server full impersonation whatever the client asked for, so Windows' rule
// is read here from the flags themselves.
TEST(RoadLines, ThePipesServerMayIdentifyTheUserButNeverActAsTheUser) {
  const struct {
    DWORD open_flags;
    SECURITY_IMPERSONATION_LEVEL granted;
  } cases[] = {
      {road::kUpdatePipeOpenFlags, SecurityIdentification},
      {FILE_FLAG_OVERLAPPED, SecurityImpersonation},  // no quality of service stated
      {FILE_FLAG_OVERLAPPED | SECURITY_IDENTIFICATION, SecurityImpersonation},
      {SECURITY_SQOS_PRESENT | SECURITY_ANONYMOUS, SecurityAnonymous},
      {SECURITY_SQOS_PRESENT | SECURITY_DELEGATION, SecurityDelegation},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(road::ImpersonationGrantedBy(c.open_flags), c.granted) << std::hex << c.open_flags;
  }
}

// The folders of the service's log, and `more` below them, made as a test's process may make
// them.
void MakeServiceLogFolders(std::vector<std::wstring> more = {}) {
  more.insert(more.begin(), {road::PathIn(road::ProgramDataFolder(), L"Corvanta"),
                             road::UpdatesFolder(), road::LogsFolder()});
  for (const std::wstring& folder : more) (void)::CreateDirectoryW(folder.c_str(), nullptr);
}

TEST(RoadRequests, OnlyAClientOfTheStagingSessionMayStartTheUpdate) {
  const road::ClientSession unknown{false, 0};
  const road::ClientSession session_1{true, 1};
  const std::string token = kWellFormedToken;
  const std::string other_token = "1f8fad5b-d9cb-469f-a165-70867728950e";
  const struct {
    std::string request;
    road::ClientSession client;
    ULONG staged_for;
    const char* answer;
    std::string staged_token = kWellFormedToken;  // the token the session staged
  } cases[] = {
      {"apply-pending-update", unknown, 1, "refused: the client's session cannot be read"},
      // A failed query leaves 0, the session of services: it must not match one.
      {"start " + token, unknown, 0, "refused: the client's session cannot be read"},
      {"start " + token, road::ClientSession{true, 2}, 1, "refused: no update staged as "},
      {"start " + other_token, session_1, 1, "refused: no update staged as "},
      // The session and the token match: what stops it is the staged copy, which this test
      // has not made (its size cannot be read, so the check before the start refuses).
      {"start " + token, session_1, 1,
       "refused: the free space on the system drive could not be checked"},
      // Staged as it is now, an unsigned package: the copy is judged again right before the
      // start.
      {"start " + other_token, session_1, 1, "refused: package is not signed", other_token},
  };
  const road::ServiceLog log(/*to_road_folders=*/true);
  const std::wstring unsigned_copy = road::StagingFolder(road::WidenAscii(other_token));
  MakeServiceLogFolders({road::StagingRoot(), unsigned_copy});
  ASSERT_FALSE(
      CopyInto(SamplePackage(L"unsigned\\CorvantaRemote-2.0.0.msi"), unsigned_copy).empty());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.request);
    road::UpdateState state;
    state.trust = {/*folders=*/true, /*own_files=*/true};
    state.staged[c.staged_for] = {road::WidenAscii(c.staged_token), L"CorvantaRemote-2.0.0.msi"};
    const std::string answer =
        road::AnswerRequest(c.request, /*well_formed=*/true, c.client, state, log);
    EXPECT_EQ(answer.substr(0, std::string(c.answer).size()), c.answer);
    // A start that got as far as the checks is never tried again with the same token.
    if (c.client.known && c.client.id == c.staged_for && c.request == "start " + c.staged_token) {
      EXPECT_EQ(road::AnswerRequest(c.request, true, c.client, state, log),
                "refused: no update staged as " + c.staged_token);
    }
  }
}

TEST(RoadServiceLog, AFullLogIsMovedAsideBeforeTheNextLine) {
  MakeServiceLogFolders();
  const std::wstring path = road::ServiceLogPath();
  const std::string full(road::kServiceLogLimitBytes, 'x');
  std::ofstream(Narrow(path), std::ios::binary) << full;
  const road::ServiceLog log(/*to_road_folders=*/true);

  log.Note(L"the next line");
  log.Note(L"and one more");

  EXPECT_EQ(ReadWholeFile(path + L".old"), full);
  EXPECT_EQ(ReadWholeFile(path).find("xx"), std::string::npos) << ReadWholeFile(path).size();
  EXPECT_NE(ReadWholeFile(path).find("and one more"), std::string::npos);
}

// Whether a copy of the updater runs as a child of this process that was not running in
// `before`. Only the updater counts: Wine may start helpers of its own (a desktop, a console)
// as children of the program that first needs them.
bool AnyNewUpdaterChild(const std::vector<tools::ProcessEntry>& before) {
  const std::vector<tools::ProcessEntry> running = tools::RunningProcesses();
  return std::any_of(running.begin(), running.end(), [&before](const tools::ProcessEntry& process) {
    return process.parent == ::GetCurrentProcessId() && process.exe_name == L"RemoteUpdater.exe" &&
           std::none_of(before.begin(), before.end(), [&process](const tools::ProcessEntry& old) {
             return old.pid == process.pid;
           });
  });
}

// Without a guardian beside it, installer mode must not run an instruction, nor be left
// suspended. Started as a watcher of this process, the updater would wait and log if it ran.
TEST(RoadRequests, InstallerModeDoesNotRunWithoutItsGuardian) {
  MakeServiceLogFolders();
  const std::wstring staging = MakeScratchFolder(L"Staged without a guardian");
  ASSERT_FALSE(CopyInto(UpdaterExecutable(), staging).empty());
  const std::wstring token = road::WidenAscii(kWellFormedToken);
  const road::ServiceLog log(/*to_road_folders=*/true);
  const std::vector<tools::ProcessEntry> before = tools::RunningProcesses();

  const UniqueHandle installer = road::StartGuardedInstallerMode(
      staging, L"--edk-remote-relaunch " + std::to_wstring(::GetCurrentProcessId()) + L" " + token,
      token, log);

  EXPECT_FALSE(installer);
  EXPECT_TRUE(WaitUntil([&before] { return !AnyNewUpdaterChild(before); }, 10000));
  EXPECT_FALSE(FileExistsAt(staging + L"\\RemoteUpdater.exe.log"));
  EXPECT_NE(
      ReadWholeFile(road::ServiceLogPath()).find("Could not start the update's guardian (error 2)"),
      std::string::npos);
}

TEST(RoadRepeatedLines, EachKindAFewTimesAMinuteThenItsCount) {
  const std::wstring start = L"Request: start";
  const std::wstring other = L"Refused: unknown request";
  // A fresh token in every request is still the same kind of request.
  const auto start_line = [](int n) { return L"Request: start 0000000" + std::to_wstring(n); };
  road::RepeatedLines lines;
  for (unsigned i = 0; i < road::kWrittenPerInterval; ++i) {
    EXPECT_EQ(lines.Filter(start, start_line(i), 1000 + i), start_line(i)) << i;
  }
  EXPECT_EQ(lines.Filter(start, start_line(7), 2000), L"");
  EXPECT_EQ(lines.Filter(start, start_line(8), 1000 + road::kRepeatIntervalMs - 1), L"");
  EXPECT_EQ(lines.Filter(other, other, 3000), other);
  EXPECT_EQ(lines.Filter(start, start_line(9), 1000 + road::kRepeatIntervalMs),
            L"Request: start 00000009 (and 2 times more before)");
  EXPECT_EQ(lines.Filter(start, start_line(1), 1001 + road::kRepeatIntervalMs), start_line(1));

  // Kinds beyond those remembered push out the one whose interval began first, which is then
  // written afresh within its interval: memory stays bounded, lines are never lost.
  road::RepeatedLines fresh;
  for (unsigned i = 0; i < road::kWrittenPerInterval; ++i) (void)fresh.Filter(other, other, 1000);
  EXPECT_EQ(fresh.Filter(other, other, 1001), L"");
  for (size_t i = 0; i < road::kRememberedLines; ++i) {
    const std::wstring kind = L"The watcher log " + std::to_wstring(i);
    (void)fresh.Filter(kind, kind, 2000 + i);
  }
  EXPECT_EQ(fresh.Filter(other, other, 3000), other);
}

}  // namespace
