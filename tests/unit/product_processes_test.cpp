// Ending the product's running copies, against the simulated process table.
#include "shared/product_processes.h"

#include <string>

#include "support/world_test.h"

namespace {

using updater_contract::kProductExecutableName;

const std::wstring kDidNotExit = L"Application did not exit before installation";

class ProductProcessesTest : public WorldTest {};

// A stop of the product's copies: its reason (empty: it succeeded), which
// copies still run afterwards, and when it returns. Copies that end, end
// with 0. Copies found before a failed walk stay running, and copies after a
// failed termination.
struct StopCase {
  const char* name;
  Machine machine;
  std::wstring reason;
  std::vector<bool> running;
  uint64_t elapsed_ms = 0;
};

class StopProductProcessesTest : public ProductProcessesTest,
                                 public ::testing::WithParamInterface<StopCase> {};

TEST_P(StopProductProcessesTest, EndsTheCopiesOrSaysWhyNot) {
  const std::vector<DWORD> copies = ArrangeMachine(GetParam().machine);

  std::wstring reason;
  EXPECT_EQ(StopProductProcesses(reason), GetParam().reason.empty());
  EXPECT_EQ(reason, GetParam().reason);
  ASSERT_EQ(copies.size(), GetParam().running.size());
  for (size_t i = 0; i < copies.size(); ++i) {
    EXPECT_EQ(winsim::IsRunning(copies[i]), GetParam().running[i]) << "copy " << i;
    if (!GetParam().running[i]) EXPECT_EQ(winsim::ExitCodeOf(copies[i]), 0u) << "copy " << i;
  }
  EXPECT_EQ(winsim::NowMs(), GetParam().elapsed_ms);
}

Machine TwoCopies(Fault fault) {
  return {.service = std::nullopt, .product_copies = {0, 0}, .faults = {fault}};
}
const std::wstring kUnreadableList = L"Could not read the product process list";
const std::wstring kNotStopped = L"Could not stop the running application";
// clang-format off
const StopCase kStops[] = {
    {"NoCopyRuns", {.other_program = true}, L"", {}},
    {"EmptyProcessList", {.service = std::nullopt}, L"", {}},
    // The second is ended only after the first has exited.
    {"TwoCopiesEndOneAfterTheOther", {.product_copies = {700, 300}}, L"", {false, false}, 1000},
    {"CopyEndingJustWithinTheWait", {.product_copies = {9990}}, L"", {false}, 9990},
    {"CopyStillRunningAfterTenSecondsStopsTheLaterOnes", {.product_copies = {kNever, 0}},
     kDidNotExit, {true, true}, 10000},
    {"CopyEndedBetweenSnapshotAndOpenIsSkipped",
     TwoCopies({"OpenProcess", 1, ERROR_INVALID_PARAMETER}), L"", {true, false}},
    {"ProgramFilesUnset", {.program_files = std::nullopt, .product_copies = {0}},
     L"Product installation path is unavailable", {true}},
    {"SnapshotFails", TwoCopies({"CreateToolhelp32Snapshot", 1, ERROR_NOT_ENOUGH_MEMORY}),
     L"Could not enumerate product processes", {true, true}},
    {"FirstEntryUnreadable", TwoCopies({"Process32FirstW", 1, ERROR_BAD_LENGTH}), kUnreadableList,
     {true, true}},
    {"LaterEntryUnreadable", TwoCopies({"Process32NextW", 1, ERROR_BAD_LENGTH}), kUnreadableList,
     {true, true}},
    {"LaterCandidateAccessDenied", TwoCopies({"OpenProcess", 2, kDenied}),
     L"Could not inspect a product process", {true, true}},
    {"LaterCandidatePathUnreadable", TwoCopies({"QueryFullProcessImageNameW", 2, kDenied}),
     L"Could not read a product process path", {true, true}},
    {"LaterCopyRefusesTermination", TwoCopies({"TerminateProcess", 2, kDenied}), kNotStopped,
     {false, true}},
    {"FirstCopyRefusesTermination", TwoCopies({"TerminateProcess", 1, kDenied}), kNotStopped,
     {true, true}},
    {"WaitForFirstCopyFails", TwoCopies({"WaitForSingleObject", 1, ERROR_INVALID_HANDLE}),
     kDidNotExit, {false, true}},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Situations, StopProductProcessesTest, ::testing::ValuesIn(kStops),
                         kRowName);

// Which processes count as the product: file name and image path must both
// equal the product's, with only ASCII letters folded.
struct MatchCase {
  const char* name;
  std::wstring program_files, image_path;
  bool ended;
  std::wstring exe_name = kProductExecutableName;
};

class ProductMatchTest : public ProductProcessesTest,
                         public ::testing::WithParamInterface<MatchCase> {};

TEST_P(ProductMatchTest, EndsOnlyCopiesOfTheInstalledExecutable) {
  ArrangeMachine({.program_files = GetParam().program_files});
  const DWORD copy = AddProductCopy(0, GetParam().image_path, GetParam().exe_name);

  std::wstring reason;
  EXPECT_TRUE(StopProductProcesses(reason));
  EXPECT_EQ(reason, L"");
  EXPECT_EQ(winsim::IsRunning(copy), !GetParam().ended);
}

// clang-format off
const MatchCase kMatches[] = {
    {"Installed", kProgramFiles, kInstalledProduct, true},
    {"PathInCapitals", kProgramFiles, Upper(kInstalledProduct), true},
    {"NameInCapitals", kProgramFiles, kInstalledProduct, true, Upper(kProductExecutableName)},
    {"VariableInOtherCase", L"c:\\program files", kInstalledProduct, true},
    {"OtherFolder", kProgramFiles, ProductPathBelow(L"C:\\Program Files (x86)"), false},
    {"AnotherFolderEntirely", kProgramFiles, L"D:\\Tools\\" + std::wstring(kProductExecutableName),
     false},
    {"OtherFileNameSamePath", kProgramFiles, kInstalledProduct, false,
     L"2" + std::wstring(kProductExecutableName)},
    {"ShortNameIsNotExpanded", kProgramFiles,
     L"C:\\PROGRA~1\\CORVAN~1\\" + std::wstring(kProductExecutableName), false},
    {"TrailingBackslashDoublesTheSeparator", kProgramFiles + L"\\", kInstalledProduct, false},
    // Only ASCII letters fold: U+00C9 and U+00E9 stay different.
    {"NonAsciiLettersDoNotFold", L"C:\\Programm\u00e9", ProductPathBelow(L"C:\\PROGRAMM\u00c9"),
     false},
    {"NonAsciiLettersMatchWhenEqual", L"C:\\Programm\u00e9",
     ProductPathBelow(L"C:\\PROGRAMM\u00e9"), true},
    // The ends of the alphabet fold; '@' and '[' just outside it do not.
    {"FirstAndLastLettersFold", L"C:\\Az", ProductPathBelow(L"c:\\aZ"), true},
    {"NeighboursOfTheCapitalsDoNotFold", L"C:\\@[", ProductPathBelow(L"C:\\`{"), false},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Names, ProductMatchTest, ::testing::ValuesIn(kMatches), kRowName);

TEST_F(ProductProcessesTest, TerminateFailsButProcessAlreadyEnded) {
  ArrangeMachine({});
  const DWORD first = AddProductCopy(/*ends_after_terminate_ms=*/5000);
  winsim::ProcessSpec leaving{0, kProductExecutableName, kInstalledProduct, 3000, 7};
  const DWORD second = winsim::AddProcess(leaving);

  std::wstring reason;
  EXPECT_TRUE(StopProductProcesses(reason));
  EXPECT_EQ(reason, L"");
  EXPECT_EQ(winsim::ExitCodeOf(first), 0u);
  EXPECT_EQ(winsim::ExitCodeOf(second), 7u);  // ended by itself, not by us
}

}  // namespace
