#include "files/event_pump_win32.h"

#include <windows.h>

namespace zuvo {

// One pass over the queue. A window that keeps posting to itself while its
// messages are handled cannot hold the caller here: the pass ends after a
// bounded number of messages, and the rest wait for the next pause.
void Win32EventPump::ProcessPendingEvents() {
  constexpr int kMaxMessagesPerPass = 256;
  MSG msg;
  for (int i = 0; i < kMaxMessagesPerPass && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
    if (msg.message == WM_QUIT) {
      // The quit request belongs to the host's own message loop.
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

}  // namespace zuvo
