// A plug-in object on the platform's own services: the registry stand-in (a
// store file in a given folder), window messages, file system and path
// resolver, with the POSIX path style. Its message box and options form
// show nothing, and it has no pending events unless a pump is given. Shared
// by the tests and the fuzz targets, so it needs no test framework.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <utility>

#include "core/beta.h"
#include "core/plugin_server.h"

namespace zuvo {

// Sets the plug-in object's state as the other operations would.
struct BetaTestPeer {
  static BetaState& State(beta& plugin) { return plugin.state_; }
  static void SetMaxReplyChars(beta& plugin, size_t chars) { plugin.maxReplyChars_ = chars; }
};

class NullMessageBox : public MessageBoxSeam {
 public:
  void Show(const std::u16string&, const std::u16string&) override { ++shown; }
  int shown = 0;
};

class NullFormView : public FormView {
 public:
  void RunModal(frmOptions&) override {}
  std::u16string BrowseForFolder(frmOptions&) override { return {}; }
};

class NoEvents : public EventPump {
 public:
  void ProcessPendingEvents() override {}
};

struct PluginOnPlatform {
  // |fileSystem|: instead of the platform's (a wrapper of it, say).
  explicit PluginOnPlatform(const std::filesystem::path& dir, EventPump* pump = nullptr,
                            std::unique_ptr<FileSystem> fileSystem = nullptr)
      : registry(OpenPlatformRegistry((dir / "registry.txt").string())),
        windowMessages(CreatePlatformWindowMessages()),
        fileSystem(fileSystem ? std::move(fileSystem) : CreatePlatformFileSystem()) {
    Platform platform;
    platform.registry = registry.get();
    platform.messageBox = &messageBox;
    platform.formView = &formView;
    platform.windowMessages = windowMessages.get();
    platform.fileSystem = this->fileSystem.get();
    platform.eventPump = pump ? pump : &noEvents;
    platform.pathStyle = PathStyle::kPosix;
    server = std::make_unique<PluginServer>(platform);
    plugin = std::make_unique<beta>(*server);
  }

  BetaState& State() { return BetaTestPeer::State(*plugin); }

  std::unique_ptr<RegistryBackend> registry;
  NullMessageBox messageBox;
  NullFormView formView;
  std::unique_ptr<WindowMessages> windowMessages;
  std::unique_ptr<FileSystem> fileSystem;
  NoEvents noEvents;
  std::unique_ptr<PluginServer> server;
  std::unique_ptr<beta> plugin;
};

}  // namespace zuvo
