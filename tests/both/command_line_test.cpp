// Command-line splitting by the shell's rules, as the dispatcher relies on it;
// the same cases run against the simulation and Wine's shell32.
#include <windows.h>

#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shared/unique_handles.h"

namespace {

std::vector<std::wstring> Split(const wchar_t* command_line) {
  int count = 0;
  const UniqueLocal<LPWSTR> elements(::CommandLineToArgvW(command_line, &count));
  std::vector<std::wstring> result;
  for (int i = 0; elements && i < count; ++i) result.emplace_back(elements.get()[i]);
  return result;
}

struct SplitCase {
  const wchar_t* command_line;
  std::vector<std::wstring> elements;
};

class CommandLineSplitTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(CommandLineSplitTest, SplitsLikeTheShell) {
  EXPECT_EQ(Split(GetParam().command_line), GetParam().elements);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, CommandLineSplitTest,
    ::testing::Values(SplitCase{L"prog.exe", {L"prog.exe"}},
                      SplitCase{L"\"C:\\Program Files\\U\\updater.exe\" a b",
                                {L"C:\\Program Files\\U\\updater.exe", L"a", L"b"}},
                      SplitCase{L"u.exe --mode \"C:\\My Files\\update.msi\" tok",
                                {L"u.exe", L"--mode", L"C:\\My Files\\update.msi", L"tok"}},
                      SplitCase{L"u.exe  \t a   b  ", {L"u.exe", L"a", L"b"}},
                      SplitCase{L"u.exe \"\" \"\"", {L"u.exe", L"", L""}},
                      SplitCase{L"u.exe a\\\\b \\\"c", {L"u.exe", L"a\\\\b", L"\"c"}},
                      SplitCase{L"u.exe \"a\\\\\" b", {L"u.exe", L"a\\", L"b"}},
                      SplitCase{L"u.exe \"a\\\"b\"", {L"u.exe", L"a\"b"}},
                      SplitCase{L"u.exe \"--mode \" 1 t", {L"u.exe", L"--mode ", L"1", L"t"}},
                      SplitCase{L"u.exe a\"b c\"d", {L"u.exe", L"ab cd"}},
                      SplitCase{L"u.exe \"a\"\"b\"", {L"u.exe", L"a\"b"}},
                      SplitCase{L"\"C:\\dir\\u.exe\"x y", {L"C:\\dir\\u.exe", L"x", L"y"}}));

}  // namespace
