#include "win/work_thread.h"

#include <algorithm>
#include <memory>
#include <new>
#include <utility>

namespace road {

namespace {

DWORD WINAPI RunWork(void* raw) {
  const std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(raw));
  (*work)();
  return 0;
}

}  // namespace

UniqueHandle StartWorkThread(std::function<void()> work) noexcept {
  std::unique_ptr<std::function<void()>> owned(new (std::nothrow)
                                                   std::function<void()>(std::move(work)));
  if (!owned) return nullptr;
  UniqueHandle thread = OwnHandle(::CreateThread(/*security=*/nullptr, /*stack_size=*/0, RunWork,
                                                 owned.get(), /*flags=*/0, /*thread_id=*/nullptr));
  // The thread owns the work once it runs.
  if (thread) (void)owned.release();
  return thread;
}

bool RunWithin(std::function<void()> work, DWORD timeout_ms, void (*progress)()) noexcept {
  const UniqueHandle thread = StartWorkThread(std::move(work));
  if (!thread) return false;
  for (DWORD waited = 0; waited < timeout_ms;) {
    const DWORD step = std::min<DWORD>(timeout_ms - waited, 1000);
    if (::WaitForSingleObject(thread.get(), step) != WAIT_TIMEOUT) return true;
    waited += step;
    if (progress != nullptr) progress();
  }
  return false;
}

}  // namespace road
