// What the service knows of the next update, shared by the thread that checks the feed and
// downloads, and the pipe, which reports it and passes on a client's wish for a check now.
#pragma once

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>

#include "contract/pipe_protocol.h"
#include "shared/unique_handles.h"

namespace road {

// Every member may be called from any thread.
class CheckBoard {
 public:
  CheckBoard();
  CheckBoard(const CheckBoard&) = delete;
  CheckBoard& operator=(const CheckBoard&) = delete;
  ~CheckBoard() = default;

  // The status as the pipe answers it: a check or a download under way; else a package ready
  // in Incoming; else what the last check found (kUpToDate before the first).
  [[nodiscard]] UpdateProgress Progress() const;
  // What the check is doing or found: checking, downloading, up to date or refused.
  void Show(const UpdateProgress& progress);
  // The last check failed, for `reason`.
  void ShowRefused(const std::string& reason);
  // A download under way: `bytes` of its `total`.
  void ShowDownloaded(std::uint64_t bytes, std::uint64_t total);
  // The version of the package that waits in Incoming; empty when none does.
  void NoteReady(const std::string& version);

  // Held while Incoming is sorted or a package is taken from it: the checking thread and the
  // work of a request both do, and must not set aside or remove what the other is reading.
  [[nodiscard]] std::mutex& IncomingMutex() noexcept { return incoming_; }

  // A client asked for a check now: wakes the checking thread. Asked while a check runs, the
  // next one follows it at once.
  void AskForCheck() const noexcept;
  // Signalled by AskForCheck; auto-reset. Null when the event could not be made: the checks
  // then keep to their schedule.
  [[nodiscard]] HANDLE CheckAsked() const noexcept { return check_asked_.get(); }

 private:
  mutable std::mutex mutex_;
  std::mutex incoming_;
  UpdateProgress progress_;
  std::string ready_version_;
  UniqueHandle check_asked_;
};

}  // namespace road
