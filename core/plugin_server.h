// PluginServer: what one loaded server holds for all its objects. It owns
// the settings holder (the one shared frmOptions), created and loaded on
// first use and loaded afresh after its window has been closed, and it gives
// the plug-in objects their platform services. The COM module owns one
// server; tests and the console create as many fresh ones as they need.
#pragma once

#include <memory>

#include "base/message_box.h"
#include "core/window_messages.h"
#include "files/dir_recurse.h"
#include "files/path_access.h"
#include "files/path_resolver.h"
#include "settings/form_view.h"
#include "settings/frm_options.h"
#include "settings/registry.h"

namespace zuvo {

// The platform services a server uses. The caller keeps them alive for the
// server's lifetime.
struct Platform {
  RegistryBackend* registry = nullptr;
  MessageBoxSeam* messageBox = nullptr;
  FormView* formView = nullptr;
  WindowMessages* windowMessages = nullptr;
  FileSystem* fileSystem = nullptr;
  EventPump* eventPump = nullptr;
  PathResolver* pathResolver = nullptr;  // none: the platform's own
  PathStyle pathStyle = NativePathStyle();
};

class PluginServer {
 public:
  explicit PluginServer(const Platform& platform);
  PluginServer(const PluginServer&) = delete;
  PluginServer& operator=(const PluginServer&) = delete;

  // The settings holder. The first use creates the form, which loads the
  // settings; after the form's window has been closed the next use creates
  // and loads a new one. Callers that keep the form across a call that may
  // close it (the modal show) hold the returned pointer.
  std::shared_ptr<frmOptions> Holder();
  bool HolderLoaded() const { return holder_ && !holder_->unloaded(); }

  Registry& registry() { return registry_; }
  DirRecurse& files() { return files_; }
  const PathAccess& access() const { return access_; }
  MessageBoxSeam& messageBox() { return *platform_.messageBox; }
  WindowMessages& windowMessages() { return *platform_.windowMessages; }

 private:
  Platform platform_;
  Registry registry_;
  DirRecurse files_;
  std::unique_ptr<PathResolver> ownResolver_;
  PathAccess access_;
  std::shared_ptr<frmOptions> holder_;
};

}  // namespace zuvo
