// What the UI program tells its user of an update: the words for each outcome the updater
// writes in its record, for each answer of the service that starts no update, and for what the
// service knows of the next update, with the buttons the window then offers.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>

#include "contract/pipe_protocol.h"
#include "ui/last_update_text.h"
#include "ui/update_outcome_text.h"
#include "ui/update_progress_text.h"

namespace {

// A view's fields, to compare and print at once.
auto ViewFields(const road::UpdateStatusView& view) {
  return std::tie(view.text, view.downloading, view.percent, view.may_check, view.may_apply,
                  view.poll_ms);
}

// The outcomes as the updater writes them, held literally: the UI must read what it writes.
const std::wstring kWithLog = L"; log: C:\\ProgramData\\Corvanta\\Updates\\Staging\\t\\v2.msi.log";
const std::wstring kLogLines =
    L"\r\nThe installer's log:\r\nC:\\ProgramData\\Corvanta\\Updates\\Staging\\t\\v2.msi.log";
constexpr wchar_t kRestartFailed[] =
    L"failed:Remote service could not restart; installation result: ";
constexpr wchar_t kRestart[] = L"Restart Windows to finish the update";

// Each outcome of the record; each answer of the service that starts no update; and an update
// that ended otherwise than by its outcome, at the program's start and while the program that
// started it waits: the started token, the record's outcome for it, the token after which the
// guardian started the service again, and whether the service runs.
TEST(UpdateOutcomeText, OutcomesAnswersAndUnfinishedUpdatesSayWhatToDo) {
  using Kind = road::Answer::Kind;
  const std::wstring unfinished =
      L"The last update did not finish. Apply it again, or reinstall Corvanta Remote if the "
      L"problem persists";
  const std::wstring brought_back = L"The update service had to be started again after the update";
  const std::wstring failed = L"failed:MSI exit 1603";
  const std::wstring failed_text = L"The last update failed (MSI exit 1603). Try again later";
  const auto at_start = [](const road::LastUpdateFacts& facts) {
    return road::LastUpdateText(facts, L"2.0.0");
  };
  const auto outcome = [](const std::wstring& text) {
    return road::UpdateOutcomeText(text, L"2.0.0");
  };
  const auto& while_waiting = road::StartedUpdateText;
  const auto answer = [](Kind kind, const std::string& text) {
    return road::AnswerText({kind, L"", text});
  };
  // clang-format off
  const struct {
    std::wstring told, shown;
  } cases[] = {
      {outcome(L"completed"), L"The last update completed: version 2.0.0 is running"},
      {outcome(L"failed:Windows restart required" + kWithLog),
       std::wstring(L"The last update is installed but not finished. ") + kRestart},
      {outcome(L"failed:MSI exit 1618" + kWithLog),
       L"The last update was not installed: another program was being installed. Try again later"},
      {outcome(L"failed:MSI exit 1603" + kWithLog),
       L"The last update failed (MSI exit 1603)." + kLogLines},
      {outcome(L"failed:MSI exit 16180" + kWithLog),
       L"The last update failed (MSI exit 16180)." + kLogLines},
      {outcome(L"failed:Windows Installer did not finish" + kWithLog),
       L"The last update failed (Windows Installer did not finish)." + kLogLines},
      {outcome(L"failed:Application did not exit before installation"),
       L"The last update failed (Application did not exit before installation). Try again later"},
      {outcome(L"failed:"), L"The last update failed (). Try again later"},
      {outcome(kRestartFailed + std::wstring(L"completed")),
       std::wstring(L"The update service did not start again after the last update. ") + kRestart},
      {outcome(kRestartFailed + (L"failed:Windows restart required" + kWithLog)),
       L"The update service did not start again after the last update. " + (kRestart + kLogLines)},
      // No outcome at all: nothing to tell.
      {outcome(L""), L""},
      {outcome(L"completed "), L""},
      {outcome(L"Failed:MSI exit 1603"), L""},
      {answer(Kind::kRefused, "another program is being installed; try again when it has finished"),
       L"The update was refused: another program is being installed; try again when it has "
       L"finished"},
      {answer(Kind::kRefused, "package hash mismatch"),
       L"The update was refused: package hash mismatch. Try again later, or ask your "
       L"administrator"},
      {answer(Kind::kNone, "no answer: the update service did not answer in time"),
       L"The update service did not answer (the update service did not answer in time). Try "
       L"again later"},
      {answer(Kind::kNone, "stray"), L"The update service did not answer (stray). Try again later"},
      {answer(Kind::kStaged, ""), L"Preparing the update: the service checks the package"},
      {answer(Kind::kStarted, ""),
       L"The update has started: this program closes now and opens again once it is installed"},
      {at_start({L"", L"", L"", true}), L""},
      {at_start({L"T", L"", L"", true}), unfinished},
      // Installer mode may still be at work: it publishes once the service runs again.
      {at_start({L"T", L"", L"", false}), L""},
      {at_start({L"T", L"completed", L"", true}),
       L"The last update completed: version 2.0.0 is running"},
      {at_start({L"T", failed, L"S", true}), failed_text},
      {at_start({L"T", L"", L"T", true}), unfinished + L"\r\n" + brought_back},
      {at_start({L"T", L"", L"T", false}), brought_back},
      {at_start({L"", L"", L"T", true}), L""},
      {while_waiting(L"", /*watcher_ended=*/false), L""},
      {while_waiting(L"", /*watcher_ended=*/true), unfinished},
      {while_waiting(L"completed", /*watcher_ended=*/false), L""},
      {while_waiting(L"failed:Service did not exit before installation", /*watcher_ended=*/true),
       L"The last update failed (Service did not exit before installation). Try again later"},
      {while_waiting(failed, /*watcher_ended=*/false), failed_text},
  };
  // clang-format on
  for (const auto& c : cases) EXPECT_EQ(c.told, c.shown) << "row " << &c - cases;
}

// The administrator's policy of `mode`, `prefix` and `window`.
road::UpdatePolicy Policy(road::UpdateMode mode, const char* prefix,
                          std::optional<road::ApplyWindow> window = std::nullopt) {
  return {L"", "stable", mode, prefix, window};
}

// The status line for each answer to "status" as the service sends it (and for none), what the
// window offers with it, and when it asks again; and what the administrator's policy adds to
// the window's words, and takes from what it offers (the default policy neither).
TEST(UpdateOutcomeText, NextUpdateInTheUsersWordsWithWhatTheWindowOffers) {
  using Mode = road::UpdateMode;
  const std::wstring unanswered =
      L"The update service does not answer. Updates cannot be checked or installed until it "
      L"runs again.";
  const road::UpdateStatusView silent{unanswered, false, 0, false, false, 10000};
  // clang-format off
  const struct {
    std::string answer;
    road::UpdateStatusView view;  // text, downloading, percent, may check, may apply, poll ms
    road::UpdatePolicy policy = {};
  } cases[] = {
      {"status up-to-date\n", {L"Corvanta Remote is up to date.", false, 0, true, false, 60000}},
      {"status checking\r\n", {L"Checking for updates...", false, 0, false, false, 1000}},
      {"status downloading 12900000 of 41943040",
       {L"Downloading an update: 12.3 MB of 40.0 MB (30 %)", true, 30, false, false, 1000}},
      // Rounded down: never complete before the last byte.
      {"status downloading 41943039 of 41943040",
       {L"Downloading an update: 39.9 MB of 40.0 MB (99 %)", true, 99, false, false, 1000}},
      {"status downloading 0 of 524288",
       {L"Downloading an update: 0.0 KB of 512.0 KB (0 %)", true, 0, false, false, 1000}},
      {"status downloading 1610612736 of 2147483648",
       {L"Downloading an update: 1.5 GB of 2.0 GB (75 %)", true, 75, false, false, 1000}},
      {"status downloading 18446744073709551615 of 18446744073709551615",
       {L"Downloading an update: 17179869183.9 GB of 17179869183.9 GB (100 %)", true, 100, false,
        false, 1000}},
      {"status ready-to-install 2.0.0\n",
       {L"Version 2.0.0 is ready to install.", false, 0, true, true, 60000}},
      {"status ready-to-install 2.0\x01",
       {L"Version 2.0? is ready to install.", false, 0, true, true, 60000}},
      {"status refused: the feed has expired",
       {L"The last update check failed: the feed has expired", false, 0, true, false, 10000}},
      // The service refuses every request, or has gone: nothing is offered.
      {"refused: the update folders are not the service's own\n",
       {L"The update service refuses updates now: the update folders are not the service's own",
        false, 0, false, false, 10000}},
      {"no answer: the update service cannot be reached (error 2)", silent},
      {"status downloading 5 of 4", silent},
      {"staged 01234567-89ab-cdef-0123-456789abcdef", silent},
      {"status refused: updates are turned off by the administrator",
       {L"Updates are turned off by your administrator.", false, 0, false, false, 10000},
       Policy(Mode::kOff, "")},
      {"status ready-to-install 2.0.0",
       {L"Version 2.0.0 is ready to install.\r\nUpdates are turned off by your administrator.",
        false, 0, false, true, 60000}, Policy(Mode::kOff, "")},
      {"status up-to-date",
       {L"Corvanta Remote is up to date.\r\nYour administrator holds updates to version 2.0.", false,
        0, true, false, 60000}, Policy(Mode::kDownload, "2.0")},
      {"status ready-to-install 2.0.0",
       {L"Version 2.0.0 is ready to install.\r\nUpdates install automatically between 02:00 and "
        L"04:00.", false, 0, true, true, 60000}, Policy(Mode::kAutomatic, "", {{120, 240}})},
      {"status checking",
       {L"Checking for updates...\r\nYour administrator holds updates to version 2. Updates "
        L"install automatically.", false, 0, false, false, 1000}, Policy(Mode::kAutomatic, "2")},
  };
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(ViewFields(road::ViewUnderPolicy(road::ViewOfStatusAnswer(c.answer), c.policy)),
              ViewFields(c.view))
        << c.answer;
  }
}

}  // namespace
