// Clients of the update pipe that send a request and never read the answer, under Wine with
// version 1 of the sample product installed and its service running: none may hold the
// service's one pipe instance past its deadline, keep the service from stopping, or, having
// asked to start an update, keep installer mode from stopping the service; nor may a user fill
// SYSTEM's disk through a staged update's watcher log.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "contract/pipe_protocol.h"
#include "contract/road_contract.h"
#include "contract/road_paths.h"
#include "e2e/product_update.h"
#include "service/update_pipe.h"
#include "service/watcher_logs.h"
#include "ui/update_client.h"
#include "win/process_start.h"

namespace {

const std::string kNoPendingPackage = Refused("no pending package");

// Connects to the update pipe, waiting while it serves another client, and sends `line`;
// returns the open handle, never read from, or empty when no connection came.
UniqueHandle SendWithoutReading(const std::string& line) {
  UniqueHandle pipe;
  WaitUntil(
      [&] {
        pipe = OwnHandle(::CreateFileW(road::PublishedUpdatePipeName().c_str(),
                                       GENERIC_READ | FILE_WRITE_DATA,
                                       /*share=*/0, nullptr, OPEN_EXISTING, 0, nullptr));
        return pipe != nullptr;
      },
      kAnswerTimeoutMs);
  DWORD written = 0;
  if (!pipe ||
      !::WriteFile(pipe.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr)) {
    return nullptr;
  }
  return pipe;
}

bool Contains(const std::string& text, const wchar_t* line_start) {
  return text.find(Narrow(line_start)) != std::string::npos;
}

using PipeClient = ProductUpdate;

TEST_F(PipeClient, ClientThatNeverReadsHoldsThePipeOnlyUntilItsDeadline) {
  const LogFollower service_log(road::ServiceLogPath());
  const UniqueHandle silent = SendWithoutReading(road::ApplyRequestLine());
  ASSERT_TRUE(silent);

  EXPECT_EQ(road::ExchangeWithService(road::ApplyRequestLine(), kAnswerTimeoutMs),
            kNoPendingPackage);

  // Let go at its deadline, and only then was the second client answered.
  const std::string text = service_log.NewText();
  const size_t released = text.find(Narrow(road::kClientMissedDeadlineNote));
  ASSERT_NE(released, std::string::npos) << text;
  EXPECT_NE(text.find("Refused: no pending package", released), std::string::npos) << text;
}

// What is left to read on `pipe`, up to its first line end, read without waiting for more
// than is there; empty when nothing is or the server has let go.
std::string ReadWaitingLine(HANDLE pipe) {
  char text[256] = {};
  DWORD available = 0;
  DWORD read = 0;
  if (!::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available == 0 ||
      !::ReadFile(pipe, text, sizeof(text) - 1, &read, nullptr)) {
    return "";
  }
  return std::string(text, read);
}

// A service stopped three times, once waiting out a client's deadline and once its
// bound for the pipe's thread.
TEST_F(PipeClient, StopEndsWhateverHoldsThePipe) {
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
TEST_F(PipeClient, UpdateCompletesWhenTheClientThatStartsItNeverReads) {
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
  EXPECT_EQ(road::ExchangeWithService(road::ApplyRequestLine()), kNoPendingPackage);
}

// A user who holds a staged update's watcher log open and appends to it costs the disk its
// limit and a few seconds' writes: the service cuts it back each time, keeping its start. It
// looks every 5 s: three looks take 15 s at most.
TEST_F(PipeClient, WatcherLogThatAUserFillsIsCutBackToItsLimit) {
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
