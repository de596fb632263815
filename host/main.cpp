// zuvo-host: the host stand-in.
//
//   zuvo-host chat ...   one user's side of a conversation (see chat_main.h)
//   zuvo-host demo       two users and a scripted conversation
//   zuvo-host console [--registry FILE] [--create-key] [--set NAME=VALUE]...
//
// The console drives the plug-in's contract with JSON Lines on standard
// input and output (see console.h). --registry names the registry store
// (default: zuvo-registry.reg in the current folder; created empty when
// missing); --create-key creates the plug-in's settings key as the add-on
// does; each --set stores a settings value under that key first, with its
// terminating NUL, as a registry editor stores text.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "base/text.h"
#include "host/chat_main.h"
#include "host/console.h"
#include "host/plugin_driver.h"
#include "settings/registry.h"
#include "settings/settings_store.h"

namespace zuvo {
namespace {

constexpr char kUsage[] =
    "usage: zuvo-host console [--registry FILE] [--create-key] [--set NAME=VALUE]...\n"
    "       zuvo-host chat [--name NAME] [--share DIR] [--registry FILE] [--downloads DIR]\n"
    "                      (--listen [ADDR:]PORT | --connect [ADDR:]PORT)\n"
    "       zuvo-host demo\n";

struct Options {
  std::string registry = "zuvo-registry.reg";
  bool createKey = false;
  std::vector<std::pair<std::string, std::string>> values;
};

bool ParseOptions(int argc, char** argv, Options& options) {
  if (argc < 2 || std::strcmp(argv[1], "console") != 0) return false;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--registry" && i + 1 < argc) {
      options.registry = argv[++i];
    } else if (arg == "--create-key") {
      options.createKey = true;
    } else if (arg == "--set" && i + 1 < argc) {
      const std::string pair = argv[++i];
      const size_t eq = pair.find('=');
      if (eq == std::string::npos) return false;
      options.values.emplace_back(pair.substr(0, eq), pair.substr(eq + 1));
    } else {
      return false;
    }
  }
  return true;
}

// The settings key below its root, in the registry's narrow text.
std::string SettingsSubKey(RegistryBackend& registry) {
  const std::u16string path = kSettingsKeyPath;
  return registry.ToNarrow(path.substr(path.find(u'\\') + 1));
}

// Prepares the store as the add-on would. False (with a message) on failure.
bool PrepareStore(RegistryBackend& registry, const Options& options) {
  const std::string subKey = SettingsSubKey(registry);
  if (options.createKey) {
    const long status = registry.CreateKey(kHkeyLocalMachine, subKey);
    if (status != reg::kSuccess) {
      std::fprintf(stderr, "zuvo-host: cannot create the settings key (error %ld)\n", status);
      return false;
    }
  }
  for (const auto& [name, value] : options.values) {
    KeyHandle key = 0;
    long status = registry.OpenKey(kHkeyLocalMachine, subKey, KeyAccess::kWrite, key);
    if (status == reg::kSuccess) {
      std::u16string data = Utf8ToUtf16(value);
      data.push_back(u'\0');
      status = registry.SetValue(key, registry.ToNarrow(Utf8ToUtf16(name)), data);
      registry.CloseKey(key);
    }
    if (status != reg::kSuccess) {
      std::fprintf(stderr, "zuvo-host: cannot store \"%s\" (error %ld)%s\n", name.c_str(), status,
                   status == reg::kFileNotFound ? ": the settings key does not exist" : "");
      return false;
    }
  }
  return true;
}

int RunConsole(const Options& options) {
  std::unique_ptr<RegistryBackend> registry = OpenPlatformRegistry(options.registry);
  if (!PrepareStore(*registry, options)) return 1;
  std::unique_ptr<PluginDriver> driver = CreatePluginDriver(*registry);
  Console console(*driver);
  console.Run(std::cin, std::cout);
  return 0;
}

}  // namespace
}  // namespace zuvo

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "chat") return zuvo::chat::RunChat(argc - 2, argv + 2);
  if (command == "demo") return zuvo::chat::RunDemo(argc - 2, argv + 2);
  zuvo::Options options;
  if (!zuvo::ParseOptions(argc, argv, options)) {
    std::fputs(zuvo::kUsage, stderr);
    return 2;
  }
  try {
    return zuvo::RunConsole(options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zuvo-host: %s\n", e.what());
    return 1;
  }
}
