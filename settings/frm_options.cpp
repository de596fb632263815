#include "settings/frm_options.h"

#include "settings/settings_store.h"

namespace zuvo {
namespace {

// A check box follows its text only for the two texts it can show.
void FollowFlag(const std::u16string& text, int& check) {
  if (text == u"1") {
    check = 1;
  } else if (text == u"0") {
    check = 0;
  }
}

std::u16string CheckText(int check) { return check ? u"1" : u"0"; }

}  // namespace

frmOptions::frmOptions(Registry& registry, FormView& view) : registry_(registry), view_(view) {
  LoadSettings();
}

void frmOptions::LoadSettings() {
  std::u16string folder = registry_.ReadValue(kSettingsKeyPath, kSharedFolderValue);
  std::u16string startOn = registry_.ReadValue(kSettingsKeyPath, kStartOnValue);
  std::u16string subFolders = registry_.ReadValue(kSettingsKeyPath, kSubFoldersValue);
  Text1 = std::move(folder);
  Text2 = std::move(startOn);
  Text3 = std::move(subFolders);
  FollowFlag(Text2, Check1);
  FollowFlag(Text3, Check2);
}

void frmOptions::SaveSettings() {
  const std::u16string folder = Text1;
  const std::u16string startOn = CheckText(Check1);
  const std::u16string subFolders = CheckText(Check2);
  registry_.WriteValue(kSettingsKeyPath, kSharedFolderValue, folder);
  registry_.WriteValue(kSettingsKeyPath, kStartOnValue, startOn);
  registry_.WriteValue(kSettingsKeyPath, kSubFoldersValue, subFolders);
  Text2 = startOn;
  Text3 = subFolders;
}

void frmOptions::ShowModal() {
  if (unloaded_) return;
  visible_ = true;
  view_.RunModal(*this);
  // A view that returns without hiding the form still ends the modal show.
  visible_ = false;
}

void frmOptions::Form_Activate() { LoadSettings(); }

void frmOptions::Command2_Click() {
  SaveSettings();
  visible_ = false;
}

void frmOptions::Command1_Click() {
  LoadSettings();
  visible_ = false;
}

void frmOptions::Command3_Click() {
  std::u16string folder = view_.BrowseForFolder(*this);
  if (!folder.empty()) Text1 = std::move(folder);
}

void frmOptions::Form_Close() {
  visible_ = false;
  unloaded_ = true;
}

}  // namespace zuvo
