// The update pipe's protocol: its name, the request and answer lines, with a parser for each
// so that nobody cuts strings by hand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "contract/road_contract.h"

namespace road {

// The update pipe's name: this prefix and a fresh GUID without braces, drawn at every start of
// the service, so that no process can take the name first while the service is stopped
// (installer mode stops it at every update). The service publishes the name once the pipe
// exists, as kUpdatePipeValueName under kRoadKeyPath, where clients read it.
inline constexpr wchar_t kUpdatePipePrefix[] = L"\\\\.\\pipe\\CorvantaRemoteUpdate-";
// Longer requests are malformed; nothing legitimate comes near it.
inline constexpr size_t kMaxRequestBytes = 256;

// The update pipe's name with `guid`; empty unless `guid` is well formed as a token.
[[nodiscard]] std::wstring UpdatePipeName(const std::wstring& guid);

// Whether `name` is one that the service makes: kUpdatePipePrefix, exactly, and a well-formed
// GUID. Checked before a client opens a published name, which could otherwise lead it to
// another machine's pipe or to a file.
[[nodiscard]] bool IsUpdatePipeName(const std::wstring& name) noexcept;

// The requests, one line each, ended by "\n".
inline constexpr char kApplyRequest[] = "apply-pending-update";
inline constexpr char kStartRequest[] = "start ";  // followed by the token
// What the service knows of the next update; "check-for-update" asks it to look at the feed
// now as well. Both are answered at once with a status line.
inline constexpr char kStatusRequest[] = "status";
inline constexpr char kCheckRequest[] = "check-for-update";
// The answers, one line each: "staged <token>", "started <token>" or "refused: <reason>".
inline constexpr char kStagedAnswer[] = "staged ";
inline constexpr char kStartedAnswer[] = "started ";
inline constexpr char kRefusedAnswer[] = "refused: ";

// The status answer: "status " and one of
//   "up-to-date"                       no newer release is offered to this machine
//   "checking"                         the service is reading the feed
//   "downloading <bytes> of <total>"   a release is being downloaded
//   "ready-to-install <version>"       a package waits in Incoming for "apply-pending-update"
//   "refused: <reason>"                the last check or download failed, and why
inline constexpr char kStatusAnswer[] = "status ";
inline constexpr char kUpToDateWord[] = "up-to-date";
inline constexpr char kCheckingWord[] = "checking";
inline constexpr char kDownloadingWord[] = "downloading ";
inline constexpr char kReadyWord[] = "ready-to-install ";

// What the service knows of the next update, as the status answer carries it.
struct UpdateProgress {
  enum class Kind { kUpToDate, kChecking, kDownloading, kReady, kRefused } kind = Kind::kUpToDate;
  std::uint64_t bytes = 0;  // kDownloading: bytes downloaded so far
  std::uint64_t total = 0;  // kDownloading: the release's size
  std::string version;      // kReady: the ready package's version
  std::string reason;       // kRefused: why, printable ASCII
};

// The request lines as a client sends them, line end included.
[[nodiscard]] std::string ApplyRequestLine();
[[nodiscard]] std::string StartRequestLine(const std::wstring& token);
[[nodiscard]] std::string StatusRequestLine();
[[nodiscard]] std::string CheckRequestLine();

// The status answer for `progress`, without its line end. Characters of `version` and
// `reason` outside printable ASCII become '?', so that the answer stays one line.
[[nodiscard]] std::string StatusAnswerText(const UpdateProgress& progress);
// Reads a status answer (with or without its line end); nullopt for anything else, including
// a count that is no decimal number or more bytes than the total.
[[nodiscard]] std::optional<UpdateProgress> ParseStatusAnswer(std::string line);

// `line` without the "\n" or "\r\n" (or several) that end it.
[[nodiscard]] std::string WithoutLineEnd(std::string line);

// One request, as the service reads it (the line without its end).
struct Request {
  enum class Kind { kApplyPending, kStart, kStatus, kCheck, kUnknown } kind = Kind::kUnknown;
  std::wstring token;  // for kStart, always well formed
};
[[nodiscard]] Request ParseRequest(const std::string& line);

// One answer, as a client reads it (with or without its line end). kNone is no answer at all:
// the client's own "no answer: <why>" or a line that is none of the three.
struct Answer {
  enum class Kind { kStaged, kStarted, kRefused, kNone } kind = Kind::kNone;
  std::wstring token;  // for kStaged and kStarted, always well formed
  std::string text;    // the reason of kRefused, the whole line of kNone
};
[[nodiscard]] Answer ParseAnswer(std::string line);

}  // namespace road
