// The options form as a libpurple request dialog (Pidgin's and Finch's own
// dialogs): the shared folder, the two switches, "Apply" and "Cancel".
// libpurple's dialogs do not block, so RunModal loads the form, opens the
// dialog and returns; the dialog's buttons then raise the form's events on
// the server's settings holder, in the plug-in's turn (plugin_worker.h).
// Nothing is stored before "Apply". The folder chooser is the UI's own
// (purple_request_folder): ticking "Choose the folder..." and pressing
// Apply opens it instead of storing, and the dialog comes back with the
// chosen folder. After "Apply" the settings notices say what is now
// stored, in the conversation where /xroptions was typed
// (settings_notices.h).
#pragma once

#include <string>

#include "settings/form_view.h"

extern "C" {
#include <conversation.h>
#include <plugin.h>
#include <request.h>
}

namespace zuvo {
class PluginServer;
class PluginWorker;
}  // namespace zuvo

namespace zuvo::purple {

class SettingsNotices;

// A text box's label as the client lays it out. Finch puts a label and its
// box side by side, both as wide as the wider of the two (the box at least
// 20 columns) and the row's spare width into the label: labels of one width
// give boxes of that width, in one column. Pidgin sets the labels in a
// column as wide as the widest beside boxes that take the rest of the
// dialog's width (its plug-in dialog is 400 pixels wide, whatever the
// content): short labels leave a path room there. So Finch gets the label
// padded to kTerminalLabelWidth columns, and the others the label itself.
inline constexpr size_t kTerminalLabelWidth = 34;
std::string FieldLabel(const std::string& label);

class PurpleFormView : public FormView {
 public:
  explicit PurpleFormView(PurplePlugin* plugin) : plugin_(plugin) {}
  ~PurpleFormView() override;

  // The server whose holder the dialog's buttons act on, and the worker
  // whose turns they take.
  void SetServer(PluginServer* server, PluginWorker* worker) {
    server_ = server;
    worker_ = worker;
  }
  // Who is told what "Apply" stored.
  void SetNotices(SettingsNotices* notices) { notices_ = notices; }
  // The conversation a command was typed in: the dialog belongs to it.
  void SetConversation(PurpleConversation* conv);

  void RunModal(frmOptions& form) override;
  // Not used: the chooser is asynchronous and is offered from the dialog.
  std::u16string BrowseForFolder(frmOptions&) override { return {}; }

 private:
  struct Shown {
    std::string folder;
    bool startOn = false;
    bool subFolders = false;
  };
  void Open(const Shown& shown);
  void Close();
  // The conversation of the last command, while it is open.
  PurpleConversation* Conversation() const;

  static void OnApply(void* data, PurpleRequestFields* fields);
  static void OnCancel(void* data, PurpleRequestFields* fields);
  static void OnFolderChosen(void* data, const char* folder);
  static void OnFolderCancelled(void* data, const char* folder);

  PurplePlugin* plugin_;
  PluginServer* server_ = nullptr;
  PluginWorker* worker_ = nullptr;
  SettingsNotices* notices_ = nullptr;
  PurpleAccount* account_ = nullptr;  // the conversation's account and contact
  std::string contact_;
  void* dialog_ = nullptr;   // the open fields dialog
  void* chooser_ = nullptr;  // the open folder chooser
  Shown pending_;            // what the dialog showed when the chooser opened
};

}  // namespace zuvo::purple
