// Every program in a test prefix runs with the kernel's address randomization off
// (fixed_address_layout in scripts/lib/common.sh): with it on, now and then a Wine program's
// heap starts where Wine maps Windows' shared user data, and the program ends before it starts.
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/sample_product.h"

namespace {

// A program that a Wine program starts, as msiexec is started by the updater, reads its own
// Linux personality through drive Z:.
TEST(WineAddressLayout, ProgramsStartedUnderWineRunWithoutAddressRandomization) {
  const std::wstring output = MakeScratchFolder(L"layout") + L"\\personality.txt";
  wchar_t system_directory[MAX_PATH] = {};
  ASSERT_NE(::GetSystemDirectoryW(system_directory, MAX_PATH), 0u);
  ASSERT_EQ(RunToExit(std::wstring(system_directory) + L"\\cmd.exe",
                      L" /c type Z:\\proc\\self\\personality > \"" + output + L"\""),
            0u);

  const std::string personality = ReadWholeFile(output);
  const unsigned long kAddrNoRandomize = 0x0040000;
  EXPECT_NE(std::strtoul(personality.c_str(), nullptr, 16) & kAddrNoRandomize, 0u)
      << "personality: " << personality;
}

}  // namespace
