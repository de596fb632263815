#include "host/chat_host.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "base/plugin_error.h"
#include "base/text.h"
#include "host/chat_transfer.h"
#include "settings/settings_store.h"

namespace zuvo::chat {
namespace fs = std::filesystem;
namespace {

constexpr char16_t kDropFile[] = u"#/dropfile ";
// Files from this size on get a progress bar.
constexpr uint64_t kProgressFrom = 1 << 20;

// A silent message box for the host's own registry calls.
class NoMessageBox : public MessageBoxSeam {
 public:
  void Show(const std::u16string&, const std::u16string&) override {}
};

unsigned Percent(uint64_t done, uint64_t total) {
  return total == 0 ? 100 : static_cast<unsigned>(done * 100 / total);
}

std::string SizeText(uint64_t bytes) {
  char buf[64];
  if (bytes < 1024) {
    std::snprintf(buf, sizeof buf, "%llu bytes", static_cast<unsigned long long>(bytes));
  } else if (bytes < (1 << 20)) {
    std::snprintf(buf, sizeof buf, "%.1f KiB", bytes / 1024.0);
  } else {
    std::snprintf(buf, sizeof buf, "%.1f MiB", bytes / 1048576.0);
  }
  return buf;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

std::string RateText(uint64_t bytes, double seconds) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f s, %.1f MiB/s", seconds,
                seconds > 0 ? bytes / 1048576.0 / seconds : 0.0);
  return buf;
}

std::string Bar(unsigned percent, uint64_t done, uint64_t total, const std::u16string& name) {
  constexpr unsigned kWidth = 30;
  const unsigned filled = percent * kWidth / 100;
  std::string bar = "[" + std::string(filled, '#') + std::string(kWidth - filled, '-') + "] ";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%3u%% ", percent);
  return bar + buf + SizeText(done) + " of " + SizeText(total) + "  " + PrintableText(name);
}

std::string Hex(int32_t code) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(code));
  return buf;
}

size_t Columns(const std::string& utf8) {
  size_t n = 0;
  for (unsigned char c : utf8) n += (c & 0xC0) != 0x80;
  return n;
}

// Splits at CR, LF or CR LF.
std::vector<std::u16string> Lines(const std::u16string& text) {
  std::vector<std::u16string> lines(1);
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == kCR || c == kLF) {
      if (c == kCR && i + 1 < text.size() && text[i + 1] == kLF) ++i;
      lines.emplace_back();
    } else {
      lines.back() += c;
    }
  }
  return lines;
}

// A framed notice: the title in the top edge, then the lines.
std::vector<std::string> Framed(const std::string& title, const std::vector<std::string>& lines,
                                char edge) {
  size_t width = title.empty() ? 0 : Columns(title) + 4;
  for (const std::string& l : lines) width = std::max(width, Columns(l) + 2);
  width = std::max<size_t>(width, 24);
  std::vector<std::string> out;
  std::string top = "+" + std::string(1, edge);
  if (!title.empty()) top += " " + title + " ";
  top += std::string(width + 1 - Columns(top), edge) + "+";
  out.push_back(top);
  for (const std::string& l : lines) {
    out.push_back("| " + l + std::string(width - 1 - Columns(l), ' ') + "|");
  }
  out.push_back("+" + std::string(width, edge) + "+");
  return out;
}

}  // namespace

void QueuedInput::Requeue() {
  if (!deferred_.empty()) events_.PushFront(std::move(deferred_));
  deferred_.clear();
}

QueuedInput::int_type QueuedInput::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  while (!ended_) {
    std::optional<Event> e = events_.Pop(std::chrono::milliseconds(500));
    if (!e) continue;
    if (e->type == Event::Type::kLine) {
      line_ = Utf16ToUtf8(e->text) + "\n";
      setg(line_.data(), line_.data(), line_.data() + line_.size());
      return traits_type::to_int_type(*gptr());
    }
    // The end of the input ends the form too, and the chat after it.
    if (e->type == Event::Type::kInputEnd) ended_ = true;
    deferred_.push_back(std::move(*e));
  }
  return traits_type::eof();
}

void TerminalOutput::ClearStatus() {
  if (terminal_ && !status_.empty()) std::fputs("\r\x1b[K", stdout);
}

void TerminalOutput::Line(const std::string& text) {
  ClearStatus();
  std::fputs(text.c_str(), stdout);
  std::fputc('\n', stdout);
  if (terminal_ && !status_.empty()) std::fputs(status_.c_str(), stdout);
  std::fflush(stdout);
}

void TerminalOutput::Progress(uint32_t key, const std::string& text, unsigned percent) {
  if (terminal_) {
    ClearStatus();
    status_ = text;
    std::fputs(status_.c_str(), stdout);
    std::fflush(stdout);
    return;
  }
  unsigned& shown = quarters_[key];
  if (percent / 25 > shown) {
    shown = percent / 25;
    Line(text);
  }
}

void TerminalOutput::ProgressEnd(uint32_t key) {
  quarters_.erase(key);
  ClearStatus();
  status_.clear();
  std::fflush(stdout);
}

std::string PrepareSettings(RegistryBackend& backend, const ChatSettings& settings) {
  NoMessageBox box;
  Registry registry(backend, box);
  const Registry::KeyPath key = registry.SplitKeyPath(kSettingsKeyPath);
  std::string done;
  KeyHandle handle = 0;
  if (backend.OpenKey(key.root, backend.ToNarrow(key.subKey), KeyAccess::kRead, handle) ==
      reg::kSuccess) {
    backend.CloseKey(handle);
  } else {
    backend.CreateKey(key.root, backend.ToNarrow(key.subKey));
    done += "created the settings key; ";
  }
  auto missing = [&](const char16_t* name) {
    return registry.ReadValue(kSettingsKeyPath, name) == u"Error";
  };
  if (settings.sharedFolder && missing(kSharedFolderValue)) {
    registry.WriteValue(kSettingsKeyPath, kSharedFolderValue, *settings.sharedFolder);
    done += "stored the shared folder; ";
  }
  for (const char16_t* name : {kStartOnValue, kSubFoldersValue}) {
    if (missing(name)) {
      registry.WriteValue(kSettingsKeyPath, name, u"1");
      done += "stored \"" + Utf16ToUtf8(name) + "\" = 1; ";
    }
  }
  return done;
}

std::u16string StoredSharedFolder(RegistryBackend& backend) {
  NoMessageBox box;
  Registry registry(backend, box);
  return registry.ReadValue(kSettingsKeyPath, kSharedFolderValue);
}

namespace {

class NoEventPump final : public EventPump {
 public:
  void ProcessPendingEvents() override {}
};

}  // namespace

bool OpenInsideSharedFolder(std::u16string_view path, std::u16string_view sharedFolder,
                            SharedFile& file, std::string& why) {
  if (sharedFolder.empty()) {
    why = "no shared folder is set";
    return false;
  }
  const std::unique_ptr<FileSystem> fileSystem = CreatePlatformFileSystem();
  const std::unique_ptr<PathResolver> resolver = CreatePlatformPathResolver();
  NoEventPump pump;
  DirRecurse files(*fileSystem, pump, NativePathStyle());
  const PathAccess access(*resolver, NativePathStyle());
  switch (OpenSharedFile(files, access, sharedFolder, path, file)) {
    case FsStatus::kOk:
      return true;
    case FsStatus::kBadPath:
      why = "it is outside the shared folder";
      return false;
    case FsStatus::kNotFound:
      why = "no such file (or not a file), or the shared folder is not an existing folder";
      return false;
    case FsStatus::kAccessDenied:
      why = "permission denied";
      return false;
    default:
      why = "it cannot be read";
      return false;
  }
}

bool InsideSharedFolder(const fs::path& path, const fs::path& sharedFolder, std::string& why) {
  SharedFile file;
  return OpenInsideSharedFolder(TextFromPath(path), TextFromPath(sharedFolder), file, why);
}

ChatHost::ChatHost(PluginDriver& plugin, RegistryBackend& registry, Connection& connection,
                   EventQueue& events, ChatOutput& output, std::u16string userName,
                   QueuedInput* formInput)
    : plugin_(plugin),
      registry_(registry),
      connection_(connection),
      events_(events),
      output_(output),
      formInput_(formInput),
      userName_(std::move(userName)) {}

bool ChatHost::Start() {
  PXPluginDef& p = plugin_.plugin();
  bool ok = false;
  CallStatus status = CallContract([&] { return p.Initialize(1, userName_, nullptr); }, ok);
  ShowRaised();
  if (status.failed() || !ok) {
    Say("The plug-in did not start (Initialize: " +
        (status.failed() ? Hex(status.code) + " " + status.description : "False") + ").");
    return false;
  }
  int32_t count = 0, tags = 0;
  status = CallContract([&] { return p.GetPublishInfo(pluginName_, count, tags); }, ok);
  if (status.failed() || !ok) {
    Say("The plug-in did not publish its commands.");
    return false;
  }
  for (int32_t i = 1; i <= count && i <= 1000; ++i) {
    CommandInfo c;
    Variant v;
    if (CallContract([&] { return p.GetPublishCommandInfo(i, c.name, c.value, c.help); }, v)
            .failed() ||
        c.value.empty()) {
      continue;
    }
    commands_.push_back(std::move(c));
  }
  Say(PrintableText(pluginName_) + " is loaded: " + std::to_string(commands_.size()) +
      " commands (type /help to list them, /quit to leave).");
  connection_.Send(HelloMessage(userName_));
  return true;
}

int ChatHost::Run() {
  for (;;) {
    std::optional<Event> e = events_.Pop(std::chrono::seconds(1));
    if (e && !Handle(*e)) return exitCode_;
  }
}

bool ChatHost::Quit() {
  connection_.Close(true);
  // The connection's threads have ended; what they reported last is shown.
  while (std::optional<Event> e = events_.TryPop()) {
    if (e->type == Event::Type::kIncomingDone || e->type == Event::Type::kOutgoingFailed ||
        e->type == Event::Type::kOutgoingResult) {
      Handle(*e);
    }
  }
  ReportUnfinished("you left the chat before it arrived");
  Say("You left the chat.");
  return false;
}

void ChatHost::ReportUnfinished(const std::string& why) {
  for (const auto& [id, transfer] : sending_) {
    output_.ProgressEnd(id | 0x80000000u);
    Say("FAILED to send " + PrintableText(transfer.name) + ": " + why + " before " +
        PrintableText(contactName_) + " confirmed it.");
  }
  sending_.clear();
}

bool ChatHost::Handle(const Event& e) {
  const std::string contact = PrintableText(contactName_);
  switch (e.type) {
    case Event::Type::kLine:
      if (e.text == u"/quit") return Quit();
      OnTyped(e.text);
      return true;
    case Event::Type::kInputEnd:
      return Quit();
    case Event::Type::kMessage:
      switch (e.message.kind) {
        case Kind::kHello:
          // A name is a name: one line of reasonable length.
          contactName_ = e.message.text.substr(0, 64);
          if (contactName_.empty()) contactName_ = u"contact";
          Say("Connected to " + PrintableText(contactName_) + ".");
          return true;
        case Kind::kText:
          OnText(e.message.text);
          return true;
        case Kind::kBye:
          // The connection ends right after; files still arriving are
          // reported before that.
          Say(contact + " left the chat.");
          return true;
        default:
          return true;
      }
    case Event::Type::kIncomingStarted:
      receiving_[e.id] = {e.name, e.total, std::chrono::steady_clock::now()};
      Say("Receiving " + PrintableText(e.name) + " from " + contact + " (" + SizeText(e.total) +
          ")...");
      return true;
    case Event::Type::kIncomingProgress:
      if (e.total >= kProgressFrom) {
        output_.Progress(e.id, "<- " + Bar(Percent(e.done, e.total), e.done, e.total, e.name),
                         Percent(e.done, e.total));
      }
      return true;
    case Event::Type::kIncomingDone: {
      output_.ProgressEnd(e.id);
      auto it = receiving_.find(e.id);
      if (e.ok && it != receiving_.end()) {
        Say("Received " + PrintableText(e.name) + " from " + contact + ": saved as " +
            PrintableText(TextFromPath(e.path)) + " (" + SizeText(e.total) +
            ", SHA-256 verified, " + RateText(e.total, Seconds(it->second.start)) + ").");
      } else if (it != receiving_.end()) {
        Say("FAILED to receive " + PrintableText(e.name) + " from " + contact + ": " + e.why +
            ". Nothing was saved.");
      } else {
        Say(contact + "'s host did not send a file: " + e.why + ".");
      }
      if (it != receiving_.end()) receiving_.erase(it);
      return true;
    }
    case Event::Type::kIncomingRefused:
      Say("Refused " + (e.name.empty() ? std::string("a message") : PrintableText(e.name)) +
          " from " + contact + ": " + e.why + ".");
      return true;
    case Event::Type::kOutgoingStarted:
      sending_[e.id] = {e.name, e.total, std::chrono::steady_clock::now()};
      Say("Sending " + PrintableText(e.name) + " to " + contact + " (" + SizeText(e.total) +
          ")...");
      return true;
    case Event::Type::kOutgoingProgress:
      if (e.total >= kProgressFrom) {
        output_.Progress(e.id | 0x80000000u,
                         "-> " + Bar(Percent(e.done, e.total), e.done, e.total, e.name),
                         Percent(e.done, e.total));
      }
      return true;
    case Event::Type::kOutgoingFailed:
      output_.ProgressEnd(e.id | 0x80000000u);
      Say("FAILED to send " + PrintableText(e.name) + ": " + e.why + ".");
      sending_.erase(e.id);
      return true;
    case Event::Type::kOutgoingResult: {
      output_.ProgressEnd(e.id | 0x80000000u);
      auto it = sending_.find(e.id);
      const std::string name = it == sending_.end() ? "a file" : PrintableText(it->second.name);
      if (e.ok) {
        Say("Sent " + name + ": " + contact + " has it, " + PrintableText(e.text) + " (" +
            (it == sending_.end() ? std::string("?")
                                  : RateText(it->second.size, Seconds(it->second.start))) +
            ").");
      } else {
        Say("FAILED to send " + name + ": " + contact +
            "'s host answered: " + PrintableText(e.text) + ".");
      }
      if (it != sending_.end()) sending_.erase(it);
      return true;
    }
    case Event::Type::kClosed:
      ReportUnfinished(e.ok ? contact + " left the chat before it arrived"
                            : "the connection was lost");
      if (!e.ok) {
        Say("The connection to " + contact + " was lost (" + e.why + "). The chat has ended.");
        exitCode_ = 1;
      }
      connection_.Close(false);
      return false;
  }
  return true;
}

void ChatHost::OnTyped(const std::u16string& line) {
  if (line.empty()) return;
  if (output_.EchoTyped()) Say(PrintableText(userName_) + "> " + PrintableText(line));
  if (line == u"/help") {
    ShowHelp();
    return;
  }
  if (line[0] != u'/') {
    connection_.SendText(line);
    return;
  }
  // A published command: the word as typed, and the rest of the line after
  // one blank as its argument.
  const size_t blank = line.find(u' ');
  const std::u16string word = line.substr(0, blank);
  const std::u16string arg = blank == std::u16string::npos ? u"" : line.substr(blank + 1);
  const bool published = std::any_of(commands_.begin(), commands_.end(), [&](const CommandInfo& c) {
    return EqualsIgnoreCase(word, u"/" + c.value);
  });
  if (!published) {
    Say("Unknown command " + PrintableText(word) + "; /help lists the commands.");
    return;
  }
  std::u16string sResult;
  bool result = false;
  const CallStatus status = CallContract(
      [&] { return plugin_.plugin().ParseCommand(word, arg, nullptr, sResult); }, result);
  if (formInput_) formInput_->Requeue();
  ShowRaised();
  if (status.failed()) {
    Say("The command failed (error " + Hex(status.code) + ": " + status.description + ").");
    return;
  }
  if (!result || sResult.empty()) return;
  if (sResult[0] != kMarker) {
    Say("-> sent to " + PrintableText(contactName_) + ": " + PrintableText(sResult));
    connection_.SendText(sResult);
    return;
  }
  const std::u16string code = sResult.substr(1, 5);
  const std::u16string rest = sResult.size() > 6 ? sResult.substr(6) : u"";
  Say("-> request sent to " + PrintableText(contactName_) + ": " + PrintableText(code) +
      (rest.empty() ? "" : " " + PrintableText(rest)));
  // The file asked for may arrive from now on.
  if (EqualsIgnoreCase(code, u"rfile")) connection_.ExpectFile();
  connection_.SendText(sResult);
  // The add-on hands a notification to both plug-ins of the conversation;
  // the sender's own copy is what its plug-in takes as the echo.
  OnNotification(sResult, true);
}

void ChatHost::OnText(const std::u16string& text) {
  if (!text.empty() && text[0] == kMarker) {
    OnNotification(text, false);
  } else {
    ShowContactText(text);
  }
}

void ChatHost::OnNotification(const std::u16string& text, bool echo) {
  const std::u16string code = text.substr(1, 5);
  const std::u16string arg = text.size() > 6 ? text.substr(6) : u"";
  if (!echo) {
    Say(PrintableText(contactName_) + " asks: " + PrintableText(code) +
        (arg.empty() ? "" : " " + PrintableText(arg)));
  }
  std::u16string reply;
  bool result = false;
  const CallStatus status = CallContract(
      [&] { return plugin_.plugin().ReceiveNotify(code, arg, contactName_, nullptr, reply); },
      result);
  ShowRaised();
  if (status.failed()) {
    Say("   (the plug-in could not answer: error " + Hex(status.code) + " " + status.description +
        "; nothing was sent)");
    return;
  }
  if (echo) {
    // The plug-in takes its own request back without answering; an answer
    // to it would go to the contact unasked, so it is never sent.
    if (!reply.empty()) Say("   (the plug-in answered its own request; not sent)");
    return;
  }
  if (!result) {
    Say("   (not a request this plug-in answers)");
  } else if (reply.empty()) {
    Say("   (the plug-in gave no answer)");
  } else {
    SendReply(reply);
  }
}

void ChatHost::SendReply(const std::u16string& reply) {
  // Lines (LF) that read "#/dropfile " + path are commands to this host;
  // the rest is the text for the contact.
  std::u16string text;
  std::vector<std::u16string> files;
  size_t start = 0;
  for (;;) {
    const size_t lf = reply.find(kLF, start);
    const std::u16string line = reply.substr(start, lf == std::u16string::npos ? lf : lf - start);
    if (line.compare(0, std::size(kDropFile) - 1, kDropFile) == 0) {
      files.push_back(line.substr(std::size(kDropFile) - 1));
    } else {
      if (!text.empty()) text += kLF;
      text += line;
    }
    if (lf == std::u16string::npos) break;
    start = lf + 1;
  }
  if (!text.empty()) {
    const std::vector<std::u16string> lines = Lines(text);
    Say("-> replied to " + PrintableText(contactName_) + ": " + PrintableText(lines[0]) +
        (lines.size() > 1 ? " (+" + std::to_string(lines.size() - 1) + " lines)" : ""));
    connection_.SendText(text);
  }
  for (const std::u16string& file : files) SendDropFile(file);
}

void ChatHost::SendDropFile(const std::u16string& path) {
  // The plug-in checked the path as text; the host opens it beneath the
  // shared folder (a regular file, no link on the way) and sends what it
  // opened, never the path opened again.
  std::string why;
  const std::u16string share = StoredSharedFolder(registry_);
  SharedFile file;
  if (share == u"Error" || !OpenInsideSharedFolder(path, share, file, why)) {
    if (why.empty()) why = "no shared folder is set";
    Say("Refused to send " + PrintableText(path) + ": " + why + ".");
    connection_.Send(AbortMessage(0, u"the file was not sent: " + Utf8ToUtf16(why)));
    return;
  }
  if (connection_.SendFile(file, TextFromPath(PathFromText(path).filename()), why) == 0) {
    Say("FAILED to send " + PrintableText(path) + ": " + why + ".");
    connection_.Send(AbortMessage(0, u"the file was not sent: " + Utf8ToUtf16(why)));
  }
}

void ChatHost::ShowContactText(const std::u16string& text) {
  const std::vector<std::u16string> lines = Lines(text);
  const std::string who = PrintableText(contactName_) + ": ";
  const std::string indent(Columns(who), ' ');
  std::vector<std::string> shown{who + PrintableText(lines[0])};
  for (size_t i = 1; i < lines.size(); ++i) shown.push_back(indent + PrintableText(lines[i]));
  output_.Lines(shown);
}

void ChatHost::ShowHelp() {
  Say("Commands of " + PrintableText(pluginName_) + ":");
  for (const CommandInfo& c : commands_) {
    std::string usage = "/";
    usage += PrintableText(c.value);
    if (!c.help.empty()) {
      usage += " <";
      usage += PrintableText(c.help);
      usage += '>';
    }
    usage.resize(std::max<size_t>(usage.size(), 28), ' ');
    Say("  " + usage + PrintableText(c.name));
  }
  Say("  /help                       this list");
  Say("  /quit                       leave the chat");
  Say("Anything else is sent to " + PrintableText(contactName_) + " as a message.");
}

void ChatHost::ShowRaised() {
  for (const ToastSeen& t : plugin_.TakeToasts()) {
    std::vector<std::string> lines;
    for (const std::u16string& l : Lines(t.message)) lines.push_back(PrintableText(l));
    if (!t.link.empty()) lines.push_back("<" + PrintableText(t.link) + ">");
    for (const std::string& l : Framed(PrintableText(t.title), lines, '-')) Say(l);
  }
  for (const MessageBoxSeen& m : plugin_.TakeMessageBoxes()) {
    std::vector<std::string> lines;
    for (const std::u16string& l : Lines(m.text)) lines.push_back(PrintableText(l));
    lines.push_back("[ OK ]");
    for (const std::string& l : Framed(PrintableText(m.title), lines, '=')) Say(l);
  }
}

}  // namespace zuvo::chat
