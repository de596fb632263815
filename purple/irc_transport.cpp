// IRC: pieces as CTCP (wire_carriers.h), written beside libpurple's own
// queue and paced by a LinePacer per connection.
//
// libpurple 2.14.9 and later queue every line a plug-in sends (the
// protocol's send_raw, serv_send_im) and write one every
// "ratelimit-interval" seconds (default 2) after the connection was idle,
// a burst of up to "ratelimit-burst" (default 5); an interval of 0 turns
// that off, and the queue is then written out once a second. A long reply
// in that queue would hold the user's lines back for minutes, and written
// unpaced it floods the server. So the plug-in writes its pieces itself,
// through the protocol's irc_priority_send (libpurple's way past its queue,
// used for PONG; on older versions send_raw writes at once), and paces
// them: every line written on the connection, the user's included (signal
// "irc-sending-text"), uses the pacer's budget.
//
// Each direct write restarts libpurple's interval, so with its pacing on
// the queue would wait for the plug-in to stop. The plug-in therefore
// pauses when the user sends a message on the connection until libpurple
// has written it (or its interval and tick have passed), and every
// kYieldEvery of lines waiting without a break pauses for libpurple's queued
// lines.
//
// Received lines are read before libpurple parses them (signal
// "irc-receiving-text"); a piece, or a CTCP error reply to one, is taken
// there and libpurple is handed an empty line, so nothing of it is shown.
#include <glib.h>
#include <gmodule.h>

#include <map>

#include "purple/line_pacer.h"
#include "purple/transport.h"
#include "purple/wire_carriers.h"

extern "C" {
#include <connection.h>
#include <conversation.h>
#include <debug.h>
#include <prpl.h>
#include <signals.h>
}

namespace zuvo::purple {
namespace {

using Clock = std::chrono::steady_clock;

// After this long writing without a pause, pause for libpurple's queue.
constexpr auto kYieldEvery = std::chrono::seconds(15);
// libpurple writes its queue on a one-second tick, and judges its interval
// in whole seconds: a line it queued is out within interval + 2 s.
constexpr auto kQueueSlack = std::chrono::milliseconds(2200);

// What libpurple parses instead of a line the plug-in took.
char g_emptyLine[] = "";

class IrcTransport : public Transport {
 public:
  IrcTransport(PurplePlugin* prpl, TransportSink& sink) : prpl_(prpl), sink_(sink) {
    gpointer symbol = nullptr;
    if (prpl_->handle &&
        g_module_symbol(static_cast<GModule*>(prpl_->handle), "irc_priority_send", &symbol)) {
      prioritySend_ = reinterpret_cast<PrioritySend>(symbol);
    }
    // Last, so that what other plug-ins see of the line is what came.
    purple_signal_connect_priority(prpl_, "irc-receiving-text", this,
                                   PURPLE_CALLBACK(OnReceivingText), this,
                                   PURPLE_SIGNAL_PRIORITY_HIGHEST);
    purple_signal_connect(prpl_, "irc-sending-text", this, PURPLE_CALLBACK(OnSendingText), this);
    void* conversations = purple_conversations_get_handle();
    purple_signal_connect(conversations, "sending-im-msg", this, PURPLE_CALLBACK(OnSendingIm),
                          this);
    purple_signal_connect(conversations, "sending-chat-msg", this, PURPLE_CALLBACK(OnSendingChat),
                          this);
    purple_signal_connect(purple_connections_get_handle(), "signed-off", this,
                          PURPLE_CALLBACK(OnSignedOff), this);
  }

  ~IrcTransport() override {
    purple_signals_disconnect_by_handle(this);
    for (auto& [account, connection] : connections_) {
      if (connection.timer) g_source_remove(connection.timer);
    }
  }

  bool Send(PurpleAccount* account, const std::string& who, FrameKind kind,
            std::string_view message, bool answer) override {
    if (!purple_account_is_connected(account)) return false;
    std::vector<std::string> lines;
    for (const std::string& piece : EncodePieceTexts(kind, message, NewFrameId(), kIrcPieceBytes))
      lines.push_back(CtcpLine(answer, who, piece));
    Connection& connection = ConnectionOf(account);
    if (connection.pacer.empty()) connection.busySince = Clock::now();
    if (!connection.pacer.Add(who, std::move(lines))) {
      purple_debug_warning("zuvo-file-sharing",
                           "too much waits to be sent to %s; a frame dropped\n", who.c_str());
      return false;
    }
    Pump(account);
    return true;
  }

  std::chrono::seconds AnswerLimit() const override { return std::chrono::seconds(20); }

 private:
  using PrioritySend = int (*)(void* irc, const char* line);

  struct Connection {
    explicit Connection(Clock::time_point now) : pacer(now) {}
    LinePacer pacer;
    guint timer = 0;
    Clock::time_point due = Clock::time_point::max();
    Clock::time_point busySince{};  // since when lines have waited without a break
    std::string awaitedLine;        // the start of a user's line libpurple still queues
  };

  Connection& ConnectionOf(PurpleAccount* account) {
    auto it = connections_.find(account);
    if (it == connections_.end()) it = connections_.emplace(account, Clock::now()).first;
    return it->second;
  }

  // libpurple's own pacing of the account: its interval, 0 when off.
  static int QueueInterval(PurpleAccount* account) {
    return purple_account_get_int(account, "ratelimit-interval", 2);
  }

  void Pump(PurpleAccount* account) {
    auto it = connections_.find(account);
    if (it == connections_.end()) return;
    Connection& connection = it->second;
    PurpleConnection* gc = purple_account_get_connection(account);
    if (!gc || !purple_account_is_connected(account)) {
      Forget(account);
      return;
    }
    const Clock::time_point now = Clock::now();
    // A long run of lines pauses for what libpurple queued meanwhile.
    if (QueueInterval(account) > 0 && now - connection.busySince >= kYieldEvery &&
        !connection.pacer.held(now)) {
      const auto pause = std::chrono::seconds(QueueInterval(account)) + kQueueSlack;
      connection.pacer.Hold(now + pause);
      connection.busySince = now + pause;
    }
    while (std::optional<std::string> line = connection.pacer.Take(now)) Write(gc, *line);
    Schedule(account, connection, now);
  }

  void Write(PurpleConnection* gc, const std::string& line) {
    writing_ = true;
    if (prioritySend_) {
      prioritySend_(purple_connection_get_protocol_data(gc), line.c_str());
    } else if (PurplePluginProtocolInfo* info = PURPLE_PLUGIN_PROTOCOL_INFO(prpl_);
               info && info->send_raw) {
      info->send_raw(gc, line.data(), static_cast<int>(line.size()));
    }
    writing_ = false;
  }

  void Schedule(PurpleAccount* account, Connection& connection, Clock::time_point now) {
    const Clock::time_point due = connection.pacer.NextDue(now);
    if (connection.timer && due == connection.due) return;
    if (connection.timer) g_source_remove(connection.timer);
    connection.timer = 0;
    connection.due = due;
    if (due == Clock::time_point::max()) return;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(due - now);
    auto* context = new Timer{this, account};
    connection.timer = g_timeout_add_full(
        G_PRIORITY_DEFAULT, static_cast<guint>(std::max<int64_t>(wait.count(), 0)), OnTimer,
        context, [](gpointer data) { delete static_cast<Timer*>(data); });
  }

  struct Timer {
    IrcTransport* self;
    PurpleAccount* account;
  };
  static gboolean OnTimer(gpointer data) {
    auto* timer = static_cast<Timer*>(data);
    IrcTransport* self = timer->self;
    auto it = self->connections_.find(timer->account);
    if (it != self->connections_.end()) {
      it->second.timer = 0;
      it->second.due = Clock::time_point::max();
      self->Pump(timer->account);
    }
    return G_SOURCE_REMOVE;
  }

  void Forget(PurpleAccount* account) {
    auto it = connections_.find(account);
    if (it == connections_.end()) return;
    if (it->second.timer) g_source_remove(it->second.timer);
    connections_.erase(it);
  }

  // ---- Signals ----

  static void OnSignedOff(PurpleConnection* gc, gpointer data) {
    static_cast<IrcTransport*>(data)->Forget(purple_connection_get_account(gc));
  }

  // The user sends a message: with libpurple's pacing on it waits in
  // libpurple's queue until the plug-in has not written for an interval,
  // so the plug-in pauses until it is out.
  void UserSends(PurpleAccount* account, const std::string& target) {
    if (purple_account_get_connection(account) == nullptr ||
        purple_connection_get_prpl(purple_account_get_connection(account)) != prpl_) {
      return;
    }
    auto it = connections_.find(account);
    const int interval = QueueInterval(account);
    if (it == connections_.end() || it->second.pacer.empty() || interval <= 0) return;
    it->second.awaitedLine = "PRIVMSG " + target + " ";
    it->second.pacer.Hold(Clock::now() + std::chrono::seconds(interval) + kQueueSlack);
    Schedule(account, it->second, Clock::now());
  }

  static void OnSendingIm(PurpleAccount* account, const char* receiver, char**, gpointer data) {
    if (receiver) static_cast<IrcTransport*>(data)->UserSends(account, receiver);
  }

  static void OnSendingChat(PurpleAccount* account, char**, int id, gpointer data) {
    PurpleConnection* gc = purple_account_get_connection(account);
    PurpleConversation* chat = gc ? purple_find_chat(gc, id) : nullptr;
    if (chat)
      static_cast<IrcTransport*>(data)->UserSends(account, purple_conversation_get_name(chat));
  }

  // Every line libpurple writes: the plug-in's own are counted already.
  static void OnSendingText(PurpleConnection* gc, char** text, gpointer data) {
    auto* self = static_cast<IrcTransport*>(data);
    if (self->writing_ || !text || !*text) return;
    PurpleAccount* account = purple_connection_get_account(gc);
    auto it = self->connections_.find(account);
    if (it == self->connections_.end()) return;
    Connection& connection = it->second;
    const Clock::time_point now = Clock::now();
    connection.pacer.Count(now);
    if (!connection.awaitedLine.empty() &&
        g_ascii_strncasecmp(*text, connection.awaitedLine.c_str(), connection.awaitedLine.size()) ==
            0) {
      connection.awaitedLine.clear();
      connection.pacer.Release();
    }
    // The budget changed: the next line is due later.
    self->Schedule(account, connection, now);
  }

  static void OnReceivingText(PurpleConnection* gc, char** text, gpointer data) {
    if (!text || !*text) return;
    if (static_cast<IrcTransport*>(data)->Take(purple_connection_get_account(gc), *text)) {
      *text = g_emptyLine;
    }
  }

  // Reads one received line; true when it was the plug-in's.
  bool Take(PurpleAccount* account, std::string_view raw) {
    IrcLine line;
    if (!ParseIrcLine(raw, line) || line.nick.empty()) return false;
    // "No such nick" for a nick asked: libpurple tells the user itself.
    if (line.command == "401" && line.params.size() >= 2) {
      sink_.RequestDelivered(account, std::string(line.params[1]),
                             TransportSink::Delivery::kAbsent);
      return false;
    }
    const bool notice = g_ascii_strcasecmp(std::string(line.command).c_str(), "NOTICE") == 0;
    if ((!notice && g_ascii_strcasecmp(std::string(line.command).c_str(), "PRIVMSG") != 0) ||
        line.params.size() != 2 || IsIrcChannel(line.params[0])) {
      return false;
    }
    const std::optional<std::string_view> body = CtcpBody(line.params[1]);
    if (!body) return false;
    const std::string sender(line.nick);
    // A client without the plug-in that says it did not understand.
    if (notice && body->starts_with("ERRMSG ZFS")) {
      sink_.RequestDelivered(account, sender, TransportSink::Delivery::kRefused);
      return true;
    }
    Piece piece;
    const PieceKind kind = ParsePiece(*body, piece);
    if (kind == PieceKind::kNotWire) return false;
    sink_.HeardPiece(account, sender, kind, piece);
    return true;
  }

  PurplePlugin* prpl_;
  TransportSink& sink_;
  PrioritySend prioritySend_ = nullptr;
  bool writing_ = false;
  std::map<PurpleAccount*, Connection> connections_;
};

}  // namespace

std::unique_ptr<Transport> CreateIrcTransport(PurplePlugin* prpl, TransportSink& sink) {
  return std::make_unique<IrcTransport>(prpl, sink);
}

}  // namespace zuvo::purple
