// The chat of the host stand-in: one user's side of a conversation. It does
// for the plug-in what the add-on does: starts it and reads its command
// table, hands it the commands the user types and the notifications the
// contact sends, sends what it answers, carries out its "#/dropfile " lines
// and shows its toasts and message boxes. Everything here runs on one
// thread (the plug-in's apartment); the connection's threads only post
// events to it.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <streambuf>
#include <string>
#include <vector>

#include "core/px_plugin_def.h"
#include "files/shared_file.h"
#include "host/chat_connection.h"
#include "host/plugin_driver.h"
#include "settings/registry.h"

namespace zuvo::chat {

// Standard input for a modal form while the chat runs: the user's typed
// lines come from the chat's event queue; every other event that arrives
// meanwhile waits until the form is closed (Requeue puts them back).
class QueuedInput : public std::streambuf {
 public:
  explicit QueuedInput(EventQueue& events) : events_(events) {}
  // Puts the events set aside while the form read its input back at the
  // front of the queue.
  void Requeue();

 protected:
  int_type underflow() override;

 private:
  EventQueue& events_;
  std::vector<Event> deferred_;
  std::string line_;
  bool ended_ = false;
};

// Where the chat shows things: whole lines, and a progress line per
// transfer that is redrawn in place where the output allows it.
class ChatOutput {
 public:
  virtual ~ChatOutput() = default;
  virtual void Line(const std::string& text) = 0;
  // Lines that belong together (one message of the contact).
  virtual void Lines(const std::vector<std::string>& lines) {
    for (const std::string& l : lines) Line(l);
  }
  virtual void Progress(uint32_t key, const std::string& text, unsigned percent) = 0;
  virtual void ProgressEnd(uint32_t key) = 0;
  // Whether the user's own lines are shown again (they are not on a
  // terminal, which shows them as they are typed).
  virtual bool EchoTyped() const = 0;
};

// Lines on standard output; progress bars redrawn on the last line of a
// terminal, or printed every 25% otherwise.
class TerminalOutput : public ChatOutput {
 public:
  explicit TerminalOutput(bool terminal) : terminal_(terminal) {}
  void Line(const std::string& text) override;
  void Progress(uint32_t key, const std::string& text, unsigned percent) override;
  void ProgressEnd(uint32_t key) override;
  bool EchoTyped() const override { return !terminal_; }

 private:
  void ClearStatus();
  bool terminal_;
  std::string status_;  // the bar currently drawn
  std::map<uint32_t, unsigned> quarters_;
};

struct CommandInfo {
  std::u16string name;   // "Request File"
  std::u16string value;  // "xrfile"
  std::u16string help;   // "File Path", empty when the row has none
};

// The settings key and values of the plug-in, as the host writes them.
struct ChatSettings {
  std::optional<std::u16string> sharedFolder;  // stored unless one is stored already
};

// Prepares the plug-in's settings key in |registry|: creates it when
// missing and stores the shared folder and the two switches ("1") when
// they are missing. Returns a line describing what was done.
std::string PrepareSettings(RegistryBackend& registry, const ChatSettings& settings);

// The shared folder the host will send files from: the stored "Shared
// Folder" value.
std::u16string StoredSharedFolder(RegistryBackend& registry);

// Opens |path| for sending when it names a regular file inside
// |sharedFolder| (files/shared_file.h: judged by the access rules, opened
// beneath the shared folder, no link on the way); |why| says why not.
bool OpenInsideSharedFolder(std::u16string_view path, std::u16string_view sharedFolder,
                            SharedFile& file, std::string& why);
// The same check, the file closed again.
bool InsideSharedFolder(const std::filesystem::path& path,
                        const std::filesystem::path& sharedFolder, std::string& why);

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

  const std::vector<CommandInfo>& commands() const { return commands_; }
  const std::u16string& contactName() const { return contactName_; }

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
