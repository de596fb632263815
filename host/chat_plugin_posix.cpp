#include "host/chat_plugin.h"

#include <utility>

#include "core/beta.h"
#include "core/plugin_server.h"
#include "core/px_plugin_const.h"
#include "core/window_messages_posix.h"
#include "files/file_system.h"
#include "host/terminal_form.h"

namespace zuvo::chat {
namespace {

class RecordingMessageBox : public MessageBoxSeam {
 public:
  void Show(const std::u16string& text, const std::u16string& title) override {
    shown.push_back({text, title});
  }
  std::vector<ShownMessageBox> shown;
};

class IdlePump : public EventPump {
 public:
  void ProcessPendingEvents() override {}
};

class LocalChatPlugin : public ChatPlugin {
 public:
  LocalChatPlugin(RegistryBackend& registry, std::istream& formInput, std::ostream& formOutput)
      : formView_(formInput, formOutput), fileSystem_(CreatePlatformFileSystem()) {
    Platform platform;
    platform.registry = &registry;
    platform.messageBox = &messageBox_;
    platform.formView = &formView_;
    platform.windowMessages = &windowMessages_;
    platform.fileSystem = fileSystem_.get();
    platform.eventPump = &pump_;
    server_ = std::make_unique<PluginServer>(platform);
    object_ = std::make_unique<beta>(*server_);

    // The host's toast window copies the record while the send lasts.
    const uint32_t toastMessage = windowMessages_.RegisterWindowMessage(kToastMessageName);
    windowMessages_.CreateTopLevelWindow(
        [this, toastMessage](uint32_t message, uintptr_t wParam, intptr_t) {
          if (message != toastMessage || wParam == 0) return intptr_t{0};
          const auto* record = reinterpret_cast<const ToastRecord*>(wParam);
          auto text = [](const char16_t* p) { return p ? std::u16string(p) : std::u16string(); };
          toasts_.push_back(
              {text(record->pTitle), text(record->pMessage), text(record->pLink), record->nFlag});
          return intptr_t{1};
        });
  }

  PXPluginDef& plugin() override { return *object_; }
  std::vector<ShownToast> TakeToasts() override { return std::exchange(toasts_, {}); }
  std::vector<ShownMessageBox> TakeMessageBoxes() override {
    return std::exchange(messageBox_.shown, {});
  }

 private:
  RecordingMessageBox messageBox_;
  TerminalFormView formView_;
  InProcessWindowMessages windowMessages_;
  std::unique_ptr<FileSystem> fileSystem_;
  IdlePump pump_;
  std::unique_ptr<PluginServer> server_;
  std::unique_ptr<beta> object_;
  std::vector<ShownToast> toasts_;
};

}  // namespace

std::unique_ptr<ChatPlugin> CreateChatPlugin(RegistryBackend& registry, std::istream& formInput,
                                             std::ostream& formOutput, std::string&) {
  return std::make_unique<LocalChatPlugin>(registry, formInput, formOutput);
}

}  // namespace zuvo::chat
