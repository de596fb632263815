// Registered window messages through user32.
#include <windows.h>
// The seam's method names are also user32's A/W-switching macros.
#undef RegisterWindowMessage
#undef SendMessage

#include "core/window_messages.h"

namespace zuvo {
namespace {

class Win32WindowMessages : public WindowMessages {
 public:
  uint32_t RegisterWindowMessage(const std::u16string& name) override {
    return RegisterWindowMessageW(reinterpret_cast<const wchar_t*>(name.c_str()));
  }
  intptr_t SendMessage(intptr_t hwnd, uint32_t message, uintptr_t wParam,
                       intptr_t lParam) override {
    return SendMessageW(reinterpret_cast<HWND>(hwnd), message, wParam, lParam);
  }
};

}  // namespace

std::unique_ptr<WindowMessages> CreatePlatformWindowMessages() {
  return std::make_unique<Win32WindowMessages>();
}

}  // namespace zuvo
