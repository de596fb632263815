#include "core/plugin_server.h"

namespace zuvo {

PluginServer::PluginServer(const Platform& platform)
    : platform_(platform),
      registry_(*platform.registry, *platform.messageBox),
      files_(*platform.fileSystem, *platform.eventPump, platform.pathStyle),
      ownResolver_(platform.pathResolver ? nullptr : CreatePlatformPathResolver()),
      access_(platform.pathResolver ? *platform.pathResolver : *ownResolver_, platform.pathStyle) {}

std::shared_ptr<frmOptions> PluginServer::Holder() {
  if (!HolderLoaded()) {
    holder_.reset();  // a closed form is gone; its replacement loads afresh
    holder_ = std::make_shared<frmOptions>(registry_, *platform_.formView);
  }
  return holder_;
}

}  // namespace zuvo
