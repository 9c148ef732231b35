// The update status record where only the simulation can provoke the case: a
// record growing between the two reads of one poll. What failing registry
// calls do to the record is the failure sweep's and the fuzz target's.
#include "shared/update_status.h"

#include "support/world_test.h"

namespace {

class UpdateStatusHostTest : public WorldTest {};

TEST_F(UpdateStatusHostTest, LongRecordThatGrowsAgainBetweenReadsIsNoOutcomeYet) {
  const std::wstring record = StatusRecordText(std::wstring(3000, L'k'), kCompletedOutcome);
  ArrangeMachine({.record = {{0, record}}, .faults = {{"RegQueryValueExW", 2, ERROR_MORE_DATA}}});

  EXPECT_EQ(ReadUpdateStatus(), L"");
  // The next poll reads it whole.
  EXPECT_EQ(ReadUpdateStatus(), record);
}

}  // namespace
