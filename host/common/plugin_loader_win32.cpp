#include "host/common/plugin_loader.h"

namespace zuvo::chat {

// The COM object shows its options form in its own window.
ChatPlugin LoadChatPlugin(RegistryBackend& registry, std::istream&, std::ostream&) {
  ChatPlugin plugin;
  plugin.driver = CreatePluginDriver(registry);
  return plugin;
}

}  // namespace zuvo::chat
