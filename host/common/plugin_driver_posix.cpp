// The POSIX driver: one PluginServer and one plug-in object in this process,
// on the POSIX stand-ins. The host's toast window is a top-level window of
// the in-process window messages that copies each toast record while the
// send lasts.
#include <utility>

#include "base/message_box.h"
#include "core/plugin_server.h"
#include "core/window_messages_posix.h"
#include "files/file_system.h"
#include "host/common/idle_event_pump.h"
#include "host/common/plugin_driver.h"
#include "host/common/scripted_form_view.h"
#include "host/common/toast_window_posix.h"

namespace zuvo {
namespace {

class RecordingMessageBox : public MessageBoxSeam {
 public:
  void Show(const std::u16string& text, const std::u16string& title) override {
    shown.push_back({text, title});
  }
  std::vector<MessageBoxSeen> shown;
};

class PosixPluginDriver : public PluginDriver {
 public:
  PosixPluginDriver(RegistryBackend& registry, FormView* formView)
      : fileSystem_(CreatePlatformFileSystem()),
        server_(MakePlatform(registry, formView)),
        plugin_(server_) {
    OpenToastWindow(windowMessages_,
                    [this](ToastSeen toast) { toasts_.push_back(std::move(toast)); });
  }

  PXPluginDef& plugin() override { return plugin_; }
  void SetFormActions(std::vector<FormAction> actions) override {
    formView_.SetActions(std::move(actions));
  }
  std::vector<ToastSeen> TakeToasts() override { return std::exchange(toasts_, {}); }
  std::vector<MessageBoxSeen> TakeMessageBoxes() override {
    return std::exchange(messageBox_.shown, {});
  }
  std::optional<BetaState> State() override { return plugin_.state(); }
  HolderFields ReadHolder() override {
    std::shared_ptr<frmOptions> holder = server_.Holder();
    return {holder->SharedFolder(), holder->StartOn(), holder->SubFolders(), holder->Check1,
            holder->Check2};
  }

 private:
  Platform MakePlatform(RegistryBackend& registry, FormView* formView) {
    Platform platform;
    platform.registry = &registry;
    platform.messageBox = &messageBox_;
    platform.formView = formView ? formView : &formView_;
    platform.windowMessages = &windowMessages_;
    platform.fileSystem = fileSystem_.get();
    platform.eventPump = &eventPump_;
    return platform;
  }

  RecordingMessageBox messageBox_;
  ScriptedFormView formView_;
  InProcessWindowMessages windowMessages_;
  std::unique_ptr<FileSystem> fileSystem_;
  IdleEventPump eventPump_;
  PluginServer server_;
  beta plugin_;
  std::vector<ToastSeen> toasts_;
};

}  // namespace

std::unique_ptr<PluginDriver> CreatePluginDriver(RegistryBackend& registry, FormView* formView) {
  return std::make_unique<PosixPluginDriver>(registry, formView);
}

}  // namespace zuvo
