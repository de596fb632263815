#include "settings/form_view_win32.h"

#include <windows.h>

#include "settings/frm_options.h"

namespace zuvo {

void Win32FormView::RunModal(frmOptions& form) { form.Form_Activate(); }

std::u16string Win32FormView::BrowseForFolder(frmOptions&) { return {}; }

}  // namespace zuvo
