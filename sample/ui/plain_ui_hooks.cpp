// The product's UI hooks: they add nothing.
#include "ui/ui_hooks.h"

namespace sample {

namespace {

class PlainUiHooks final : public UiHooks {
 public:
  bool Launched(int& /*exit_code*/) override { return false; }
  void BeforeWindow() override {}
  void WindowShown(HWND /*window*/) override {}
  void BeforeWatcher() override {}
  bool AsksForStatus() override { return true; }
};

}  // namespace

UiHooks& Hooks() {
  static PlainUiHooks hooks;
  return hooks;
}

}  // namespace sample
