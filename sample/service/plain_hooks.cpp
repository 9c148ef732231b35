// The product's service hooks: it takes no options and adds nothing to its states.
#include "service/service_hooks.h"

namespace sample {

namespace {

class PlainHooks final : public ServiceHooks {
 public:
  bool TakeOptions(int argc, wchar_t** /*argv*/, bool /*from_start*/) override { return argc <= 1; }
  bool Starting(const std::function<void()>& /*progress*/) override { return true; }
  bool AcceptsStop() override { return true; }
  void Running() override {}
  bool StopRequested() override { return true; }
  void Stopping(const std::function<void()>& /*progress*/) override {}
  void Stopped() override {}
  void Answering() override {}
  void Scheduling(road::CheckSchedule& /*schedule*/) override {}
};

}  // namespace

ServiceHooks& Hooks() {
  static PlainHooks hooks;
  return hooks;
}

}  // namespace sample
