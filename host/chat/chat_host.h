// The chat of the host stand-in: one user's side of a conversation, glue
// between the chat's events and the plug-in session (host/common): it
// hands the session the lines the user types and the texts the contact
// sends, sends what the session says to send, sends the files the plug-in
// names, judges the files offered by the session's rule, and shows it all
// in the terminal. Everything here runs on one thread (the plug-in's
// apartment); the connection's threads only post events to it.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/chat/connection.h"
#include "host/chat/queued_input.h"
#include "host/chat/terminal_output.h"
#include "host/common/plugin_driver.h"
#include "host/common/plugin_session.h"
#include "settings/registry_backend.h"

namespace zuvo::chat {

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
  void OnRequest(const Notification& request);
  void SendDropFile(const std::u16string& path);
  void ShowHelp();
  void ShowRaised(const Raised& raised);
  void ShowFailure(const std::string& what, const CallStatus& status);
  // |named|: the first line after the contact's name, as a message.
  void ShowContactText(const std::u16string& text, bool named = true);
  void Say(const std::string& line) { output_.Line(line); }
  bool Quit();
  // Reports the files sent that the contact has not confirmed.
  void ReportUnfinished(const std::string& why);

  PluginSession session_;
  RegistryBackend& registry_;
  Connection& connection_;
  EventQueue& events_;
  ChatOutput& output_;
  QueuedInput* formInput_;
  std::u16string userName_;
  std::u16string contactName_ = u"contact";
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
