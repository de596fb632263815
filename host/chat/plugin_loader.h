// The plug-in as a host loads it: the platform's driver (in-process on
// POSIX, the COM object on Windows). Where the plug-in runs in-process its
// options form is shown in the terminal, reading the user's lines from
// |formInput|.
#pragma once

#include <iosfwd>
#include <memory>

#include "host/common/plugin_driver.h"
#include "settings/form_view.h"
#include "settings/registry_backend.h"

namespace zuvo {

struct LoadedPlugin {
  std::unique_ptr<FormView> formView;  // declared first: it outlives the driver
  std::unique_ptr<PluginDriver> driver;
};

// Throws std::runtime_error when the plug-in cannot be loaded.
LoadedPlugin LoadPlugin(RegistryBackend& registry, std::istream& formInput,
                        std::ostream& formOutput);

}  // namespace zuvo
