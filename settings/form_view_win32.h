// The options window on Windows: a dialog-framed top-level window laid out
// from the form's design (twips converted at 15 per pixel), shown modally
// with its own message loop, and the shell's folder browser. The window
// exists while the form is shown; the form object (frmOptions) is the model
// and keeps the texts while it is hidden.
//
// The pictures come from the module that holds this code (the server DLL
// embeds settings/resources/frm_options.rc).
#pragma once

#include <windows.h>

#include "settings/form_view.h"

namespace zuvo {

// Control identifiers, for the form's own code and for tests that find the
// controls in the window.
namespace form_ids {
inline constexpr int kText1 = 101, kText2 = 102, kText3 = 103;
inline constexpr int kCheck1 = 111, kCheck2 = 112;
inline constexpr int kCommand1 = 121, kCommand2 = 122, kCommand3 = 123;
inline constexpr int kFrame1 = 130;
inline constexpr int kLabel1 = 141;  // Label1 .. Label10 are 141 .. 150
inline constexpr int kImage1 = 161, kImage2 = 162;
}  // namespace form_ids

inline constexpr wchar_t kFormCaption[] = L"Zuvo File Sharing - Preferences";

class Win32FormView : public FormView {
 public:
  void RunModal(frmOptions& form) override;
  std::u16string BrowseForFolder(frmOptions& form) override;

 private:
  HWND window_ = nullptr;  // the form's window while it is shown
};

}  // namespace zuvo
