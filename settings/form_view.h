// The view seam of the options form. The form (frmOptions) is the model and
// the live settings holder; a view shows it modally and turns the user's
// actions into the form's events. Variants: the Win32 dialog window, the
// terminal form of the host stand-in, and the console's scripted view.
#pragma once

#include <string>

namespace zuvo {

class frmOptions;

class FormView {
 public:
  virtual ~FormView() = default;

  // Shows |form| modally and returns once the form is hidden or unloaded.
  // The view raises the form's events (Form_Activate when shown, the button
  // clicks, Form_Close for the window's close command) and shows the form's
  // current texts and check states.
  virtual void RunModal(frmOptions& form) = 0;

  // The platform's folder browser: the chosen folder's file-system path, or
  // the empty text when the user cancels or picks no file-system folder.
  virtual std::u16string BrowseForFolder(frmOptions& form) = 0;
};

}  // namespace zuvo
