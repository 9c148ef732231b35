// The watcher log beside the running executable, set up and read back through
// the file API, so Wine's file system checks what the simulation does; then,
// where the simulation goes further than Wine, failing calls, folders that
// refuse files, and a watcher whose log is lost.
#include "relaunch/watcher_log.h"

#include <windows.h>

#include <string>
#include <vector>

#include "relaunch/relaunch_watcher.h"
#include "shared/unique_handles.h"
#include "support/world_test.h"

namespace {

UniqueHandle OpenFile(const std::wstring& path, DWORD access, DWORD share, DWORD disposition) {
  return OwnHandle(::CreateFileW(path.c_str(), access, share, nullptr, disposition,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
}

void WriteWhole(const std::wstring& path, const std::string& content) {
  const UniqueHandle file = OpenFile(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
  ASSERT_TRUE(file);
  DWORD written = 0;
  ASSERT_TRUE(::WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written,
                          nullptr));
}

// Under Wine every suite of this program shares one executable and so one
// log file; keeping all cases in this one suite keeps them from running side
// by side.
class WatcherLogFileTest : public WorldTest {
 protected:
  void SetUp() override {
    WorldTest::SetUp();
    std::wstring path(32768, L'\0');
    path.resize(::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    log_ = path + updater_contract::kLogSuffix;  // beside this program
    ::DeleteFileW(log_.c_str());
  }
  void TearDown() override {
    ::DeleteFileW(log_.c_str());
    WorldTest::TearDown();
  }
  std::wstring log_;
};

// The first line creates the file beside the executable; a later run's lines follow what an
// earlier one left, in call order.
TEST_F(WatcherLogFileTest, FirstLineCreatesTheFileAndLaterLinesFollowInCallOrder) {
  std::string message;
  for (int byte = 1; byte < 256; ++byte) message += static_cast<char>(byte);

  AppendWatcherLogLine(message);

  EXPECT_EQ(ReadWholeFile(log_), message + "\r\n");
  WriteWhole(log_, "earlier run\r\n");

  AppendWatcherLogLine("second run: 4242");
  AppendWatcherLogLine("");
  AppendWatcherLogLine("its last line");

  EXPECT_EQ(ReadWholeFile(log_), "earlier run\r\nsecond run: 4242\r\n\r\nits last line\r\n");
}

// Another handle (a viewer, another writer) holds the log open for reading
// and writing: the line is appended exactly when that handle shares writing
// with us and tolerates our sharing.
TEST_F(WatcherLogFileTest, AppendsWhileAnotherHandleHoldsTheFileOnlyIfItSharesWriting) {
  struct Holder {
    DWORD share;
    bool appended;
  };
  const Holder holders[] = {{0, false},
                            {FILE_SHARE_READ, false},
                            {FILE_SHARE_WRITE, true},
                            {FILE_SHARE_READ | FILE_SHARE_WRITE, true}};
  for (const Holder& holder : holders) {
    SCOPED_TRACE(holder.share);
    WriteWhole(log_, "kept\r\n");
    {
      const UniqueHandle held =
          OpenFile(log_, GENERIC_READ | GENERIC_WRITE, holder.share, OPEN_EXISTING);
      ASSERT_TRUE(held);

      AppendWatcherLogLine("appended");
    }
    EXPECT_EQ(ReadWholeFile(log_), holder.appended ? "kept\r\nappended\r\n" : "kept\r\n");
  }
}

#if !defined(_WIN32)
TEST_F(WatcherLogFileTest, LongModulePathStillGetsItsLog) {
  const std::wstring updater =
      L"C:\\" + std::wstring(600, L'd') + L"\\" + updater_contract::kUpdaterFileName;
  winsim::SetModuleFileName(updater);
  AppendWatcherLogLine("line");
  EXPECT_EQ(winsim::FileContent(updater + updater_contract::kLogSuffix), "line\r\n");
}

TEST_F(WatcherLogFileTest, FailedWriteLeavesTheFileAsItWas) {
  winsim::SetFile(log_, "earlier\r\n");
  winsim::FailCall("WriteFile", 1, ERROR_ACCESS_DENIED);
  AppendWatcherLogLine("lost");
  AppendWatcherLogLine("kept");
  EXPECT_EQ(WatcherLog(), "earlier\r\nkept\r\n");
}

// Whatever keeps the log from being written, the watcher runs its course:
// it still launches after a completed update and ends with 0.
struct LostLogCase {
  const char* name;
  std::vector<Fault> faults;
  std::wstring unwritable_folder;  // or empty
  bool held_without_sharing;
};

class LostLogTest : public WatcherLogFileTest, public ::testing::WithParamInterface<LostLogCase> {};

TEST_P(LostLogTest, WatcherRunsItsCourseWithoutALog) {
  ArrangeMachine(
      {.record = {{0, StatusRecordText(L"tok", kCompletedOutcome)}}, .faults = GetParam().faults});
  if (!GetParam().unwritable_folder.empty()) winsim::DenyWritesBelow(GetParam().unwritable_folder);
  if (GetParam().held_without_sharing) winsim::HoldFile(kUpdaterLog, /*share_mode=*/0);

  EXPECT_EQ(RunRelaunchWatcher(L"", L"tok"), 0);
  EXPECT_EQ(winsim::Launches().size(), 1u);
  EXPECT_FALSE(winsim::FileExists(kUpdaterLog));
}

// clang-format off
const LostLogCase kCauses[] = {
    {"ModulePathUnavailable", {{"GetModuleFileNameW", 0, ERROR_NOT_ENOUGH_MEMORY}}, L"", false},
    {"FolderNotWritable", {}, L"C:\\Updater", false},
    {"HeldWithoutSharingByAnotherProcess", {}, L"", true},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Causes, LostLogTest, ::testing::ValuesIn(kCauses), kRowName);
#endif

}  // namespace
