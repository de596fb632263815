// The POSIX stand-in for registered window messages: one instance plays the
// window system of one process. Names registered with it get stable
// identifiers, and a message sent to the process's windows reaches every
// window the host created with it, synchronously, in creation order.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "core/window_messages.h"

namespace zuvo {

class InProcessWindowMessages : public WindowMessages {
 public:
  using WindowProc = std::function<intptr_t(uint32_t message, uintptr_t wParam, intptr_t lParam)>;

  uint32_t RegisterWindowMessage(const std::u16string& name) override;
  void SendToProcessWindows(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

  // A top-level window whose procedure receives the messages sent to the
  // process's windows. Returns its handle.
  intptr_t CreateTopLevelWindow(WindowProc proc);
  void DestroyWindow(intptr_t hwnd);

 private:
  std::map<std::u16string, uint32_t> registered_;
  std::map<intptr_t, WindowProc> windows_;
  intptr_t nextWindow_ = 0x10000;
};

}  // namespace zuvo
