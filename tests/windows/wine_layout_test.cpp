// Every program in a test prefix runs with the kernel's address randomization off
// (fixed_address_layout in scripts/lib/common.sh): with it on, now and then a Wine program's
// heap starts where Wine maps Windows' shared user data, and the program ends before it starts.
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/wine_helpers.h"

namespace {

// A program that a Wine program starts, as msiexec is started by the updater, reads its own
// Linux personality through drive Z:.
TEST(WineAddressLayout, ProgramsStartedUnderWineRunWithoutAddressRandomization) {
  const std::optional<std::string> personality = CommandOutput(L"type Z:\\proc\\self\\personality");

  ASSERT_TRUE(personality.has_value());
  const unsigned long kAddrNoRandomize = 0x0040000;
  EXPECT_NE(std::strtoul(personality->c_str(), nullptr, 16) & kAddrNoRandomize, 0u)
      << "personality: " << *personality;
}

}  // namespace
