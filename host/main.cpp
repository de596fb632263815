// zuvo-host: the host stand-in.
//
//   zuvo-host chat ...      one user's side of a conversation (chat/chat_main.h)
//   zuvo-host demo          two users and a scripted conversation
//   zuvo-host console ...   the plug-in's contract in JSON Lines (console/console_main.h)
#include <cstdio>
#include <string>

#include "host/chat/chat_main.h"
#include "host/console/console_main.h"

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "chat") return zuvo::chat::RunChat(argc - 1, argv + 1);
  if (command == "demo") return zuvo::chat::RunDemo(argc - 1, argv + 1);
  if (command == "console") return zuvo::RunConsole(argc - 1, argv + 1);
  std::fprintf(stderr, "usage: %s       %s       %s", zuvo::kConsoleSynopsis,
               zuvo::chat::kChatSynopsis, zuvo::chat::kDemoSynopsis);
  return 2;
}
