#include "host/chat/plugin_loader.h"

namespace zuvo {

// The COM object shows its options form in its own window.
LoadedPlugin LoadPlugin(RegistryBackend& registry, std::istream&, std::ostream&) {
  LoadedPlugin plugin;
  plugin.driver = CreatePluginDriver(registry);
  return plugin;
}

}  // namespace zuvo
