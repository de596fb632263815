// frmOptions: the options form and, at the same time, the live settings
// holder. Text1, Text2 and Text3 hold the "Shared Folder", "Start On" and
// "Sub Folders" values that the rest of the plug-in reads, by the names
// SharedFolder(), StartOn() and SubFolders(); Check1 and Check2 show the two
// switches. Creating the form is loading it, which runs
// LoadSettings. One instance belongs to the server (PluginServer::Holder).
#pragma once

#include <string>

#include "settings/form_view.h"
#include "settings/registry.h"

namespace zuvo {

class frmOptions {
 public:
  // Loads the form: LoadSettings replaces the design-time texts.
  frmOptions(Registry& registry, FormView& view);

  frmOptions(const frmOptions&) = delete;
  frmOptions& operator=(const frmOptions&) = delete;

  // Controls that carry state. Check states are 0 (unchecked) or 1.
  std::u16string Text1 = u"C:\\";  // "Shared Folder"
  std::u16string Text2 = u"1";     // "Start On"
  std::u16string Text3 = u"1";     // "Sub Folders"
  int Check1 = 0;                  // "Start with Zuvo File Sharing Turned on"
  int Check2 = 0;                  // "Include Sub Folders"

  // The three settings by name, for the code that reads and sets them; the
  // controls above keep the form's own names.
  std::u16string& SharedFolder() { return Text1; }
  std::u16string& StartOn() { return Text2; }
  std::u16string& SubFolders() { return Text3; }

  void LoadSettings();
  void SaveSettings();

  // Shows the form modally (with no owner form); returns when it is hidden
  // or closed.
  void ShowModal();

  // Events, raised by the view.
  void Form_Activate();   // each time the form is shown: LoadSettings
  void Command2_Click();  // "Apply": SaveSettings, then hide
  void Command1_Click();  // "Cancel": LoadSettings, then hide
  void Command3_Click();  // "...": browse; a non-empty result goes into Text1
  void Form_Close();      // the window's close command: unload, store nothing

  bool visible() const { return visible_; }
  // True once the window's close command has unloaded the form; the server
  // then creates and loads a fresh form on the next use.
  bool unloaded() const { return unloaded_; }

 private:
  Registry& registry_;
  FormView& view_;
  bool visible_ = false;
  bool unloaded_ = false;
};

}  // namespace zuvo
