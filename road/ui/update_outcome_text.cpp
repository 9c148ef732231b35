#include "ui/update_outcome_text.h"

#include <cstring>

#include "contract/pipe_protocol.h"
#include "shared/status_record_text.h"
#include "shared/updater_contract.h"
#include "ui/update_client.h"
#include "win/text_conversion.h"

namespace road {

namespace {

using updater_contract::kInstallerExitReason;
using updater_contract::kRestartRequiredReason;

// ERROR_INSTALL_ALREADY_RUNNING: another installation held the Windows Installer.
constexpr DWORD kInstallerBusyExit = 1618;

constexpr wchar_t kRestartAdvice[] = L"Restart Windows to finish the update";
constexpr wchar_t kLaterAdvice[] = L"Try again later";

// `text`, then the installer's log path on a line of its own, when there is one.
[[nodiscard]] std::wstring WithLog(const std::wstring& text, const std::wstring& log_path) {
  return log_path.empty() ? text : text + L"\r\nThe installer's log:\r\n" + log_path;
}

[[nodiscard]] std::wstring FailureText(const OutcomeParts& failure) {
  if (failure.reason == kRestartRequiredReason) {
    return std::wstring(L"The last update is installed but not finished. ") + kRestartAdvice;
  }
  if (failure.reason == kInstallerExitReason + std::to_wstring(kInstallerBusyExit)) {
    return std::wstring(
               L"The last update was not installed: another program was being "
               L"installed. ") +
           kLaterAdvice;
  }
  const std::wstring failed = L"The last update failed (" + failure.reason + L").";
  if (failure.log_path.empty()) return failed + L" " + kLaterAdvice;
  return WithLog(failed, failure.log_path);
}

}  // namespace

std::wstring AnswerText(const Answer& answer) {
  switch (answer.kind) {
    case Answer::Kind::kStaged:
      return kPreparingUpdateText;
    case Answer::Kind::kStarted:
      return kUpdateStartedText;
    case Answer::Kind::kRefused: {
      std::wstring refused = L"The update was refused: " + WidenAscii(answer.text);
      // The service's reasons that leave the user something to do say it after a semicolon.
      if (answer.text.find("; ") != std::string::npos) return refused;
      return refused + L". " + kLaterAdvice + L", or ask your administrator";
    }
    case Answer::Kind::kNone:
      break;
  }
  std::string why = answer.text;
  if (why.compare(0, std::strlen(kNoAnswer), kNoAnswer) == 0) why.erase(0, std::strlen(kNoAnswer));
  return L"The update service did not answer (" + WidenAscii(why) + L"). " + kLaterAdvice;
}

std::wstring WatcherNotStartedText(DWORD error) {
  return L"The update was not started: the helper that opens this program again afterwards "
         L"could not start (error " +
         std::to_wstring(error) + L"). " + kLaterAdvice;
}

std::wstring UpdateOutcomeText(const std::wstring& outcome, const std::wstring& running_version) {
  const OutcomeParts parts = ReadOutcome(outcome);
  // The service did not run again, whatever the installation did: Windows starts it at its
  // next start.
  if (parts.service_stayed_down) {
    return WithLog(std::wstring(L"The update service did not start again after the last update. ") +
                       kRestartAdvice,
                   parts.log_path);
  }
  if (parts.kind == UpdateOutcome::kCompleted) {
    return L"The last update completed: version " + running_version + L" is running";
  }
  if (parts.kind != UpdateOutcome::kFailed) return L"";
  return FailureText(parts);
}

}  // namespace road
