// What the UI program tells its user of an update: the words for each outcome the updater
// writes in its record, and for each answer of the service that starts no update.
#include <gtest/gtest.h>

#include <string>

#include "shared/updater_contract.h"
#include "ui/update_outcome_text.h"

namespace {

using updater_contract::kCompletedOutcome;
using updater_contract::kFailedKeyword;
using updater_contract::kRestartFailedPrefix;

constexpr wchar_t kLog[] = L"C:\\ProgramData\\Corvanta\\Updates\\Staging\\t\\v2.msi.log";
const std::wstring kWithLog = std::wstring(updater_contract::kLogPathSeparator) + kLog;
const std::wstring kLogLines = std::wstring(L"\r\nThe installer's log:\r\n") + kLog;
constexpr wchar_t kRestart[] = L"Restart Windows to finish the update";

TEST(UpdateOutcomeText, EachOutcomeOfTheRecordInTheUsersWords) {
  const struct {
    std::wstring outcome;
    std::wstring shown;
  } cases[] = {
      {kCompletedOutcome, L"The last update completed: version 2.0.0 is running"},
      {kFailedKeyword + (L"Windows restart required" + kWithLog),
       std::wstring(L"The last update is installed but not finished. ") + kRestart},
      {kFailedKeyword + (L"MSI exit 1618" + kWithLog),
       L"The last update was not installed: another program was being installed. Try again "
       L"later"},
      {kFailedKeyword + (L"MSI exit 1603" + kWithLog),
       L"The last update failed (MSI exit 1603)." + kLogLines},
      {kFailedKeyword + (L"MSI exit 16180" + kWithLog),
       L"The last update failed (MSI exit 16180)." + kLogLines},
      {kFailedKeyword + (L"Windows Installer did not finish" + kWithLog),
       L"The last update failed (Windows Installer did not finish)." + kLogLines},
      {kFailedKeyword + std::wstring(L"Application did not exit before installation"),
       L"The last update failed (Application did not exit before installation). Try again "
       L"later"},
      {kFailedKeyword, L"The last update failed (). Try again later"},
      {kRestartFailedPrefix + std::wstring(kCompletedOutcome),
       std::wstring(L"The update service did not start again after the last update. ") + kRestart},
      {kRestartFailedPrefix + (kFailedKeyword + (L"Windows restart required" + kWithLog)),
       L"The update service did not start again after the last update. " + (kRestart + kLogLines)},
      // No outcome at all: nothing to tell.
      {L"", L""},
      {L"completed ", L""},
      {L"Failed:MSI exit 1603", L""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(road::UpdateOutcomeText(c.outcome, L"2.0.0"), c.shown)
        << testing::PrintToString(c.outcome);
  }
}

TEST(UpdateOutcomeText, AnswersThatStartNoUpdateSayWhatToDo) {
  using Kind = road::Answer::Kind;
  const struct {
    Kind kind;
    std::string text;
    std::wstring shown;
  } cases[] = {
      {Kind::kRefused, "another program is being installed; try again when it has finished",
       L"The update was refused: another program is being installed; try again when it has "
       L"finished"},
      {Kind::kRefused, "package hash mismatch",
       L"The update was refused: package hash mismatch. Try again later, or ask your "
       L"administrator"},
      {Kind::kNone, "no answer: the update service did not answer in time",
       L"The update service did not answer (the update service did not answer in time). Try "
       L"again later"},
      {Kind::kNone, "stray", L"The update service did not answer (stray). Try again later"},
      {Kind::kStaged, "", road::kPreparingUpdateText},
      {Kind::kStarted, "", road::kUpdateStartedText},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(road::AnswerText({c.kind, L"", c.text}), c.shown) << c.text;
  }
}

}  // namespace
