// The options form as a libpurple request dialog (Pidgin's and Finch's own
// dialogs): the shared folder, the two switches, "Apply" and "Cancel".
// libpurple's dialogs do not block, so RunModal loads the form, opens the
// dialog and returns; the dialog's buttons then raise the form's events on
// the server's settings holder, in the plug-in's turn (plugin_worker.h).
// Nothing is stored before "Apply". The folder chooser is the UI's own
// (purple_request_folder): ticking "Choose the folder..." and pressing
// Apply opens it instead of storing, and the dialog comes back with the
// chosen folder.
#pragma once

#include <string>

#include "settings/form_view.h"

extern "C" {
#include <plugin.h>
#include <request.h>
}

namespace zuvo {
class PluginServer;
class PluginWorker;
}  // namespace zuvo

namespace zuvo::purple {

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

  static void OnApply(void* data, PurpleRequestFields* fields);
  static void OnCancel(void* data, PurpleRequestFields* fields);
  static void OnFolderChosen(void* data, const char* folder);
  static void OnFolderCancelled(void* data, const char* folder);

  PurplePlugin* plugin_;
  PluginServer* server_ = nullptr;
  PluginWorker* worker_ = nullptr;
  void* dialog_ = nullptr;   // the open fields dialog
  void* chooser_ = nullptr;  // the open folder chooser
  Shown pending_;            // what the dialog showed when the chooser opened
};

}  // namespace zuvo::purple
