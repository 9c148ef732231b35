#include "service/update_check.h"

#include <optional>
#include <string>

#include "contract/road_paths.h"
#include "feed/feed_document.h"
#include "feed/feed_signature.h"
#include "feed/feed_verdict.h"
#include "feed/http_fetch.h"
#include "feed/release_download.h"
#include "feed/utc_time.h"
#include "package/installed_version.h"
#include "package/product_version.h"
#include "package/publisher_pins.h"
#include "service/feed_memory.h"
#include "service/pending_package.h"
#include "win/text_conversion.h"

namespace road {

namespace {

// A detached signature larger than this is refused unread: a chain of a few certificates fits.
constexpr std::size_t kMaxFeedSignatureBytes = std::size_t{64} * 1024;

// The feed's own signature, beside it.
constexpr wchar_t kSignatureSuffix[] = L".p7s";

[[nodiscard]] UnixSeconds UtcNow() noexcept {
  FILETIME now = {};
  ::GetSystemTimeAsFileTime(&now);
  const ULONGLONG ticks = (ULONGLONG{now.dwHighDateTime} << 32) | now.dwLowDateTime;
  // 100 ns ticks since 1601-01-01; 11644473600 s from then to 1970-01-01.
  return static_cast<UnixSeconds>(ticks / 10'000'000ULL) - 11'644'473'600LL;
}

// Shows and notes `reason` as the check's refusal; the repeats of one kind are counted together.
void ShowRefusal(const std::string& reason, CheckBoard& board, const ServiceLog& log) {
  board.ShowRefused(reason);
  log.NoteRepeatable(L"Update check: " + WidenAscii(reason.substr(0, reason.find(':'))),
                     L"Update check: " + WidenAscii(reason));
}

// The result of a fetch that did not succeed, refused on the board with `what` and its why.
CheckResult FetchFailed(const FetchOutcome& fetched, const std::string& what, CheckBoard& board,
                        const ServiceLog& log) {
  if (fetched.kind == FetchOutcome::Kind::kStopped) return {CheckResult::Kind::kStopped, {}};
  ShowRefusal(what + ": " + fetched.why, board, log);
  if (fetched.kind == FetchOutcome::Kind::kRetry) {
    return {CheckResult::Kind::kRetry, fetched.retry_after_s};
  }
  return {};
}

// The feed's text, fetched with its signature and accepted by it; empty, with the check's
// result in `result`, otherwise.
std::optional<std::string> FetchSignedFeed(const CheckSettings& settings, CheckBoard& board,
                                           HANDLE stop, const ServiceLog& log,
                                           CheckResult& result) {
  std::string feed;
  const FetchOutcome fetched = FetchSmall(settings.feed_url, kMaxFeedBytes, stop, feed);
  if (fetched.kind != FetchOutcome::Kind::kDone) {
    result = FetchFailed(fetched, "the feed could not be fetched", board, log);
    return std::nullopt;
  }
  std::string signature;
  const FetchOutcome signed_by =
      FetchSmall(settings.feed_url + kSignatureSuffix, kMaxFeedSignatureBytes, stop, signature);
  if (signed_by.kind != FetchOutcome::Kind::kDone) {
    result = FetchFailed(signed_by, "the feed's signature could not be fetched", board, log);
    return std::nullopt;
  }
  const FeedSignatureVerdict verdict = JudgeFeedSignature(ReadFeedSignature(feed, signature));
  if (!verdict.accepted) {
    ShowRefusal(verdict.reason, board, log);
    return std::nullopt;
  }
  return feed;
}

// What this machine knows when it judges a feed; nothing, refused on the board, when the
// installed version cannot be read.
std::optional<FeedFacts> GatherFeedFacts(const CheckSettings& settings, CheckBoard& board,
                                         const ServiceLog& log) {
  std::optional<std::wstring> installed;
  const std::optional<ProductVersion> version =
      ReadInstalledVersion(kProductUpgradeCode, &installed) && installed
          ? ParseProductVersion(*installed)
          : std::nullopt;
  if (!version) {
    ShowRefusal("the installed version could not be read", board, log);
    return std::nullopt;
  }
  const UpdatePolicy& policy = settings.policy;
  return FeedFacts{policy.channel, ReadHighestFeedSerial(), UtcNow(),
                   *version,       InstallIdentifier(),     policy.version_prefix};
}

// Downloads `release` and delivers it into Incoming.
CheckResult Download(const CheckSettings& settings, const FeedRelease& release, CheckBoard& board,
                     HANDLE stop, const ServiceLog& log) {
  const std::string version = VersionText(release.version);
  log.Note(L"Downloading " + WidenAscii(version) + L" from " + WidenAscii(release.url));
  board.ShowDownloaded(0, release.size);
  const FetchOutcome downloaded = DownloadRelease(
      settings.feed_url, release, DownloadsFolder(), stop,
      [&board, &release](std::uint64_t bytes) { board.ShowDownloaded(bytes, release.size); });
  if (downloaded.kind != FetchOutcome::Kind::kDone) {
    return FetchFailed(downloaded, "the download of " + version + " failed", board, log);
  }
  std::string why;
  if (!DeliverDownload(release, DownloadsFolder(), IncomingFolder(), why)) {
    ShowRefusal("the download of " + version + " could not be delivered: " + why, board, log);
    return {};
  }
  log.Note(L"Delivered " + WidenAscii(version) + L" into Incoming");
  board.Show(UpdateProgress{});
  return {};
}

// The check itself, up to the delivery.
CheckResult Check(const CheckSettings& settings, CheckBoard& board, HANDLE stop,
                  const ServiceLog& log) {
  UpdateProgress checking;
  checking.kind = UpdateProgress::Kind::kChecking;
  board.Show(checking);
  CheckResult result;
  const std::optional<std::string> text = FetchSignedFeed(settings, board, stop, log, result);
  if (!text) return result;
  const FeedParse parsed = ParseFeedDocument(*text);
  if (!parsed.accepted) {
    ShowRefusal("the feed cannot be read: " + parsed.refusal, board, log);
    return {};
  }
  const std::optional<FeedFacts> facts = GatherFeedFacts(settings, board, log);
  if (!facts) return {};
  const FeedVerdict verdict = JudgeFeed(parsed.document, *facts);
  switch (verdict.outcome) {
    case FeedVerdict::Outcome::kReplayed:
    case FeedVerdict::Outcome::kExpired:
      ShowRefusal(verdict.reason, board, log);
      return {};
    case FeedVerdict::Outcome::kOffer:
    case FeedVerdict::Outcome::kNoRelease:
    case FeedVerdict::Outcome::kNoneNewer:
    case FeedVerdict::Outcome::kNotInSlice:
      break;
  }
  if (!RaiseHighestFeedSerial(parsed.document.serial)) {
    log.Note(L"Could not record the feed's serial " + std::to_wstring(parsed.document.serial));
  }
  if (verdict.outcome == FeedVerdict::Outcome::kOffer) {
    if (!IsCompleteDelivery(ReleasePackageName(verdict.release)))
      return Download(settings, verdict.release, board, stop, log);
    board.Show(UpdateProgress{});
    return {};
  }
  log.NoteRepeatable(L"Update check: nothing to fetch",
                     L"Update check: nothing to fetch: " + WidenAscii(verdict.reason));
  board.Show(UpdateProgress{});
  return {};
}

}  // namespace

CheckResult CheckForUpdate(const CheckSettings& settings, CheckBoard& board, HANDLE stop,
                           const ServiceLog& log) {
  const CheckResult result = Check(settings, board, stop, log);
  if (result.kind != CheckResult::Kind::kStopped) SortIncoming(board, log);
  return result;
}

void SortIncoming(CheckBoard& board, const ServiceLog& log) {
  const std::lock_guard<std::mutex> incoming(board.IncomingMutex());
  const PendingPackage pending = FindPendingPackage(log);
  board.NoteReady(pending.version);
  if (pending.package.empty() && !pending.refusal.empty()) {
    ShowRefusal("the delivered package was refused: " + pending.refusal, board, log);
  }
}

}  // namespace road
