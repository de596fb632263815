#include "host/common/scripted_form_view.h"

#include "settings/frm_options.h"

namespace zuvo {

void ScriptedFormView::RunModal(frmOptions& form) {
  std::vector<FormAction> actions = std::move(actions_);
  actions_.clear();
  form.Form_Activate();
  for (const FormAction& action : actions) {
    if (!form.visible() || form.unloaded()) break;
    switch (action.kind) {
      case FormAction::Kind::kSetText:
        if (action.control == u"Text1") form.Text1 = action.text;
        if (action.control == u"Text2") form.Text2 = action.text;
        if (action.control == u"Text3") form.Text3 = action.text;
        break;
      case FormAction::Kind::kSetCheck:
        if (action.control == u"Check1") form.Check1 = action.check;
        if (action.control == u"Check2") form.Check2 = action.check;
        break;
      case FormAction::Kind::kClick:
        if (action.control == u"Apply") {
          form.Command2_Click();
        } else if (action.control == u"Cancel") {
          form.Command1_Click();
        } else if (action.control == u"...") {
          browseAnswer_ = action.browse.value_or(u"");
          form.Command3_Click();
        } else if (action.control == u"Close") {
          form.Form_Close();
        }
        break;
    }
  }
  if (form.visible() && !form.unloaded()) form.Form_Close();
}

std::u16string ScriptedFormView::BrowseForFolder(frmOptions&) {
  std::u16string answer = std::move(browseAnswer_);
  browseAnswer_.clear();
  return answer;
}

}  // namespace zuvo
