// What the UI program tells its user of an update: the words for each outcome the updater
// writes in its record, and for each answer of the service that starts no update.
#include <gtest/gtest.h>

#include <string>

#include "contract/pipe_protocol.h"
#include "ui/last_update_text.h"
#include "ui/update_outcome_text.h"

namespace {

// The outcomes as the updater writes them, held literally: the UI must read what it writes.
const std::wstring kWithLog = L"; log: C:\\ProgramData\\Corvanta\\Updates\\Staging\\t\\v2.msi.log";
const std::wstring kLogLines =
    L"\r\nThe installer's log:\r\nC:\\ProgramData\\Corvanta\\Updates\\Staging\\t\\v2.msi.log";
constexpr wchar_t kRestartFailed[] =
    L"failed:Remote service could not restart; installation result: ";
constexpr wchar_t kRestart[] = L"Restart Windows to finish the update";

TEST(UpdateOutcomeText, EachOutcomeOfTheRecordInTheUsersWords) {
  const struct {
    std::wstring outcome;
    std::wstring shown;
  } cases[] = {
      {L"completed", L"The last update completed: version 2.0.0 is running"},
      {L"failed:Windows restart required" + kWithLog,
       std::wstring(L"The last update is installed but not finished. ") + kRestart},
      {L"failed:MSI exit 1618" + kWithLog,
       L"The last update was not installed: another program was being installed. Try again "
       L"later"},
      {L"failed:MSI exit 1603" + kWithLog, L"The last update failed (MSI exit 1603)." + kLogLines},
      {L"failed:MSI exit 16180" + kWithLog,
       L"The last update failed (MSI exit 16180)." + kLogLines},
      {L"failed:Windows Installer did not finish" + kWithLog,
       L"The last update failed (Windows Installer did not finish)." + kLogLines},
      {std::wstring(L"failed:Application did not exit before installation"),
       L"The last update failed (Application did not exit before installation). Try again "
       L"later"},
      {L"failed:", L"The last update failed (). Try again later"},
      {kRestartFailed + std::wstring(L"completed"),
       std::wstring(L"The update service did not start again after the last update. ") + kRestart},
      {kRestartFailed + (L"failed:Windows restart required" + kWithLog),
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

// An update that ended otherwise than by its outcome, at the program's start and while the
// program that started it waits: the started token, the record's outcome for it, the token
// after which the guardian started the service again, and whether the service runs.
TEST(UpdateOutcomeText, UnfinishedUpdatesSayWhatToDo) {
  const std::wstring unfinished =
      L"The last update did not finish. Apply it again, or reinstall Corvanta Remote if the "
      L"problem persists";
  const std::wstring brought_back = L"The update service had to be started again after the update";
  const std::wstring failed = std::wstring(L"failed:MSI exit 1603");
  const std::wstring failed_text = L"The last update failed (MSI exit 1603). Try again later";
  const struct {
    road::LastUpdateFacts facts;
    std::wstring shown;
  } at_start[] = {
      {{L"", L"", L"", true}, L""},
      {{L"T", L"", L"", true}, unfinished},
      // Installer mode may still be at work: it publishes once the service runs again.
      {{L"T", L"", L"", false}, L""},
      {{L"T", L"completed", L"", true}, L"The last update completed: version 2.0.0 is running"},
      {{L"T", failed, L"S", true}, failed_text},
      {{L"T", L"", L"T", true}, unfinished + L"\r\n" + brought_back},
      {{L"T", L"", L"T", false}, brought_back},
      {{L"", L"", L"T", true}, L""},
  };
  for (const auto& c : at_start) {
    EXPECT_EQ(road::LastUpdateText(c.facts, L"2.0.0"), c.shown)
        << testing::PrintToString(c.facts.started_token + L"|" + c.facts.outcome + L"|" +
                                  c.facts.restored_token)
        << " running " << c.facts.service_running;
  }
  const struct {
    std::wstring outcome;
    bool watcher_ended;
    std::wstring shown;
  } while_waiting[] = {
      {L"", false, L""},
      {L"", true, unfinished},
      {L"completed", false, L""},
      {std::wstring(L"failed:Service did not exit before installation"), true,
       L"The last update failed (Service did not exit before installation). Try again later"},
      {failed, false, failed_text},
  };
  for (const auto& c : while_waiting) {
    EXPECT_EQ(road::StartedUpdateText(c.outcome, c.watcher_ended), c.shown)
        << testing::PrintToString(c.outcome) << " watcher ended " << c.watcher_ended;
  }
}

}  // namespace
