#include "service/check_board.h"

namespace road {

CheckBoard::CheckBoard()
    : check_asked_(OwnHandle(::CreateEventW(/*security=*/nullptr, /*manual_reset=*/FALSE,
                                            /*initial=*/FALSE, /*name=*/nullptr))) {}

UpdateProgress CheckBoard::Progress() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  const bool busy = progress_.kind == UpdateProgress::Kind::kChecking ||
                    progress_.kind == UpdateProgress::Kind::kDownloading;
  if (busy || ready_version_.empty()) return progress_;
  UpdateProgress ready;
  ready.kind = UpdateProgress::Kind::kReady;
  ready.version = ready_version_;
  return ready;
}

void CheckBoard::NoteReady(const std::string& version) {
  const std::lock_guard<std::mutex> lock(mutex_);
  ready_version_ = version;
}

void CheckBoard::Show(const UpdateProgress& progress) {
  const std::lock_guard<std::mutex> lock(mutex_);
  progress_ = progress;
}

void CheckBoard::ShowRefused(const std::string& reason) {
  UpdateProgress refused;
  refused.kind = UpdateProgress::Kind::kRefused;
  refused.reason = reason;
  Show(refused);
}

void CheckBoard::ShowDownloaded(std::uint64_t bytes, std::uint64_t total) {
  UpdateProgress downloading;
  downloading.kind = UpdateProgress::Kind::kDownloading;
  downloading.bytes = bytes < total ? bytes : total;
  downloading.total = total;
  Show(downloading);
}

void CheckBoard::AskForCheck() const noexcept {
  if (check_asked_) (void)::SetEvent(check_asked_.get());
}

}  // namespace road
