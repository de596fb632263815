// The POSIX driver: one PluginServer and one plug-in object in this process,
// on the POSIX stand-ins. The host's toast window is a top-level window of
// the in-process window messages that copies each toast record while the
// send lasts.
#include <utility>

#include "base/message_box.h"
#include "core/plugin_server.h"
#include "core/px_plugin_const.h"
#include "core/window_messages_posix.h"
#include "files/file_system.h"
#include "host/common/plugin_driver.h"
#include "host/common/scripted_form_view.h"

namespace zuvo {
namespace {

class RecordingMessageBox : public MessageBoxSeam {
 public:
  void Show(const std::u16string& text, const std::u16string& title) override {
    shown.push_back({text, title});
  }
  std::vector<MessageBoxSeen> shown;
};

// The console does not wait for window messages: nothing is pending.
class IdleEventPump : public EventPump {
 public:
  void ProcessPendingEvents() override {}
};

std::u16string TextAt(const char16_t* text) { return text ? std::u16string(text) : u""; }

class PosixPluginDriver : public PluginDriver {
 public:
  PosixPluginDriver(RegistryBackend& registry, FormView* formView)
      : fileSystem_(CreatePlatformFileSystem()),
        server_(MakePlatform(registry, formView)),
        plugin_(server_) {
    toastMessage_ = windowMessages_.RegisterWindowMessage(kToastMessageName);
    windowMessages_.CreateTopLevelWindow([this](uint32_t message, uintptr_t wParam, intptr_t) {
      if (message != toastMessage_ || wParam == 0) return intptr_t{0};
      const auto* record = reinterpret_cast<const ToastRecord*>(wParam);
      toasts_.push_back(
          {TextAt(record->pTitle), TextAt(record->pMessage), TextAt(record->pLink), record->nFlag});
      return intptr_t{1};
    });
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
    return {holder->Text1, holder->Text2, holder->Text3, holder->Check1, holder->Check2};
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
  uint32_t toastMessage_ = 0;
  std::vector<ToastSeen> toasts_;
};

}  // namespace

std::unique_ptr<PluginDriver> CreatePluginDriver(RegistryBackend& registry, FormView* formView) {
  return std::make_unique<PosixPluginDriver>(registry, formView);
}

}  // namespace zuvo
