// The window-message seam used for toast requests: a registered message sent
// synchronously to the top-level windows of the calling process. The Win32
// variant calls user32; the POSIX variant is an in-process stand-in for
// registered window messages (window_messages_posix).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace zuvo {

class WindowMessages {
 public:
  virtual ~WindowMessages() = default;
  // The identifier of the message registered under |name|; the same name
  // gives the same identifier every time. 0 on failure.
  virtual uint32_t RegisterWindowMessage(const std::u16string& name) = 0;
  // Sends |message| to each top-level window of this process, one after the
  // other, and returns when all of them have handled it. Windows of other
  // processes never see it: a window that stops answering there cannot
  // hold the caller, and the pointers a message carries mean nothing there.
  virtual void SendToProcessWindows(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
};

std::unique_ptr<WindowMessages> CreatePlatformWindowMessages();

}  // namespace zuvo
