// The chat of the host stand-in: one user's side of a conversation. It does
// for the plug-in what the add-on does: starts it and reads its command
// table, hands it the commands the user types and the notifications the
// contact sends, sends what it answers, carries out its "#/dropfile " lines
// and shows its toasts and message boxes. Everything here runs on one
// thread (the plug-in's apartment); the connection's threads only post
// events to it.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/px_plugin_def.h"
#include "host/chat/connection.h"
#include "host/chat/queued_input.h"
#include "host/chat/terminal_output.h"
#include "host/common/plugin_driver.h"
#include "settings/registry_backend.h"

namespace zuvo::chat {

struct CommandInfo {
  std::u16string name;   // "Request File"
  std::u16string value;  // "xrfile"
  std::u16string help;   // "File Path", empty when the row has none
};

// The most of one contact's text that is shown.
inline constexpr size_t kShownLines = 200;
inline constexpr size_t kShownUnits = 16 * 1024;

class ChatHost {
 public:
  ChatHost(PluginDriver& plugin, RegistryBackend& registry, Connection& connection,
           EventQueue& events, ChatOutput& output, std::u16string userName,
           QueuedInput* formInput = nullptr);

  // Starts the plug-in (Initialize, the publish operations) and greets the
  // contact. False when the plug-in cannot be started.
  bool Start();
  // Handles events until the conversation ends; the exit status: 0 after a
  // goodbye from either side, 1 when the connection broke.
  int Run();
  // Handles one event; false once the conversation is over.
  bool Handle(const Event& event);

 private:
  void OnTyped(const std::u16string& line);
  void OnText(const std::u16string& text);
  void OnNotification(const std::u16string& text, bool echo);
  void SendReply(const std::u16string& reply);
  void SendDropFile(const std::u16string& path);
  void ShowHelp();
  void ShowRaised();
  void ShowContactText(const std::u16string& text);
  void Say(const std::string& line) { output_.Line(line); }
  bool Quit();
  // Reports the files sent that the contact has not confirmed.
  void ReportUnfinished(const std::string& why);

  PluginDriver& plugin_;
  RegistryBackend& registry_;
  Connection& connection_;
  EventQueue& events_;
  ChatOutput& output_;
  QueuedInput* formInput_;
  std::u16string userName_;
  std::u16string contactName_ = u"contact";
  std::u16string pluginName_;
  std::vector<CommandInfo> commands_;
  int exitCode_ = 0;

  struct Transfer {
    std::u16string name;
    uint64_t size = 0;
    std::chrono::steady_clock::time_point start;
  };
  std::map<uint32_t, Transfer> sending_;
  std::map<uint32_t, Transfer> receiving_;
};

}  // namespace zuvo::chat
