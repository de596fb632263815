#include "core/window_messages.h"

namespace zuvo {
namespace {
// Placeholder until the registered-message stand-in lands.
class NoWindows : public WindowMessages {
 public:
  uint32_t RegisterWindowMessage(const std::u16string&) override { return 0xC000; }
  intptr_t SendMessage(intptr_t, uint32_t, uintptr_t, intptr_t) override { return 0; }
};
}  // namespace

std::unique_ptr<WindowMessages> CreatePlatformWindowMessages() {
  return std::make_unique<NoWindows>();
}

}  // namespace zuvo
