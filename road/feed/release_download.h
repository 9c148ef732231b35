// The download of a release's package into the road's Downloads folder, resumed after an
// interruption, and its delivery into Incoming once its size and SHA-256 check out.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "feed/feed_document.h"
#include "feed/http_fetch.h"

namespace road {

// Free space kept beyond a download's bytes, so that a download never fills the volume the
// service logs and stages on.
constexpr std::uint64_t kDownloadSpaceMargin = 64ULL * 1024 * 1024;

// The name a release's package has in Downloads and Incoming, from its version alone (never
// from a server's header): "CorvantaRemote-2.0.0".
[[nodiscard]] std::wstring ReleasePackageName(const FeedRelease& release);

// Downloads `release` (its url resolved against `feed_url` when it is a file name
// beside the feed) into `<downloads>\<name>.partial`, resuming with Range when a
// partial file is there; reports progress (bytes so far) through `progress`.
// Refused before any request: an address ResolveReleaseUrl refuses. kRetry when `downloads` is
// empty (not known yet), when the volume has not the missing bytes plus kDownloadSpaceMargin
// free, or when the partial cannot be written. A server that ignores Range (200), or whose
// Content-Range does not start at the partial's size, has the download start again from zero.
// A body longer than the release's size is refused. Every refusal removes the partial, since
// no later try of the same release can use it. Once the partial holds the release's size, its
// SHA-256 must be the feed's, else the download is refused ("the download's SHA-256 does not
// match the feed"); kDone then means the partial is whole and checked. `timeouts` are
// shortened by tests only. One download at a time is the caller's job.
[[nodiscard]] FetchOutcome DownloadRelease(const std::wstring& feed_url, const FeedRelease& release,
                                           const std::wstring& downloads, HANDLE stop,
                                           const std::function<void(std::uint64_t)>& progress,
                                           const FetchTimeouts& timeouts = {});

// Moves the partial DownloadRelease completed into `incoming` as `<name>.msi` with its
// `<name>.msi.sha256` (the feed's hash): the .sha256 is written first, then the package is
// renamed into place, so that the delivery becomes complete in one rename and a half-done
// package is never a complete delivery. A package of that name already in Incoming is
// replaced. The partial's size and SHA-256 are checked again first, since it lay in a folder
// between the two calls. False, with `why` set, when any step fails or a folder is empty (not
// known); the partial then stays, unless it is whole (or longer) and not the release's.
[[nodiscard]] bool DeliverDownload(const FeedRelease& release, const std::wstring& downloads,
                                   const std::wstring& incoming, std::string& why);

}  // namespace road
