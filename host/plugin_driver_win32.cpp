// The Windows driver reaches the registered COM object; until it is built,
// the console says so instead of running the plug-in some other way.
#include <stdexcept>

#include "host/plugin_driver.h"

namespace zuvo {

std::unique_ptr<PluginDriver> CreatePluginDriver(RegistryBackend&, FormView*) {
  throw std::runtime_error("the console cannot reach the COM object on this platform yet");
}

}  // namespace zuvo
