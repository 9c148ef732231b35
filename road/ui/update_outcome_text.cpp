#include "ui/update_outcome_text.h"

#include <cstring>
#include <cwchar>

#include "shared/updater_contract.h"
#include "ui/update_client.h"
#include "win/text_conversion.h"

namespace road {

namespace {

using updater_contract::kFailedKeyword;
using updater_contract::kInstallerExitReason;
using updater_contract::kLogPathSeparator;
using updater_contract::kRestartRequiredReason;

// ERROR_INSTALL_ALREADY_RUNNING: another installation held the Windows Installer.
constexpr DWORD kInstallerBusyExit = 1618;

constexpr wchar_t kRestartAdvice[] = L"Restart Windows to finish the update";
constexpr wchar_t kLaterAdvice[] = L"Try again later";

[[nodiscard]] bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// A failure's reason and the installer's log path after it, if any.
struct Failure {
  std::wstring reason;
  std::wstring log_path;
};

[[nodiscard]] Failure SplitFailure(const std::wstring& reason_and_log) {
  const size_t separator = reason_and_log.find(kLogPathSeparator);
  if (separator == std::wstring::npos) return {reason_and_log, L""};
  return {reason_and_log.substr(0, separator),
          reason_and_log.substr(separator + std::wcslen(kLogPathSeparator))};
}

// `text`, then the installer's log path on a line of its own, when there is one.
[[nodiscard]] std::wstring WithLog(const std::wstring& text, const std::wstring& log_path) {
  return log_path.empty() ? text : text + L"\r\nThe installer's log:\r\n" + log_path;
}

[[nodiscard]] std::wstring FailureText(const Failure& failure) {
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
  if (outcome == updater_contract::kCompletedOutcome) {
    return L"The last update completed: version " + running_version + L" is running";
  }
  // The service did not run again, whatever the installation did: Windows starts it at its
  // next start.
  const std::wstring restart_failed = updater_contract::kRestartFailedPrefix;
  if (StartsWith(outcome, restart_failed)) {
    const Failure inner = SplitFailure(outcome.substr(restart_failed.size()));
    return WithLog(std::wstring(L"The update service did not start again after the last update. ") +
                       kRestartAdvice,
                   inner.log_path);
  }
  if (!StartsWith(outcome, kFailedKeyword)) return L"";
  return FailureText(SplitFailure(outcome.substr(std::wcslen(kFailedKeyword))));
}

}  // namespace road
