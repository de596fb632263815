// The plug-in as the chat loads it. POSIX (chat_plugin_posix.cpp): one
// PluginServer on the POSIX stand-ins (registry file, in-process window
// messages) and one beta object; toasts arrive at a top-level window of the
// stand-in, as they would at the add-on's window; message boxes are
// answered OK at once; the options form is shown in the terminal, reading
// |formInput|. Windows (chat_plugin_win32.cpp): not available yet.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>

#include "host/chat_host.h"
#include "settings/registry_backend.h"

namespace zuvo::chat {

// nullptr with |why| when the plug-in cannot be loaded.
std::unique_ptr<ChatPlugin> CreateChatPlugin(RegistryBackend& registry, std::istream& formInput,
                                             std::ostream& formOutput, std::string& why);

}  // namespace zuvo::chat
