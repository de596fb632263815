#include "host/chat/chat_main.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>

#include "base/text.h"
#include "host/chat/chat_host.h"
#include "host/chat/plugin_loader.h"
#include "host/chat/terminal.h"
#include "host/common/command_line.h"
#include "host/common/path_text.h"
#include "host/common/settings_key.h"

namespace zuvo::chat {
namespace fs = std::filesystem;
namespace {

constexpr char kUsageDetails[] =
    "  --name NAME       your name as the other user sees it (default: $USER)\n"
    "  --share DIR       the folder to share, stored as the plug-in's \"Shared Folder\"\n"
    "                    unless the settings store already has one\n"
    "  --registry FILE   the settings store (default: ./zuvo-settings.reg)\n"
    "  --downloads DIR   where received files go (default: ./zuvo-downloads)\n"
    "  --listen PORT     wait for the other user (loopback unless ADDR is given;\n"
    "                    port 0 picks a free one)\n"
    "  --connect PORT    join the other user's chat\n";

struct Options {
  std::string name;
  std::optional<std::string> share;
  std::string registry = kDefaultSettingsStore;
  std::string downloads = "zuvo-downloads";
  std::optional<std::string> listen;
  std::optional<std::string> connect;
};

bool Parse(int argc, char** argv, Options& o, std::string& why) {
  const char* user = std::getenv("USER");
  o.name = user && *user ? user : "me";
  enum { kName = 256, kShare, kRegistry, kDownloads, kListen, kConnect };
  static const option kOptions[] = {{"name", required_argument, nullptr, kName},
                                    {"share", required_argument, nullptr, kShare},
                                    {"registry", required_argument, nullptr, kRegistry},
                                    {"downloads", required_argument, nullptr, kDownloads},
                                    {"listen", required_argument, nullptr, kListen},
                                    {"connect", required_argument, nullptr, kConnect},
                                    {nullptr, 0, nullptr, 0}};
  const bool read = ReadOptions(
      argc, argv, kOptions,
      [&](int id, const char* value, std::string&) {
        switch (id) {
          case kName:
            o.name = value;
            break;
          case kShare:
            o.share = value;
            break;
          case kRegistry:
            o.registry = value;
            break;
          case kDownloads:
            o.downloads = value;
            break;
          case kListen:
            o.listen = value;
            break;
          case kConnect:
            o.connect = value;
            break;
        }
        return true;
      },
      why);
  if (!read) return false;
  if (o.listen.has_value() == o.connect.has_value()) {
    why = "give either --listen or --connect";
    return false;
  }
  return true;
}

std::unique_ptr<StreamSocket> Open(const Options& o, std::string& why) {
  Endpoint endpoint;
  if (!ParseEndpoint(o.listen ? *o.listen : *o.connect, endpoint, why)) return nullptr;
  if (o.listen) {
    std::unique_ptr<Listener> listener = Listen(endpoint, why);
    if (!listener) return nullptr;
    std::printf("Waiting for the other user on %s ...\n", EndpointText(listener->local()).c_str());
    std::fflush(stdout);
    return listener->Accept(why);
  }
  // The other user may not be listening yet: try for a while.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (;;) {
    std::unique_ptr<StreamSocket> socket = Connect(endpoint, why);
    if (socket || std::chrono::steady_clock::now() > deadline) return socket;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
}

}  // namespace

int RunChat(int argc, char** argv) {
  Options o;
  std::string why;
  if (!Parse(argc, argv, o, why)) {
    return BadCommandLine("zuvo-host chat", why, kChatSynopsis, kUsageDetails);
  }
  std::error_code ec;
  fs::create_directories(o.downloads, ec);
  if (!fs::is_directory(o.downloads, ec)) {
    std::fprintf(stderr, "zuvo-host chat: cannot use %s as the downloads folder\n",
                 o.downloads.c_str());
    return 2;
  }
  std::unique_ptr<RegistryBackend> store;
  try {
    store = OpenPlatformRegistry(o.registry);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zuvo-host chat: the settings store %s cannot be used: %s\n",
                 o.registry.c_str(), e.what());
    return 2;
  }
  HostSettings settings;
  if (o.share) {
    fs::path share = fs::absolute(*o.share, ec);
    if (fs::exists(share, ec)) share = fs::canonical(share, ec);
    settings.sharedFolder = TextFromPath(share);
  }
  const std::string prepared = PrepareSettings(*store, settings);
  std::printf("Settings in %s%s%s\n", o.registry.c_str(), prepared.empty() ? "" : ": ",
              prepared.c_str());
  std::printf("Shared folder: %s\n",
              PrintableText(StoredSharedFolder(*store).value_or(u"(cannot be read)")).c_str());

  std::unique_ptr<StreamSocket> socket = Open(o, why);
  if (!socket) {
    std::fprintf(stderr, "zuvo-host chat: %s\n", why.c_str());
    return 1;
  }

  int code;
  {
    // The input thread outlives this scope (see below), and so does its queue.
    static EventQueue events;
    QueuedInput formInputBuffer(events);
    std::istream formInput(&formInputBuffer);
    LoadedPlugin plugin;
    try {
      plugin = LoadPlugin(*store, formInput, std::cout);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "zuvo-host chat: %s\n", e.what());
      return 1;
    }
    Connection connection(std::move(socket), events, o.downloads);
    TerminalOutput output(StdoutIsTerminal());
    ChatHost host(*plugin.driver, *store, connection, events, output, Utf8ToUtf16(o.name),
                  &formInputBuffer);
    // An interrupt ends the chat as /quit does: a transfer still arriving
    // is cut off and its partial file removed.
    OnInterrupt([] { events.Push(Event::InputEnd()); });
    connection.Start();
    if (!host.Start()) return 1;

    // The user's lines; this thread may stay blocked in a read when the
    // chat ends, so it is left to the end of the process.
    std::thread([] {
      std::string line;
      while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        events.Push(Event::Line(Utf8ToUtf16(line)));
      }
      events.Push(Event::InputEnd());
    }).detach();
    code = host.Run();
  }
  std::fflush(stdout);
  std::_Exit(code);
}

}  // namespace zuvo::chat
