// The service's answers to requests from a client whose session is known, another one, or
// unknown: a failed session query must refuse the request, never pass for session 0. And its
// log: a client that sends the same request again and again costs it a few lines a minute, and
// the log says how many it left out.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "common/process_list.h"
#include "contract/road_paths.h"
#include "service/guarded_start.h"
#include "service/repeated_lines.h"
#include "service/service_log.h"
#include "service/update_requests.h"
#include "support/wine_helpers.h"
#include "support/world_test.h"
#include "win/text_conversion.h"

namespace {

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
  const std::wstring token(kWellFormedToken, kWellFormedToken + 36);
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
