// Ending the product's running copies, against the simulated process table.
#include "shared/product_processes.h"

#include <ostream>
#include <string>

#include "support/world_test.h"

namespace {

constexpr wchar_t kProgramFiles[] = L"C:\\Program Files";
constexpr const wchar_t* kProductPath = kInstalledProduct;
constexpr wchar_t kProductName[] = L"Corvanta Remote.exe";
constexpr uint64_t kNever = UINT64_MAX;

class ProductProcessesTest : public WorldTest {
 protected:
  void SetUp() override {
    WorldTest::SetUp();
    winsim::SetEnvironment(L"ProgramFiles", kProgramFiles);
  }

  // A process that ends this long after it is terminated (kNever: never).
  static DWORD AddCopy(const std::wstring& image_path, uint64_t ends_after_terminate_ms = 0,
                       const std::wstring& exe_name = kProductName) {
    winsim::ProcessSpec setup;
    setup.exe_name = exe_name;
    setup.image_path = image_path;
    if (ends_after_terminate_ms == kNever) {
      setup.ends_after_terminate_ms.reset();
    } else {
      setup.ends_after_terminate_ms = ends_after_terminate_ms;
    }
    return winsim::AddProcess(setup);
  }

  static bool Stop(std::wstring& reason) { return StopProductProcesses(reason); }
};

TEST_F(ProductProcessesTest, NothingToEndWhenNoCopyRuns) {
  winsim::ProcessSpec other;
  other.exe_name = L"notepad.exe";
  other.image_path = L"C:\\Windows\\notepad.exe";
  const DWORD notepad = winsim::AddProcess(other);

  std::wstring reason;
  EXPECT_TRUE(Stop(reason));
  EXPECT_EQ(reason, L"");
  EXPECT_TRUE(winsim::IsRunning(notepad));
  EXPECT_EQ(winsim::UseCount("OpenProcess"), 0u);
}

TEST_F(ProductProcessesTest, EmptyProcessListIsNoFailure) {
  std::wstring reason;
  EXPECT_TRUE(Stop(reason));
  EXPECT_EQ(reason, L"");
}

TEST_F(ProductProcessesTest, CopyFromAnotherFolderIsInspectedAndLeftRunning) {
  const DWORD elsewhere = AddCopy(L"D:\\Tools\\Corvanta Remote.exe");

  std::wstring reason;
  EXPECT_TRUE(Stop(reason));
  EXPECT_TRUE(winsim::IsRunning(elsewhere));
  EXPECT_EQ(winsim::UseCount("OpenProcess"), 1u);
  EXPECT_EQ(winsim::UseCount("TerminateProcess"), 0u);
}

TEST_F(ProductProcessesTest, TwoCopiesEndInSnapshotOrderWithExitCodeZero) {
  const DWORD first = AddCopy(kProductPath, /*ends_after_terminate_ms=*/700);
  const DWORD second = AddCopy(kProductPath, /*ends_after_terminate_ms=*/300);
  bool second_ran_while_first_ended = false;
  winsim::At(650, [&] {
    second_ran_while_first_ended = winsim::IsRunning(first) && winsim::IsRunning(second);
  });

  std::wstring reason;
  EXPECT_TRUE(Stop(reason));
  EXPECT_EQ(winsim::ExitCodeOf(first), 0u);
  EXPECT_EQ(winsim::ExitCodeOf(second), 0u);
  EXPECT_TRUE(second_ran_while_first_ended);
  EXPECT_EQ(winsim::NowMs(), 1000u);  // the second is ended only after the first has exited
}

// Which processes count as the product: file name and image path must both
// equal the product's, with only ASCII letters folded.
struct MatchCase {
  const char* name;
  std::wstring program_files;
  std::wstring exe_name;
  std::wstring image_path;
  bool ended;
};
void PrintTo(const MatchCase& c, std::ostream* out) { *out << c.name; }

class ProductMatchTest : public ProductProcessesTest,
                         public ::testing::WithParamInterface<MatchCase> {};

TEST_P(ProductMatchTest, EndsOnlyCopiesOfTheInstalledExecutable) {
  winsim::SetEnvironment(L"ProgramFiles", GetParam().program_files);
  const DWORD copy = AddCopy(GetParam().image_path, 0, GetParam().exe_name);

  std::wstring reason;
  EXPECT_TRUE(Stop(reason));
  EXPECT_EQ(reason, L"");
  EXPECT_EQ(winsim::IsRunning(copy), !GetParam().ended);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ProductMatchTest,
    ::testing::Values(
        MatchCase{"Installed", kProgramFiles, kProductName, kProductPath, true},
        MatchCase{"PathInCapitals", kProgramFiles, kProductName,
                  L"C:\\PROGRAM FILES\\CORVANTA REMOTE\\CORVANTA REMOTE.EXE", true},
        MatchCase{"NameInCapitals", kProgramFiles, L"CORVANTA REMOTE.EXE", kProductPath, true},
        MatchCase{"VariableInOtherCase", L"c:\\program files", kProductName, kProductPath, true},
        MatchCase{"OtherFolder", kProgramFiles, kProductName,
                  L"C:\\Program Files (x86)\\Corvanta Remote\\Corvanta Remote.exe", false},
        MatchCase{"OtherFileNameSamePath", kProgramFiles, L"Corvanta Remote2.exe", kProductPath,
                  false},
        MatchCase{"ShortNameIsNotExpanded", kProgramFiles, kProductName,
                  L"C:\\PROGRA~1\\CORVAN~1\\Corvanta Remote.exe", false},
        MatchCase{"TrailingBackslashDoublesTheSeparator", L"C:\\Program Files\\", kProductName,
                  kProductPath, false},
        // Only ASCII letters fold: U+00C9 and U+00E9 stay different.
        MatchCase{"NonAsciiLettersDoNotFold", L"C:\\Programm\u00e9", kProductName,
                  L"C:\\PROGRAMM\u00c9\\Corvanta Remote\\Corvanta Remote.exe", false},
        MatchCase{"NonAsciiLettersMatchWhenEqual", L"C:\\Programm\u00e9", kProductName,
                  L"C:\\PROGRAMM\u00e9\\Corvanta Remote\\Corvanta Remote.exe", true},
        // The ends of the alphabet fold; '@' and '[' just outside it do not.
        MatchCase{"FirstAndLastLettersFold", L"C:\\Az", kProductName,
                  L"c:\\aZ\\Corvanta Remote\\Corvanta Remote.exe", true},
        MatchCase{"NeighboursOfTheCapitalsDoNotFold", L"C:\\@[", kProductName,
                  L"C:\\`{\\Corvanta Remote\\Corvanta Remote.exe", false}),
    [](const auto& info) { return std::string(info.param.name); });

// Each failure ends the call with its reason; copies found before it stay
// running when the walk fails, and copies after it when termination fails.
struct FailureCase {
  const char* name;
  void (*arrange)();
  std::wstring reason;
  bool earlier_copy_ended;
};
void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }

class ProductProcessFailureTest : public ProductProcessesTest,
                                  public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ProductProcessFailureTest, ReportsTheReasonAndEndsNothingAfterIt) {
  const DWORD earlier = AddCopy(kProductPath);
  const DWORD later = AddCopy(kProductPath);
  GetParam().arrange();

  std::wstring reason;
  EXPECT_FALSE(Stop(reason));
  EXPECT_EQ(reason, GetParam().reason);
  EXPECT_EQ(winsim::IsRunning(earlier), !GetParam().earlier_copy_ended);
  EXPECT_TRUE(winsim::IsRunning(later));
}

INSTANTIATE_TEST_SUITE_P(
    Steps, ProductProcessFailureTest,
    ::testing::Values(
        FailureCase{
            "SnapshotFails",
            [] { winsim::FailCall("CreateToolhelp32Snapshot", 1, ERROR_NOT_ENOUGH_MEMORY); },
            L"Could not enumerate product processes", false},
        FailureCase{"FirstEntryUnreadable",
                    [] { winsim::FailCall("Process32FirstW", 1, ERROR_BAD_LENGTH); },
                    L"Could not read the product process list", false},
        FailureCase{"LaterEntryUnreadable",
                    [] { winsim::FailCall("Process32NextW", 1, ERROR_BAD_LENGTH); },
                    L"Could not read the product process list", false},
        FailureCase{"LaterCandidateAccessDenied",
                    [] { winsim::FailCall("OpenProcess", 2, ERROR_ACCESS_DENIED); },
                    L"Could not inspect a product process", false},
        FailureCase{"LaterCandidatePathUnreadable",
                    [] { winsim::FailCall("QueryFullProcessImageNameW", 2, ERROR_ACCESS_DENIED); },
                    L"Could not read a product process path", false},
        FailureCase{"LaterCopyRefusesTermination",
                    [] { winsim::FailCall("TerminateProcess", 2, ERROR_ACCESS_DENIED); },
                    L"Could not stop the running application", true},
        FailureCase{"FirstCopyRefusesTermination",
                    [] { winsim::FailCall("TerminateProcess", 1, ERROR_ACCESS_DENIED); },
                    L"Could not stop the running application", false},
        FailureCase{"WaitForFirstCopyFails",
                    [] { winsim::FailCall("WaitForSingleObject", 1, ERROR_INVALID_HANDLE); },
                    L"Application did not exit before installation", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProductProcessesTest, UnsetProgramFilesTakesNoSnapshot) {
  winsim::UnsetEnvironment(L"ProgramFiles");
  const DWORD copy = AddCopy(kProductPath);

  std::wstring reason;
  EXPECT_FALSE(Stop(reason));
  EXPECT_EQ(reason, L"Product installation path is unavailable");
  EXPECT_EQ(winsim::UseCount("CreateToolhelp32Snapshot"), 0u);
  EXPECT_TRUE(winsim::IsRunning(copy));
}

TEST_F(ProductProcessesTest, CopyStillRunningAfterTenSecondsStopsTheLaterOnes) {
  const DWORD stubborn = AddCopy(kProductPath, kNever);
  const DWORD later = AddCopy(kProductPath);

  std::wstring reason;
  EXPECT_FALSE(Stop(reason));
  EXPECT_EQ(reason, L"Application did not exit before installation");
  EXPECT_EQ(winsim::NowMs(), 10000u);
  EXPECT_TRUE(winsim::IsRunning(stubborn));
  EXPECT_TRUE(winsim::IsRunning(later));
  EXPECT_EQ(winsim::CallsTo("TerminateProcess").size(), 1u);
}

TEST_F(ProductProcessesTest, CopyEndingJustWithinTheWaitIsEnough) {
  const DWORD slow = AddCopy(kProductPath, /*ends_after_terminate_ms=*/9990);

  std::wstring reason;
  EXPECT_TRUE(Stop(reason));
  EXPECT_EQ(winsim::ExitCodeOf(slow), 0u);
  EXPECT_EQ(winsim::NowMs(), 9990u);
}

TEST_F(ProductProcessesTest, TerminateFailsButProcessAlreadyEnded) {
  const DWORD first = AddCopy(kProductPath, /*ends_after_terminate_ms=*/5000);
  winsim::ProcessSpec leaving;
  leaving.exe_name = kProductName;
  leaving.image_path = kProductPath;
  leaving.exits_at_ms = 3000;
  leaving.exit_code = 7;
  const DWORD second = winsim::AddProcess(leaving);

  std::wstring reason;
  EXPECT_TRUE(Stop(reason));
  EXPECT_EQ(reason, L"");
  EXPECT_EQ(winsim::ExitCodeOf(first), 0u);
  EXPECT_EQ(winsim::ExitCodeOf(second), 7u);  // ended by itself, not by us
}

TEST_F(ProductProcessesTest, CopyEndedBetweenSnapshotAndOpenIsSkipped) {
  AddCopy(kProductPath);
  const DWORD later = AddCopy(kProductPath);
  winsim::FailCall("OpenProcess", 1, ERROR_INVALID_PARAMETER);

  std::wstring reason;
  EXPECT_TRUE(Stop(reason));
  EXPECT_EQ(reason, L"");
  EXPECT_EQ(winsim::ExitCodeOf(later), 0u);
}

}  // namespace
