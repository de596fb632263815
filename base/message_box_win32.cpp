#include "base/message_box_win32.h"

#include <windows.h>

namespace zuvo {

void Win32MessageBox::Show(const std::u16string& text, const std::u16string& title) {
  MessageBoxW(GetActiveWindow(), reinterpret_cast<const wchar_t*>(text.c_str()),
              reinterpret_cast<const wchar_t*>(title.c_str()), MB_OK);
}

}  // namespace zuvo
