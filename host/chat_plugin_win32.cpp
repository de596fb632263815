#include "host/chat_plugin.h"

namespace zuvo::chat {

std::unique_ptr<ChatPlugin> CreateChatPlugin(RegistryBackend&, std::istream&, std::ostream&,
                                             std::string& why) {
  why = "the chat does not load the COM server yet on Windows";
  return nullptr;
}

}  // namespace zuvo::chat
