// The options window on Windows: a dialog-framed top-level window laid out
// from the form's design (twips converted at 15 per pixel), shown modally
// with its own message loop, and the shell's folder browser.
#pragma once

#include "settings/form_view.h"

namespace zuvo {

class Win32FormView : public FormView {
 public:
  void RunModal(frmOptions& form) override;
  std::u16string BrowseForFolder(frmOptions& form) override;
};

}  // namespace zuvo
