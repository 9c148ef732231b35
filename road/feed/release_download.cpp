#include "feed/release_download.h"

#include <windows.h>

#include "contract/road_contract.h"
#include "feed/feed_url.h"
#include "service/package_hash.h"
#include "shared/unique_handles.h"
#include "win/text_conversion.h"

namespace road {

namespace {

constexpr wchar_t kPartialSuffix[] = L".partial";

FetchOutcome Result(FetchOutcome::Kind kind, std::string why) {
  FetchOutcome outcome;
  outcome.kind = kind;
  outcome.why = std::move(why);
  return outcome;
}

std::string WithError(const char* what, DWORD error) {
  return std::string(what) + " (error " + std::to_string(error) + ")";
}

std::wstring PartialPath(const std::wstring& downloads, const FeedRelease& release) {
  return downloads + L"\\" + ReleasePackageName(release) + kPartialSuffix;
}

// The partial file, opened alone for writing, made when it is not there.
UniqueHandle OpenPartial(const std::wstring& path) noexcept {
  return OwnHandle(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, /*share=*/0,
                                 /*security=*/nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                 /*template_file=*/nullptr));
}

// Moves the end of `file` to `size` bytes (0 empties it) and writes on from there.
[[nodiscard]] bool SetLength(HANDLE file, std::uint64_t size) noexcept {
  LARGE_INTEGER at = {};
  at.QuadPart = static_cast<LONGLONG>(size);
  return ::SetFilePointerEx(file, at, /*new_position=*/nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
}

[[nodiscard]] bool WriteAll(HANDLE file, std::string_view bytes) noexcept {
  DWORD written = 0;
  return ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     /*overlapped=*/nullptr) &&
         written == bytes.size();
}

// Whether the volume of `folder` has `needed` bytes free for this process; `why` when not.
[[nodiscard]] bool HasFreeSpace(const std::wstring& folder, std::uint64_t needed,
                                std::string& why) {
  ULARGE_INTEGER available = {};
  if (!::GetDiskFreeSpaceExW(folder.c_str(), &available, /*total=*/nullptr, /*free=*/nullptr)) {
    const DWORD error = ::GetLastError();
    why = WithError("the free space of the Downloads folder could not be read", error);
    return false;
  }
  if (available.QuadPart >= needed) return true;
  why = "not enough free space for the download: " + std::to_string(needed) + " bytes needed, " +
        std::to_string(available.QuadPart) + " free";
  return false;
}

// One download attempt into `file`, which holds `have` bytes; `restart` is set when the
// server's Content-Range does not follow on, `file_failed` when the partial could not be
// written, which a later try may well get past.
struct Attempt {
  HANDLE file;
  std::uint64_t have;
  bool restart = false;
  bool file_failed = false;
};

std::string AcceptHead(const FeedRelease& release, const ResponseHead& head, Attempt& attempt) {
  if (head.status == 206 && head.range_start != attempt.have) {
    attempt.restart = true;
    return "the server's Content-Range does not start at byte " + std::to_string(attempt.have);
  }
  if (head.status != 206 && head.status != 200) {
    return "the server answered " + std::to_string(head.status) + " without the package";
  }
  // A 200 is the whole package, whatever was asked: the download starts again from zero.
  if (head.status == 200 && attempt.have != 0) {
    if (!SetLength(attempt.file, 0)) {
      const DWORD error = ::GetLastError();
      attempt.file_failed = true;
      return WithError("the partial file could not be emptied", error);
    }
    attempt.have = 0;
  }
  if (head.content_length && *head.content_length > release.size - attempt.have) {
    return "the server sent more than the release's " + std::to_string(release.size) + " bytes";
  }
  return "";
}

FetchOutcome FetchInto(const std::string& url, const FeedRelease& release, Attempt& attempt,
                       HANDLE stop, const std::function<void(std::uint64_t)>& progress,
                       const FetchTimeouts& timeouts) {
  BodyReceiver receiver;
  receiver.accept_head = [&](const ResponseHead& head) {
    return AcceptHead(release, head, attempt);
  };
  receiver.take = [&](std::string_view piece) -> std::string {
    if (piece.size() > release.size - attempt.have) {
      return "the server sent more than the release's " + std::to_string(release.size) + " bytes";
    }
    if (!WriteAll(attempt.file, piece)) {
      const DWORD error = ::GetLastError();
      attempt.file_failed = true;
      return WithError("the partial file could not be written", error);
    }
    attempt.have += piece.size();
    if (progress) progress(attempt.have);
    return "";
  };
  return FetchBody(WidenAscii(url), attempt.have, stop, timeouts, receiver);
}

// Fetches what the partial at `path` lacks; kDone once it holds the release's size.
FetchOutcome FillPartial(const std::string& url, const FeedRelease& release,
                         const std::wstring& downloads, const std::wstring& path, HANDLE stop,
                         const std::function<void(std::uint64_t)>& progress,
                         const FetchTimeouts& timeouts) {
  const UniqueHandle file = OpenPartial(path);
  LARGE_INTEGER size = {};
  if (!file || !::GetFileSizeEx(file.get(), &size)) {
    const DWORD error = ::GetLastError();
    return Result(FetchOutcome::Kind::kRetry,
                  WithError("the partial file could not be opened", error));
  }
  Attempt attempt{file.get(), static_cast<std::uint64_t>(size.QuadPart)};
  if (attempt.have > release.size) attempt.have = 0;
  if (!SetLength(file.get(), attempt.have)) {
    const DWORD error = ::GetLastError();
    return Result(FetchOutcome::Kind::kRetry,
                  WithError("the partial file could not be written", error));
  }
  if (attempt.have == release.size) return Result(FetchOutcome::Kind::kDone, "");
  std::string why;
  if (!HasFreeSpace(downloads, release.size - attempt.have + kDownloadSpaceMargin, why)) {
    return Result(FetchOutcome::Kind::kRetry, why);
  }
  FetchOutcome outcome = FetchInto(url, release, attempt, stop, progress, timeouts);
  if (attempt.restart && SetLength(file.get(), 0)) {
    attempt = Attempt{file.get(), 0};
    outcome = FetchInto(url, release, attempt, stop, progress, timeouts);
  }
  if (attempt.file_failed) outcome.kind = FetchOutcome::Kind::kRetry;
  if (outcome.kind == FetchOutcome::Kind::kDone && attempt.have != release.size) {
    return Result(FetchOutcome::Kind::kRetry, "the download ended at " +
                                                  std::to_string(attempt.have) + " of " +
                                                  std::to_string(release.size) + " bytes");
  }
  return outcome;
}

// Whether the whole partial at `path` is the release's; one that is whole or longer and not the
// release's is removed, one that is shorter kept for the download to go on.
FetchOutcome CheckPartial(const std::wstring& path, const FeedRelease& release) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
    const DWORD error = ::GetLastError();
    return Result(FetchOutcome::Kind::kRetry, WithError("the download is not in Downloads", error));
  }
  const std::uint64_t size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
  if (size < release.size) {
    return Result(FetchOutcome::Kind::kRetry, "the download is not complete");
  }
  if (size == release.size && Sha256OfFile(path) == release.sha256) {
    return Result(FetchOutcome::Kind::kDone, "");
  }
  (void)::DeleteFileW(path.c_str());
  return Result(FetchOutcome::Kind::kRefused, size == release.size
                                                  ? "the download's SHA-256 does not match the feed"
                                                  : "the download's size does not match the feed");
}

// Writes the .sha256 of the release's package, "<hash>  <name>.msi"; `error` when it fails.
[[nodiscard]] bool WriteHashFile(const std::wstring& path, const FeedRelease& release,
                                 DWORD& error) {
  const UniqueHandle file =
      OwnHandle(::CreateFileW(path.c_str(), GENERIC_WRITE, /*share=*/0,
                              /*security=*/nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              /*template_file=*/nullptr));
  const std::string line = release.sha256 + "  " + Utf8(ReleasePackageName(release)) + ".msi\n";
  if (file && WriteAll(file.get(), line) && ::FlushFileBuffers(file.get())) return true;
  error = ::GetLastError();
  return false;
}

}  // namespace

std::wstring ReleasePackageName(const FeedRelease& release) {
  return L"CorvantaRemote-" + WidenAscii(VersionText(release.version));
}

FetchOutcome DownloadRelease(const std::wstring& feed_url, const FeedRelease& release,
                             const std::wstring& downloads, HANDLE stop,
                             const std::function<void(std::uint64_t)>& progress,
                             const FetchTimeouts& timeouts) {
  if (downloads.empty()) {
    return Result(FetchOutcome::Kind::kRetry, "the Downloads folder is not known");
  }
  const std::string url = ResolveReleaseUrl(Utf8(feed_url), release.url);
  if (url.empty()) {
    return Result(FetchOutcome::Kind::kRefused, "the release's address is not allowed: https only");
  }
  const std::wstring path = PartialPath(downloads, release);
  FetchOutcome outcome = FillPartial(url, release, downloads, path, stop, progress, timeouts);
  if (outcome.kind == FetchOutcome::Kind::kRefused) {
    (void)::DeleteFileW(path.c_str());
    return outcome;
  }
  return outcome.kind == FetchOutcome::Kind::kDone ? CheckPartial(path, release) : outcome;
}

bool DeliverDownload(const FeedRelease& release, const std::wstring& downloads,
                     const std::wstring& incoming, std::string& why) {
  // An empty folder would name files at the root of the current drive.
  if (downloads.empty() || incoming.empty()) {
    why = "the Downloads or Incoming folder is not known";
    return false;
  }
  const std::wstring partial = PartialPath(downloads, release);
  const FetchOutcome check = CheckPartial(partial, release);
  if (check.kind != FetchOutcome::Kind::kDone) {
    why = check.why;
    return false;
  }
  const std::wstring package = incoming + L"\\" + ReleasePackageName(release) + L".msi";
  const std::wstring hash_file = package + kHashSuffix;
  DWORD error = 0;
  if (!WriteHashFile(hash_file, release, error)) {
    why = WithError("the package's .sha256 could not be written in Incoming", error);
    return false;
  }
  // Same volume, so a rename: the package appears whole, beside its .sha256, at one moment.
  if (!::MoveFileExW(partial.c_str(), package.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = ::GetLastError();
    (void)::DeleteFileW(hash_file.c_str());
    why = WithError("the package could not be moved into Incoming", error);
    return false;
  }
  return true;
}

}  // namespace road
