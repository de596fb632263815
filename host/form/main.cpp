// zuvo-form: the local side of the plug-in in a terminal. It opens the
// registry stand-in, starts one plug-in object and reads chat commands as
// the local user would type them in a conversation ("/xroptions",
// "/xrstatus", "/xrlist *.txt"), printing what ParseCommand answers, the
// toasts the host would draw and the message boxes. "/xroptions" shows the
// options form in the terminal.
//
//   zuvo-form [--registry FILE]   (default: ./zuvo-settings.reg)
#include <cstdio>
#include <iostream>
#include <string>

#include "base/message_box.h"
#include "base/plugin_error.h"
#include "base/text.h"
#include "core/beta.h"
#include "core/plugin_server.h"
#include "core/px_plugin_const.h"
#include "core/window_messages_posix.h"
#include "files/file_system.h"
#include "host/common/command_line.h"
#include "host/common/idle_event_pump.h"
#include "host/common/settings_key.h"
#include "host/common/toast_window_posix.h"
#include "host/form/terminal_form.h"
#include "settings/registry.h"

namespace zuvo {
namespace {

class TerminalMessageBox : public MessageBoxSeam {
 public:
  void Show(const std::u16string& text, const std::u16string& title) override {
    std::cout << "[message box] " << PrintableText(title) << ": " << PrintableText(text)
              << "\n[OK] (press Enter)" << std::endl;
    std::string ignored;
    std::getline(std::cin, ignored);
  }
};

// A toast's empty title or link (a null address in its record).
std::u16string Text(const std::u16string& text) { return text.empty() ? u"(none)" : text; }

int Run(const std::string& storePath) {
  std::unique_ptr<RegistryBackend> store = OpenPlatformRegistry(storePath);
  // The host owns the plug-in's settings key and creates it.
  CreateSettingsKey(*store);

  TerminalMessageBox messageBox;
  TerminalFormView formView(std::cin, std::cout);
  InProcessWindowMessages windowMessages;
  std::unique_ptr<FileSystem> fileSystem = CreatePlatformFileSystem();
  IdleEventPump pump;
  Platform platform;
  platform.registry = store.get();
  platform.messageBox = &messageBox;
  platform.formView = &formView;
  platform.windowMessages = &windowMessages;
  platform.fileSystem = fileSystem.get();
  platform.eventPump = &pump;

  // CR separates the toast's lines.
  OpenToastWindow(windowMessages, [](const ToastSeen& toast) {
    std::cout << "[toast] " << PrintableText(Text(toast.title)) << " ("
              << PrintableText(Text(toast.link)) << ")\n";
    const std::u16string& text = toast.message;
    size_t start = 0;
    for (size_t cr; (cr = text.find(kCR, start)) != std::u16string::npos; start = cr + 1) {
      std::cout << "        " << PrintableText(text.substr(start, cr - start)) << "\n";
    }
    std::cout << "        " << PrintableText(text.substr(start)) << std::endl;
  });

  PluginServer server(platform);
  beta plugin(server);
  plugin.Initialize(0, u"", nullptr);
  std::cout << "Type a chat command (/xroptions, /xrstatus, /xron, ...) or q to quit." << std::endl;

  std::string line;
  for (;;) {
    std::cout << "zuvo-form> " << std::flush;
    if (!std::getline(std::cin, line) || line == "q") break;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    const size_t blank = line.find(' ');
    const std::u16string command = Utf8ToUtf16(line.substr(0, blank));
    const std::u16string arg =
        blank == std::string::npos ? u"" : Utf8ToUtf16(line.substr(blank + 1));
    std::u16string sResult;
    bool result = false;
    const CallStatus status =
        CallContract([&] { return plugin.ParseCommand(command, arg, nullptr, sResult); }, result);
    if (status.failed()) {
      std::printf("ParseCommand failed: 0x%08X %s\n", static_cast<unsigned>(status.code),
                  status.description.c_str());
      std::fflush(stdout);
      continue;
    }
    std::cout << "ParseCommand: " << (result ? "True" : "False") << ", sResult: ["
              << PrintableText(sResult) << "]" << std::endl;
  }
  std::cout << std::endl;
  return 0;
}

}  // namespace
}  // namespace zuvo

int main(int argc, char** argv) {
  enum { kRegistry = 256 };
  static const option kOptions[] = {{"registry", required_argument, nullptr, kRegistry},
                                    {nullptr, 0, nullptr, 0}};
  std::string storePath = zuvo::kDefaultSettingsStore;
  std::string why;
  if (!zuvo::ReadOptions(
          argc, argv, kOptions,
          [&](int, const char* value, std::string&) {
            storePath = value;
            return true;
          },
          why)) {
    return zuvo::BadCommandLine("zuvo-form", why, "zuvo-form [--registry FILE]\n");
  }
  try {
    return zuvo::Run(storePath);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zuvo-form: %s\n", e.what());
    return 1;
  }
}
