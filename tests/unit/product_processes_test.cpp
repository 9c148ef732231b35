// Ending the product's running copies, against the simulated process table.
#include "shared/product_processes.h"

#include <ostream>
#include <string>

#include "support/install_world.h"

namespace {

constexpr wchar_t kProgramFiles[] = L"C:\\Program Files";
constexpr wchar_t kProductName[] = L"Corvanta Remote.exe";

class ProductProcessesTest : public WorldTest {
 protected:
  void SetUp() override {
    WorldTest::SetUp();
    winsim::SetEnvironment(L"ProgramFiles", kProgramFiles);
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
  const DWORD elsewhere = AddProductCopy(0, L"D:\\Tools\\Corvanta Remote.exe");

  std::wstring reason;
  EXPECT_TRUE(Stop(reason));
  EXPECT_TRUE(winsim::IsRunning(elsewhere));
  EXPECT_EQ(winsim::UseCount("OpenProcess"), 1u);
  EXPECT_EQ(winsim::UseCount("TerminateProcess"), 0u);
}

TEST_F(ProductProcessesTest, TwoCopiesEndInSnapshotOrderWithExitCodeZero) {
  const DWORD first = AddProductCopy(/*ends_after_terminate_ms=*/700);
  const DWORD second = AddProductCopy(/*ends_after_terminate_ms=*/300);
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
  const DWORD copy = AddProductCopy(0, GetParam().image_path, GetParam().exe_name);

  std::wstring reason;
  EXPECT_TRUE(Stop(reason));
  EXPECT_EQ(reason, L"");
  EXPECT_EQ(winsim::IsRunning(copy), !GetParam().ended);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ProductMatchTest,
    ::testing::Values(
        MatchCase{"Installed", kProgramFiles, kProductName, kInstalledProduct, true},
        MatchCase{"PathInCapitals", kProgramFiles, kProductName,
                  L"C:\\PROGRAM FILES\\CORVANTA REMOTE\\CORVANTA REMOTE.EXE", true},
        MatchCase{"NameInCapitals", kProgramFiles, L"CORVANTA REMOTE.EXE", kInstalledProduct, true},
        MatchCase{"VariableInOtherCase", L"c:\\program files", kProductName, kInstalledProduct, true},
        MatchCase{"OtherFolder", kProgramFiles, kProductName,
                  L"C:\\Program Files (x86)\\Corvanta Remote\\Corvanta Remote.exe", false},
        MatchCase{"OtherFileNameSamePath", kProgramFiles, L"Corvanta Remote2.exe", kInstalledProduct,
                  false},
        MatchCase{"ShortNameIsNotExpanded", kProgramFiles, kProductName,
                  L"C:\\PROGRA~1\\CORVAN~1\\Corvanta Remote.exe", false},
        MatchCase{"TrailingBackslashDoublesTheSeparator", L"C:\\Program Files\\", kProductName,
                  kInstalledProduct, false},
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
  const DWORD earlier = AddProductCopy();
  const DWORD later = AddProductCopy();
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
  const DWORD copy = AddProductCopy();

  std::wstring reason;
  EXPECT_FALSE(Stop(reason));
  EXPECT_EQ(reason, L"Product installation path is unavailable");
  EXPECT_EQ(winsim::UseCount("CreateToolhelp32Snapshot"), 0u);
  EXPECT_TRUE(winsim::IsRunning(copy));
}

TEST_F(ProductProcessesTest, CopyStillRunningAfterTenSecondsStopsTheLaterOnes) {
  const DWORD stubborn = AddProductCopy(/*ends_after_terminate_ms=*/std::nullopt);
  const DWORD later = AddProductCopy();

  std::wstring reason;
  EXPECT_FALSE(Stop(reason));
  EXPECT_EQ(reason, L"Application did not exit before installation");
  EXPECT_EQ(winsim::NowMs(), 10000u);
  EXPECT_TRUE(winsim::IsRunning(stubborn));
  EXPECT_TRUE(winsim::IsRunning(later));
  EXPECT_EQ(winsim::CallsTo("TerminateProcess").size(), 1u);
}

TEST_F(ProductProcessesTest, CopyEndingJustWithinTheWaitIsEnough) {
  const DWORD slow = AddProductCopy(/*ends_after_terminate_ms=*/9990);

  std::wstring reason;
  EXPECT_TRUE(Stop(reason));
  EXPECT_EQ(winsim::ExitCodeOf(slow), 0u);
  EXPECT_EQ(winsim::NowMs(), 9990u);
}

TEST_F(ProductProcessesTest, TerminateFailsButProcessAlreadyEnded) {
  const DWORD first = AddProductCopy(/*ends_after_terminate_ms=*/5000);
  winsim::ProcessSpec leaving;
  leaving.exe_name = kProductName;
  leaving.image_path = kInstalledProduct;
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
  AddProductCopy();
  const DWORD later = AddProductCopy();
  winsim::FailCall("OpenProcess", 1, ERROR_INVALID_PARAMETER);

  std::wstring reason;
  EXPECT_TRUE(Stop(reason));
  EXPECT_EQ(reason, L"");
  EXPECT_EQ(winsim::ExitCodeOf(later), 0u);
}

}  // namespace
