#include "ui/update_progress_text.h"

#include <optional>

#include "win/text_conversion.h"

namespace road {

namespace {

// The units the sizes are shown in, as Windows' own dialogs count them.
constexpr std::uint64_t kKilobyte = 1024;
constexpr std::uint64_t kMegabyte = kKilobyte * 1024;
constexpr std::uint64_t kGigabyte = kMegabyte * 1024;

// `bytes` in `unit`, with one decimal, rounded down: the download never looks complete before
// it is.
std::wstring InUnit(std::uint64_t bytes, std::uint64_t unit) {
  const std::uint64_t tenths = bytes / unit * 10 + bytes % unit * 10 / unit;
  return std::to_wstring(tenths / 10) + L"." + std::to_wstring(tenths % 10);
}

// "12.3 MB of 40.0 MB", both in the unit that suits the total.
std::wstring SizeOfTotal(std::uint64_t bytes, std::uint64_t total) {
  std::uint64_t unit = kKilobyte;
  const wchar_t* name = L" KB";
  if (total >= kGigabyte) {
    unit = kGigabyte;
    name = L" GB";
  } else if (total >= kMegabyte) {
    unit = kMegabyte;
    name = L" MB";
  }
  return InUnit(bytes, unit) + name + L" of " + InUnit(total, unit) + name;
}

// Rounded down, so that 100 means done; 0 for an empty total.
int PercentOf(std::uint64_t bytes, std::uint64_t total) noexcept {
  if (total == 0) return 0;
  return static_cast<int>(static_cast<long double>(bytes) * 100 / static_cast<long double>(total));
}

// The service's words, printable ASCII as the contract has them; anything else becomes '?', so
// that the status line stays one line whatever arrives.
std::wstring Printable(const std::string& text) { return WidenAscii(PrintableAscii(text)); }

UpdateStatusView ViewOfProgress(const UpdateProgress& progress) {
  UpdateStatusView view;
  view.text = UpdateProgressText(progress);
  switch (progress.kind) {
    case UpdateProgress::Kind::kChecking:
      view.poll_ms = kBusyStatusPollMs;
      return view;
    case UpdateProgress::Kind::kDownloading:
      view.downloading = true;
      view.percent = PercentOf(progress.bytes, progress.total);
      view.poll_ms = kBusyStatusPollMs;
      return view;
    case UpdateProgress::Kind::kReady:
      view.may_apply = true;
      break;
    case UpdateProgress::Kind::kRefused:
      view.poll_ms = kUnsettledStatusPollMs;
      break;
    case UpdateProgress::Kind::kUpToDate:
      break;
  }
  view.may_check = true;
  return view;
}

}  // namespace

std::wstring UpdateProgressText(const UpdateProgress& progress) {
  switch (progress.kind) {
    case UpdateProgress::Kind::kUpToDate:
      return L"Corvanta Remote is up to date.";
    case UpdateProgress::Kind::kChecking:
      return L"Checking for updates...";
    case UpdateProgress::Kind::kDownloading:
      return L"Downloading an update: " + SizeOfTotal(progress.bytes, progress.total) + L" (" +
             std::to_wstring(PercentOf(progress.bytes, progress.total)) + L" %)";
    case UpdateProgress::Kind::kReady:
      return L"Version " + Printable(progress.version) + L" is ready to install.";
    case UpdateProgress::Kind::kRefused:
      break;
  }
  return L"The last update check failed: " + Printable(progress.reason);
}

UpdateStatusView ViewOfStatusAnswer(const std::string& answer) {
  const std::optional<UpdateProgress> progress = ParseStatusAnswer(answer);
  if (progress) return ViewOfProgress(*progress);
  UpdateStatusView view;
  view.poll_ms = kUnsettledStatusPollMs;
  const Answer other = ParseAnswer(answer);
  if (other.kind == Answer::Kind::kRefused) {
    view.text = L"The update service refuses updates now: " + Printable(other.text);
    return view;
  }
  view.text =
      L"The update service does not answer. Updates cannot be checked or installed until it "
      L"runs again.";
  return view;
}

std::wstring PolicyText(const UpdatePolicy& policy) {
  if (policy.mode == UpdateMode::kOff) return L"Updates are turned off by your administrator.";
  std::wstring text;
  if (!policy.version_prefix.empty()) {
    text =
        L"Your administrator holds updates to version " + Printable(policy.version_prefix) + L".";
  }
  if (policy.mode == UpdateMode::kAutomatic) {
    if (!text.empty()) text += L" ";
    text += L"Updates install automatically";
    if (policy.window) {
      text += L" between " + Printable(MinuteOfDayText(policy.window->start_minute)) + L" and " +
              Printable(MinuteOfDayText(policy.window->end_minute));
    }
    text += L".";
  }
  return text;
}

UpdateStatusView ViewUnderPolicy(UpdateStatusView view, const UpdatePolicy& policy) {
  const std::wstring words = PolicyText(policy);
  if (policy.mode == UpdateMode::kOff) {
    view.text = view.may_apply ? view.text + L"\r\n" + words : words;
    view.may_check = false;
    view.downloading = false;
    return view;
  }
  if (!words.empty()) view.text += L"\r\n" + words;
  return view;
}

}  // namespace road
