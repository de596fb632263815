#include "host/common/plugin_driver_posix.h"

#include <utility>

#include "host/common/toast_window_posix.h"

namespace zuvo {

InProcessPluginDriver::InProcessPluginDriver(RegistryBackend& registry, FormView* formView)
    : fileSystem_(CreatePlatformFileSystem()),
      server_(MakePlatform(registry, formView)),
      plugin_(server_) {
  // Requests are answered from the host's own callbacks or from its
  // worker thread (plugin_worker.h), so the listing's event pump runs
  // nothing: it never enters a main loop, least of all from the worker.
  // Toasts are kept until the call that raised them returns.
  OpenToastWindow(windowMessages_,
                  [this](ToastSeen toast) { toasts_.push_back(std::move(toast)); });
}

void InProcessPluginDriver::SetFormActions(std::vector<FormAction> actions) {
  formView_.SetActions(std::move(actions));
}

std::vector<ToastSeen> InProcessPluginDriver::TakeToasts() { return std::exchange(toasts_, {}); }

std::vector<MessageBoxSeen> InProcessPluginDriver::TakeMessageBoxes() {
  return std::exchange(messageBox_.shown, {});
}

HolderFields InProcessPluginDriver::ReadHolder() {
  std::shared_ptr<frmOptions> holder = server_.Holder();
  return {holder->SharedFolder(), holder->StartOn(), holder->SubFolders(), holder->Check1,
          holder->Check2};
}

Platform InProcessPluginDriver::MakePlatform(RegistryBackend& registry, FormView* formView) {
  Platform platform;
  platform.registry = &registry;
  platform.messageBox = &messageBox_;
  platform.formView = formView ? formView : &formView_;
  platform.windowMessages = &windowMessages_;
  platform.fileSystem = fileSystem_.get();
  platform.eventPump = &eventPump_;
  return platform;
}

std::unique_ptr<PluginDriver> CreatePluginDriver(RegistryBackend& registry, FormView* formView) {
  return std::make_unique<InProcessPluginDriver>(registry, formView);
}

}  // namespace zuvo
