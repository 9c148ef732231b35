// Points where a build of the service may add to what it does as it goes through its states.
// The product links plain_hooks.cpp, which adds nothing; another build may link hooks of its
// own.
#pragma once

#include <windows.h>

#include <functional>

#include "service/check_schedule.h"

namespace sample {

class ServiceHooks {
 public:
  virtual ~ServiceHooks() = default;
  // The options after the program name (`from_start`: the StartService arguments, otherwise
  // the ImagePath). False rejects them: the service does not start.
  [[nodiscard]] virtual bool TakeOptions(int argc, wchar_t** argv, bool from_start) = 0;
  // While START_PENDING, before RUNNING; `progress` reports a new checkpoint. False: the start
  // fails.
  [[nodiscard]] virtual bool Starting(const std::function<void()>& progress) = 0;
  // Whether the service accepts the stop control once it runs.
  [[nodiscard]] virtual bool AcceptsStop() = 0;
  // Just before RUNNING is reported.
  virtual void Running() = 0;
  // A stop control has come; false lets it pass unheeded.
  [[nodiscard]] virtual bool StopRequested() = 0;
  // In STOP_PENDING once the service's work has ended, before STOPPED.
  virtual void Stopping(const std::function<void()>& progress) = 0;
  // After STOPPED, before the host process ends.
  virtual void Stopped() = 0;
  // Before each answer on the update pipe.
  virtual void Answering() = 0;
  // Once, before the checks of the feed begin: may change when they come.
  virtual void Scheduling(road::CheckSchedule& schedule) = 0;
};

// The hooks of this build.
ServiceHooks& Hooks();

}  // namespace sample
