// The Windows message box: MessageBoxW with an OK button and no icon, owned
// by the thread's active window so that it is modal to the host's window.
#pragma once

#include "base/message_box.h"

namespace zuvo {

class Win32MessageBox : public MessageBoxSeam {
 public:
  void Show(const std::u16string& text, const std::u16string& title) override;
};

}  // namespace zuvo
