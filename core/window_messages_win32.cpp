// Registered window messages through user32.
//
// A toast goes to the top-level windows of this process only, not to
// HWND_BROADCAST: a broadcast waits for every top-level window on the
// desktop, so one window of another program that stops reading its messages
// held the host inside the call, and it handed the record's address, a
// pointer into this process, to every program. The windows are found with
// EnumWindows and GetWindowThreadProcessId: one pass over the desktop's
// top-level windows, which sends nothing to them, and needs no snapshot of
// the process's threads (EnumThreadWindows would need one per thread).
// Like a broadcast, this reaches hidden and disabled top-level windows but
// not message-only windows (HWND_MESSAGE): EnumWindows does not list them,
// and the add-on's window, which has always received the broadcast, cannot
// be one.
#include <windows.h>

#include <vector>
// The seam's method names are also user32's A/W-switching macros.
#undef RegisterWindowMessage

#include "core/window_messages.h"

namespace zuvo {
namespace {

BOOL CALLBACK CollectProcessWindow(HWND window, LPARAM param) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == GetCurrentProcessId())
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
  return TRUE;
}

class Win32WindowMessages : public WindowMessages {
 public:
  uint32_t RegisterWindowMessage(const std::u16string& name) override {
    return RegisterWindowMessageW(reinterpret_cast<const wchar_t*>(name.c_str()));
  }

  void SendToProcessWindows(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    // Collected first: a receiver may create or destroy windows.
    std::vector<HWND> windows;
    EnumWindows(CollectProcessWindow, reinterpret_cast<LPARAM>(&windows));
    for (HWND window : windows) {
      if (IsWindow(window)) SendMessageW(window, message, wParam, lParam);
    }
  }
};

}  // namespace

std::unique_ptr<WindowMessages> CreatePlatformWindowMessages() {
  return std::make_unique<Win32WindowMessages>();
}

}  // namespace zuvo
