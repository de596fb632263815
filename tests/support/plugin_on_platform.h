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
#include "host/common/idle_event_pump.h"

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

using NoEvents = IdleEventPump;

// The one plug-in server of the tests, fuzz targets and benchmarks: each
// service |fakes| leaves null is a default one: a registry store file in
// |dir|, the silent message box and options form, no pending events, the
// platform's window messages and file system (or |ownFileSystem|, kept here).
struct PluginOnPlatform {
  PluginOnPlatform(const std::filesystem::path& dir, Platform fakes,
                   std::unique_ptr<FileSystem> ownFileSystem = nullptr)
      : fileSystem(std::move(ownFileSystem)) {
    if (!fakes.registry) {
      registry = OpenPlatformRegistry((dir / "registry.txt").string());
      fakes.registry = registry.get();
    }
    if (!fakes.messageBox) fakes.messageBox = &messageBox;
    if (!fakes.formView) fakes.formView = &formView;
    if (!fakes.windowMessages) {
      windowMessages = CreatePlatformWindowMessages();
      fakes.windowMessages = windowMessages.get();
    }
    if (!fakes.fileSystem) {
      if (!fileSystem) fileSystem = CreatePlatformFileSystem();
      fakes.fileSystem = fileSystem.get();
    }
    if (!fakes.eventPump) fakes.eventPump = &noEvents;
    server = std::make_unique<PluginServer>(fakes);
    plugin = std::make_unique<beta>(*server);
  }

  // With the POSIX path style, |pump| and |fileSystem| (a wrapper of the
  // platform's, say) instead of the defaults.
  explicit PluginOnPlatform(const std::filesystem::path& dir, EventPump* pump = nullptr,
                            std::unique_ptr<FileSystem> fileSystem = nullptr)
      : PluginOnPlatform(dir, PosixFakes(pump), std::move(fileSystem)) {}

  BetaState& State() { return BetaTestPeer::State(*plugin); }

  std::unique_ptr<RegistryBackend> registry;
  NullMessageBox messageBox;
  NullFormView formView;
  std::unique_ptr<WindowMessages> windowMessages;
  std::unique_ptr<FileSystem> fileSystem;
  NoEvents noEvents;
  std::unique_ptr<PluginServer> server;
  std::unique_ptr<beta> plugin;

 private:
  static Platform PosixFakes(EventPump* pump) {
    Platform fakes;
    fakes.eventPump = pump;
    fakes.pathStyle = PathStyle::kPosix;
    return fakes;
  }
};

}  // namespace zuvo
