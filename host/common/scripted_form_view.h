// The console's view of the options form: instead of a person, a list of
// actions set before the call that shows the form.
#pragma once

#include <vector>

#include "host/common/plugin_driver.h"
#include "settings/form_view.h"

namespace zuvo {

class ScriptedFormView : public FormView {
 public:
  // Replaces the actions; they are used by the next showing only.
  void SetActions(std::vector<FormAction> actions) { actions_ = std::move(actions); }

  // Activates the form, runs the actions until one hides or closes it, and
  // closes the window when they leave it shown.
  void RunModal(frmOptions& form) override;
  std::u16string BrowseForFolder(frmOptions& form) override;

 private:
  std::vector<FormAction> actions_;
  std::u16string browseAnswer_;
};

}  // namespace zuvo
