// The plug-in built into the chat: one PluginServer on the POSIX stand-ins
// (registry file, in-process window messages) and one beta object. Toasts
// arrive at a top-level window of the stand-in, as they would at the
// add-on's window; message boxes are answered OK at once.
#pragma once

#include <memory>

#include "host/chat_host.h"
#include "settings/form_view.h"
#include "settings/registry_backend.h"

namespace zuvo::chat {

std::unique_ptr<ChatPlugin> CreateLocalChatPlugin(RegistryBackend& registry, FormView& formView);

}  // namespace zuvo::chat
