#include "host/chat/plugin_loader.h"
#include "host/form/terminal_form.h"

namespace zuvo {

LoadedPlugin LoadPlugin(RegistryBackend& registry, std::istream& formInput,
                        std::ostream& formOutput) {
  LoadedPlugin plugin;
  plugin.formView = std::make_unique<TerminalFormView>(formInput, formOutput);
  plugin.driver = CreatePluginDriver(registry, plugin.formView.get());
  return plugin;
}

}  // namespace zuvo
