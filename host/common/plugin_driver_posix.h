// The POSIX driver: one PluginServer and one plug-in object in this process,
// on the POSIX stand-ins. The host's toast window is a top-level window of
// the in-process window messages that copies each toast record while the
// send lasts; message boxes are recorded and answered OK at once. A host
// that runs the plug-in in its own process and acts on its settings holder
// (the libpurple plug-in: its options dialog, its preference changes) holds
// this driver itself for its server.
#pragma once

#include <memory>
#include <vector>

#include "base/message_box.h"
#include "core/plugin_server.h"
#include "core/window_messages_posix.h"
#include "files/file_system.h"
#include "host/common/idle_event_pump.h"
#include "host/common/plugin_driver.h"
#include "host/common/scripted_form_view.h"

namespace zuvo {

class InProcessPluginDriver : public PluginDriver {
 public:
  // |formView|, when given, shows the options form instead of the scripted
  // view; the caller keeps it alive.
  InProcessPluginDriver(RegistryBackend& registry, FormView* formView);

  PXPluginDef& plugin() override { return plugin_; }
  void SetFormActions(std::vector<FormAction> actions) override;
  std::vector<ToastSeen> TakeToasts() override;
  std::vector<MessageBoxSeen> TakeMessageBoxes() override;
  std::optional<BetaState> State() override { return plugin_.state(); }
  // Whether sharing is on now. Only local commands change that state, so a
  // caller on the host's own thread may read it while another thread runs
  // a request (which reads it, and writes other fields).
  bool SharingOn() const { return plugin_.state().sSharingOn == u"1"; }
  HolderFields ReadHolder() override;

  PluginServer& server() { return server_; }

 private:
  class RecordingMessageBox : public MessageBoxSeam {
   public:
    void Show(const std::u16string& text, const std::u16string& title) override {
      shown.push_back({text, title});
    }
    std::vector<MessageBoxSeen> shown;
  };

  Platform MakePlatform(RegistryBackend& registry, FormView* formView);

  RecordingMessageBox messageBox_;
  ScriptedFormView formView_;
  InProcessWindowMessages windowMessages_;
  std::unique_ptr<FileSystem> fileSystem_;
  IdleEventPump eventPump_;
  PluginServer server_;
  beta plugin_;
  std::vector<ToastSeen> toasts_;
};

}  // namespace zuvo
