#include "host/chat/chat_host.h"

#include <algorithm>
#include <cstdio>
#include <deque>

#include "base/plugin_error.h"
#include "base/text.h"
#include "host/chat/progress.h"
#include "host/common/drop_file.h"
#include "host/common/host_notice.h"
#include "host/common/notice_text.h"
#include "host/common/path_text.h"
#include "host/common/session_words.h"
#include "host/common/settings_key.h"
#include "host/common/shown_text.h"

namespace zuvo::chat {
namespace {

std::string Hex(int32_t code) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(code));
  return buf;
}

using Clock = std::chrono::steady_clock;

// The one contact of a chat, as the session knows it.
constexpr char kContact[] = "contact";

std::filesystem::path Home() {
  const char* home = std::getenv("HOME");
  if (!home) home = std::getenv("USERPROFILE");
  return home ? PathFromText(Utf8ToUtf16(home)) : std::filesystem::path();
}

}  // namespace

ChatHost::ChatHost(PluginDriver& plugin, RegistryBackend& registry, Connection& connection,
                   EventQueue& events, ChatOutput& output, std::u16string userName,
                   QueuedInput* formInput)
    : session_(plugin),
      registry_(registry),
      connection_(connection),
      events_(events),
      output_(output),
      formInput_(formInput),
      userName_(std::move(userName)) {}

bool ChatHost::Start() {
  const PluginSession::Started started = session_.Start(userName_);
  ShowRaised(started.raised);
  switch (started.failure) {
    case PluginSession::Started::Failure::kNone:
      break;
    case PluginSession::Started::Failure::kInitialize:
      Say("The plug-in did not start (Initialize: " +
          (started.status.failed() ? Hex(started.status.code) + " " + started.status.description
                                   : "False") +
          ").");
      return false;
    case PluginSession::Started::Failure::kPublish:
      Say("The plug-in did not publish its commands.");
      return false;
  }
  Say(ShownText(session_.pluginName()) +
      " is loaded: " + std::to_string(session_.commands().size()) +
      " commands (type /help to list them, /quit to leave).");
  connection_.Send(HelloMessage(userName_));
  return true;
}

int ChatHost::Run() {
  // While the contact does not read the answers already queued, its further
  // messages wait (counted by the queue, so the connection reads no more)
  // and the user's own lines and the transfers go on.
  std::deque<Event> deferred;
  auto handleDeferred = [&] {
    Event e = std::move(deferred.front());
    deferred.pop_front();
    events_.Release(e);
    return Handle(e);
  };
  for (;;) {
    if (!deferred.empty() && !connection_.outputFull()) {
      if (!handleDeferred()) return exitCode_;
      continue;
    }
    std::optional<Event> e = events_.Pop(deferred.empty() ? std::chrono::milliseconds(1000)
                                                          : std::chrono::milliseconds(50));
    if (!e) continue;
    // An offer waits behind the texts that came before it: the contact's
    // answer that lets the file in is seen first.
    const bool fromContact =
        e->type == Event::Type::kMessage || e->type == Event::Type::kFileOffered;
    if (fromContact && (!deferred.empty() || connection_.outputFull())) {
      events_.Hold(*e);
      deferred.push_back(std::move(*e));
      continue;
    }
    if (e->type == Event::Type::kClosed) {
      while (!deferred.empty()) handleDeferred();
    }
    if (!Handle(*e)) return exitCode_;
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
    Say("FAILED to send " + ShownText(transfer.name) + ": " + why + " before " +
        ShownText(contactName_) + " confirmed it.");
  }
  sending_.clear();
}

bool ChatHost::Handle(const Event& e) {
  const std::string contact = ShownText(contactName_);
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
          Say("Connected to " + ShownText(contactName_) + ".");
          return true;
        case Kind::kText:
          OnText(e.message.text);
          return true;
        case Kind::kNotice:
          for (const std::u16string& line :
               session_.HearNotice(kContact, e.message.text, contactName_)) {
            Say(ShownText(line));
          }
          return true;
        case Kind::kBye:
          // The connection ends right after; files still arriving are
          // reported before that.
          Say(contact + " left the chat.");
          return true;
        default:
          return true;
      }
    case Event::Type::kFileOffered:
      connection_.Decide(e.id, session_.AdmitOffer(kContact, e.name, e.total,
                                                   connection_.downloads(), Clock::now()));
      return true;
    case Event::Type::kIncomingStarted:
      receiving_[e.id] = {e.name, e.total, std::chrono::steady_clock::now()};
      Say(ReceivingLine(e.name, e.total, contact));
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
        // The chat's offer carries the file's SHA-256, checked at the end.
        Say(SavedFileLine(e.path, e.total, true, Home()));
      } else if (it != receiving_.end()) {
        Say(NotSavedLine(e.name, contact, e.why) + ".");
      } else {
        Say(contact + "'s host did not send a file: " + e.why + ".");
      }
      if (it != receiving_.end()) receiving_.erase(it);
      return true;
    }
    case Event::Type::kIncomingRefused:
      Say("Refused " + (e.name.empty() ? std::string("a message") : ShownText(e.name)) + " from " +
          contact + ": " + e.why + ".");
      return true;
    case Event::Type::kOutgoingStarted:
      sending_[e.id] = {e.name, e.total, std::chrono::steady_clock::now()};
      Say("Sending " + ShownText(e.name) + " to " + contact + " (" + SizeText(e.total) + ")...");
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
      Say("FAILED to send " + ShownText(e.name) + ": " + e.why + ".");
      sending_.erase(e.id);
      return true;
    case Event::Type::kOutgoingResult: {
      output_.ProgressEnd(e.id | 0x80000000u);
      auto it = sending_.find(e.id);
      const std::string name = it == sending_.end() ? "a file" : ShownText(it->second.name);
      if (e.ok) {
        Say("Sent " + name + ": " + contact + " has it, " + ShownText(e.text) + " (" +
            (it == sending_.end() ? std::string("?")
                                  : RateText(it->second.size, Seconds(it->second.start))) +
            ").");
      } else {
        Say("FAILED to send " + name + ": " + contact + "'s host answered: " + ShownText(e.text) +
            ".");
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
  if (output_.EchoTyped()) Say(ShownText(userName_) + "> " + ShownText(line));
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
  if (!session_.Publishes(word)) {
    Say("Unknown command " + ShownText(word) + "; /help lists the commands.");
    return;
  }
  const PluginSession::Typed typed =
      session_.Command(kContact, contactName_, word, arg, Clock::now());
  if (formInput_) formInput_->Requeue();
  ShowRaised(typed.raised);
  for (const std::u16string& note : typed.notes) Say(ShownText(note));
  if (typed.status.failed()) {
    Say("The command failed (error " + Hex(typed.status.code) + ": " + typed.status.description +
        ").");
    return;
  }
  if (typed.send.empty()) return;
  if (!typed.request) {
    Say("-> sent to " + ShownText(contactName_) + ": " + ShownText(typed.send));
    connection_.SendText(typed.send);
    return;
  }
  Say("Asked " + ShownText(contactName_) + ": " + typed.typed);
  connection_.SendText(typed.send);
  if (typed.echoStatus.failed()) {
    ShowFailure("could not answer", typed.echoStatus);
  } else if (typed.echoAnswered) {
    // An answer to its own request would go to the contact unasked.
    Say("   (the plug-in answered its own request; not sent)");
  }
}

void ChatHost::OnText(const std::u16string& text) {
  const PluginSession::Heard heard = session_.Hear(kContact, text, Clock::now(), contactName_);
  if (heard.kind == PluginSession::Heard::Kind::kRequest) {
    OnRequest(heard.request);
  } else if (text.starts_with(kOfferingReply) || text.starts_with(kSendingFileReply)) {
    // A listing, relative to the contact's shared folder; nothing for a
    // file on its way (the transfer's lines follow).
    std::u16string shown;
    for (const std::u16string& line : heard.lines) shown += (shown.empty() ? u"" : u"\n") + line;
    if (!shown.empty()) ShowContactText(shown, false);
  } else {
    ShowContactText(text);
  }
}

void ChatHost::OnRequest(const Notification& request) {
  Notification shown = request;
  shown.argument.resize(std::min(shown.argument.size(), kShownUnits));
  Say(ShownText(contactName_) + " asks: " + TypedRequest(shown));
  if (session_.Admit(kContact, true, request, Clock::now()).verdict !=
      RequestGate::Verdict::kAnswer) {
    return;
  }
  const PluginSession::Answered answered = session_.Answer(request, contactName_, 0);
  session_.Done(kContact, request);
  ShowRaised(answered.raised);
  if (answered.status.failed()) {
    ShowFailure("could not answer", answered.status);
  } else if (!answered.result) {
    Say("   (not a request this plug-in answers)");
  } else if (answered.text.empty() && answered.files.empty()) {
    Say("   (the plug-in gave no answer)");
  } else {
    if (!answered.text.empty()) {
      const std::vector<std::u16string> lines = SplitLines(answered.text);
      Say("-> replied to " + ShownText(contactName_) + ": " + ShownText(lines[0]) +
          (lines.size() > 1 ? " (+" + std::to_string(lines.size() - 1) + " lines)" : ""));
      // The asker's host shows a listing relative to the shared folder.
      const std::optional<RequestCode> code = FindRequestCode(request.code);
      if (code && IsListing(*code)) {
        connection_.Send(NoticeMessage(EncodeNotice(
            AnsweringNotice(request.code, StoredSharedFolder(registry_).value_or(u"")))));
      }
      connection_.SendText(answered.text);
    }
    for (const std::u16string& file : answered.files) SendDropFile(file);
  }
}

void ChatHost::ShowFailure(const std::string& what, const CallStatus& status) {
  Say("   (the plug-in " + what + ": error " + Hex(status.code) + " " + status.description +
      "; nothing was sent)");
}

void ChatHost::SendDropFile(const std::u16string& path) {
  // The plug-in checked the path as text; the host checks it beneath the
  // shared folder (a regular file, no link on the way) now, to answer at
  // once, and opens it the same way when its turn to be sent comes, sending
  // what it opened then: files waiting their turn hold no open file each.
  HostError error;
  {
    SharedFile file;
    error = OpenDropFile(registry_, path, file);
  }
  if (error.failed()) {
    Say("Refused to send " + ShownText(path) + ": " + Describe(error) + ".");
  } else if (connection_.SendSharedFile(path, StoredSharedFolder(registry_).value_or(u""),
                                        std::u16string(LastComponent(path)), error) == 0) {
    Say("FAILED to send " + ShownText(path) + ": " + Describe(error) + ".");
  } else {
    return;
  }
  // The plug-in's answer promised the file: the asker's host is told why
  // it does not come.
  connection_.Send(NoticeMessage(EncodeNotice(NotSentNotice(error.kind, path))));
}

void ChatHost::ShowContactText(const std::u16string& text, bool named) {
  // What one text may cost to show is bounded: its first kShownLines lines
  // and kShownUnits characters, then one line telling what was left out.
  const std::string who = named ? ShownText(contactName_) + ": " : "";
  const std::string indent(TextColumns(who), ' ');
  std::vector<std::string> shown;
  size_t pos = 0, budget = kShownUnits;
  bool whole = false;
  while (shown.size() < kShownLines && budget > 0) {
    // Lines end at CR, LF or CR LF, as everywhere else in the chat.
    const size_t brk = text.find_first_of(u"\r\n", pos);
    const size_t end = brk == std::u16string::npos ? text.size() : brk;
    const size_t take = std::min(end - pos, budget);
    budget -= take;
    shown.push_back((shown.empty() ? who : indent) + ShownText(text.substr(pos, take)));
    if (take < end - pos) {
      pos += take;
      break;
    }
    if (brk == std::u16string::npos) {
      whole = true;
      break;
    }
    pos = brk + (text[brk] == u'\r' && brk + 1 < text.size() && text[brk + 1] == u'\n' ? 2 : 1);
  }
  if (!whole) {
    size_t moreLines = 1;
    for (size_t i = pos; i < text.size(); ++i) {
      if (text[i] == u'\n' ||
          (text[i] == u'\r' && (i + 1 == text.size() || text[i + 1] != u'\n'))) {
        ++moreLines;
      }
    }
    shown.push_back(indent + "(" + std::to_string(text.size() - pos) + " more characters in " +
                    std::to_string(moreLines) + " more lines not shown)");
  }
  output_.Lines(shown);
}

void ChatHost::ShowHelp() {
  Say("Commands of " + ShownText(session_.pluginName()) + ":");
  for (const CommandInfo& c : session_.commands()) {
    const CommandHelp help = HelpFor(c.value, c.name, c.help);
    std::string usage = std::string("/").append(ShownText(c.value));
    if (!help.usage.empty()) usage.append(" ").append(help.usage);
    usage.resize(std::max<size_t>(usage.size(), 28), ' ');
    Say("  " + usage + help.does);
  }
  Say("  /help                       this list");
  Say("  /quit                       leave the chat");
  Say("Anything else is sent to " + ShownText(contactName_) + " as a message.");
}

void ChatHost::ShowRaised(const Raised& raised) {
  for (const ToastSeen& t : raised.toasts) {
    for (const std::string& l : ToastText(t)) Say(l);
  }
  for (const MessageBoxSeen& m : raised.messageBoxes) {
    for (const std::string& l : MessageBoxText(m)) Say(l);
  }
}

}  // namespace zuvo::chat
