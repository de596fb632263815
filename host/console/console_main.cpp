// zuvo-host console [--registry FILE] [--create-key] [--set NAME=VALUE]...
//
// The console drives the plug-in's contract with JSON Lines on standard
// input and output (see console.h). --registry names the registry store
// (default: zuvo-settings.reg in the current folder; created empty when
// missing); --create-key creates the plug-in's settings key as the add-on
// does; each --set stores a settings value under that key first, with its
// terminating NUL, as a registry editor stores text.
#include "host/console/console_main.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "host/common/command_line.h"
#include "host/common/plugin_driver.h"
#include "host/common/settings_key.h"
#include "host/console/console.h"
#include "settings/registry.h"

namespace zuvo {
namespace {

constexpr char kUsageDetails[] =
    "  --registry FILE     the settings store (default: ./zuvo-settings.reg)\n"
    "  --create-key        create the plug-in's settings key first\n"
    "  --set NAME=VALUE    store a settings value under the key first\n";

struct Options {
  std::string registry = kDefaultSettingsStore;
  bool createKey = false;
  std::vector<std::pair<std::string, std::string>> values;
};

bool Parse(int argc, char** argv, Options& options, std::string& why) {
  enum { kRegistry = 256, kCreateKey, kSet };
  static const option kOptions[] = {{"registry", required_argument, nullptr, kRegistry},
                                    {"create-key", no_argument, nullptr, kCreateKey},
                                    {"set", required_argument, nullptr, kSet},
                                    {nullptr, 0, nullptr, 0}};
  return ReadOptions(
      argc, argv, kOptions,
      [&](int id, const char* value, std::string& bad) {
        if (id == kRegistry) {
          options.registry = value;
        } else if (id == kCreateKey) {
          options.createKey = true;
        } else {
          const std::string pair = value;
          const size_t eq = pair.find('=');
          if (eq == std::string::npos) {
            bad = "--set " + pair + " needs NAME=VALUE";
            return false;
          }
          options.values.emplace_back(pair.substr(0, eq), pair.substr(eq + 1));
        }
        return true;
      },
      why);
}

// Prepares the store as the add-on would. False (with a message) on failure.
bool PrepareStore(RegistryBackend& registry, const Options& options) {
  if (options.createKey) {
    const long status = CreateSettingsKey(registry);
    if (status != reg::kSuccess) {
      std::fprintf(stderr, "zuvo-host: cannot create the settings key (error %ld)\n", status);
      return false;
    }
  }
  for (const auto& [name, value] : options.values) {
    const long status = StoreSettingsText(registry, name, value);
    if (status != reg::kSuccess) {
      std::fprintf(stderr, "zuvo-host: cannot store \"%s\" (error %ld)%s\n", name.c_str(), status,
                   status == reg::kFileNotFound ? ": the settings key does not exist" : "");
      return false;
    }
  }
  return true;
}

}  // namespace

int RunConsole(int argc, char** argv) {
  Options options;
  std::string why;
  if (!Parse(argc, argv, options, why)) {
    return BadCommandLine("zuvo-host console", why, kConsoleSynopsis, kUsageDetails);
  }
  try {
    std::unique_ptr<RegistryBackend> registry = OpenPlatformRegistry(options.registry);
    if (!PrepareStore(*registry, options)) return 1;
    std::unique_ptr<PluginDriver> driver = CreatePluginDriver(*registry);
    Console console(*driver);
    console.Run(std::cin, std::cout);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zuvo-host: %s\n", e.what());
    return 1;
  }
}

}  // namespace zuvo
