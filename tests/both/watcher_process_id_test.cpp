// The old UI's process id text, converted as Windows' wcstoul converts it
// where unsigned long has 32 bits. Under Wine each case is also compared with
// the run-time's own wcstoul.
#include "relaunch/process_id_text.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

namespace {

struct IdCase {
  const wchar_t* text;
  DWORD id;
  // Wine's msvcrt agrees with Windows here. It does not for negative values
  // past the 32-bit range, which it turns into 1 where Windows reports
  // overflow with 4294967295, nor for other scripts' digits and Unicode
  // spaces, which the conversion leaves alone.
  bool crt_agrees = true;
};

class ProcessIdTextTest : public ::testing::TestWithParam<IdCase> {};

TEST_P(ProcessIdTextTest, ConvertsAsWcstoulOnA32BitUnsignedLong) {
  const IdCase& row = GetParam();
  EXPECT_EQ(ProcessIdFromText(row.text), row.id) << testing::PrintToString(std::wstring(row.text));
#if defined(_WIN32)
  if (row.crt_agrees) EXPECT_EQ(std::wcstoul(row.text, nullptr, 10), row.id);
#endif
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ProcessIdTextTest,
    ::testing::Values(IdCase{L"4242", 4242}, IdCase{L"0", 0}, IdCase{L"007", 7}, IdCase{L"", 0},
                      IdCase{L"abc", 0}, IdCase{L"0x1A", 0}, IdCase{L" \t\n\v\f\r4242", 4242},
                      IdCase{L"4242 ", 4242}, IdCase{L"42x7", 42}, IdCase{L"4 2", 4},
                      IdCase{L"+42", 42}, IdCase{L"+-5", 0}, IdCase{L"- 5", 0}, IdCase{L"+", 0},
                      IdCase{L"\u001c42", 0}, IdCase{L"-0", 0}, IdCase{L"-1", 4294967295u},
                      IdCase{L"-5", 4294967291u}, IdCase{L"-4294967295", 1},
                      IdCase{L"4294967295", 4294967295u}, IdCase{L"4294967296", 4294967295u},
                      IdCase{L"18446744073709551617", 4294967295u},
                      IdCase{L"000000000000000000004242", 4242},
                      IdCase{L"-4294967296", 4294967295u, false},
                      IdCase{L"-99999999999999999999", 4294967295u, false},
                      IdCase{L"\u300042", 0, false}, IdCase{L"\xff14\xff12", 0, false}));

}  // namespace
