// The window-message seam used for toast requests: RegisterWindowMessageW and
// SendMessageW. The Win32 variant calls user32; the POSIX variant is an
// in-process stand-in for registered window messages (window_messages_posix).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace zuvo {

// The window handle with all bits set: the system delivers a message sent
// to it to every top-level window.
inline constexpr intptr_t kAllTopLevelWindows = -1;

class WindowMessages {
 public:
  virtual ~WindowMessages() = default;
  // The identifier of the message registered under |name|; the same name
  // gives the same identifier every time. 0 on failure.
  virtual uint32_t RegisterWindowMessage(const std::u16string& name) = 0;
  // Sends synchronously; returns when the receivers have handled it.
  virtual intptr_t SendMessage(intptr_t hwnd, uint32_t message, uintptr_t wParam,
                               intptr_t lParam) = 0;
};

std::unique_ptr<WindowMessages> CreatePlatformWindowMessages();

}  // namespace zuvo
