// Ending the product's running copies under Wine, whose process list spells an image path in
// the letter case of its first start: copies of the sample product program started from the
// installed location are ended in any letter case, a copy started from another folder lives on
// (as in every whole update, tests/e2e). What the service finds before an update counts the
// same copies, each with its session; Wine runs every process in one session, so copies in
// other sessions are judged on data only (update_preflight_test.cpp).
#include "shared/product_processes.h"

#include <string>
#include <vector>

#include "service/update_facts.h"
#include "service/update_preflight.h"

#include "support/sample_product.h"
#include "support/world_test.h"

namespace {

class ProductCopiesOnWine : public WorldTest {
 protected:
  void SetUp() override {
    WorldTest::SetUp();
    ASSERT_TRUE(FileExistsAt(SampleProgram())) << "CORVANTA_SAMPLE_DIR must name the sample build";
    installed_ = InstallSampleProgram();
    elsewhere_ = CopyInto(SampleProgram(), MakeScratchFolder(L"elsewhere"));
    ASSERT_FALSE(installed_.empty() || elsewhere_.empty());
  }

  std::wstring installed_;
  std::wstring elsewhere_;
};

TEST_F(ProductCopiesOnWine, NothingRunningIsNoFailure) {
  std::wstring reason;
  EXPECT_TRUE(StopProductProcesses(reason));
  EXPECT_EQ(reason, L"");
}

TEST_F(ProductCopiesOnWine, InstalledCopiesAreFoundAndEndInAnyLetterCaseAndOthersLive) {
  // Wine names every later copy of a running image as the first one was
  // started, so the copy in capitals goes first.
  const UniqueHandle shouting = StartProgram(Upper(installed_));
  const UniqueHandle installed = StartProgram(installed_);
  const UniqueHandle other = StartProgram(elsewhere_);
  ASSERT_TRUE(installed && shouting && other);
  ASSERT_TRUE(IsStillRunning(installed.get()) && IsStillRunning(shouting.get()) &&
              IsStillRunning(other.get()));
  ULONG session = 0;
  ASSERT_TRUE(::ProcessIdToSessionId(::GetCurrentProcessId(), &session));
  const road::UpdateFacts facts = road::GatherUpdateFacts(session, elsewhere_);
  EXPECT_TRUE(facts.ui_copies_known);
  EXPECT_EQ(facts.ui_copy_sessions, (std::vector<ULONG>{session, session}));
  EXPECT_TRUE(road::DecideWhetherUpdateMayRun(facts).allowed);

  std::wstring reason;
  EXPECT_TRUE(StopProductProcesses(reason));
  EXPECT_EQ(reason, L"");

  for (HANDLE ended : {installed.get(), shouting.get()}) EXPECT_EQ(ExitCodeWithin(ended, 0), 0u);
  EXPECT_TRUE(IsStillRunning(other.get()));
  ::TerminateProcess(other.get(), 1);
  ::WaitForSingleObject(other.get(), 5000);
}

}  // namespace
