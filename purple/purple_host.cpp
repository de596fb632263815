#include "purple/purple_host.h"

#include "base/text.h"
#include "host/common/host_notice.h"
#include "host/common/notice_text.h"
#include "host/common/reply_limit.h"
#include "host/common/session_words.h"
#include "host/common/settings_key.h"
#include "host/common/shown_text.h"
#include "purple/purple_form_view.h"
#include "purple/settings_notices.h"

extern "C" {
#include <account.h>
#include <blist.h>
#include <debug.h>
#include <notify.h>
#include <prefs.h>
#include <request.h>
#include <server.h>
#include <signals.h>
#include <util.h>
}

namespace zuvo::purple {
namespace {

// Whole texts waiting for the main loop.
constexpr size_t kMaxQueued = 32;
// Answers waiting for the worker; a request beyond them is turned away.
constexpr size_t kMaxPendingAnswers = 64;

class Prefs : public PrefsStore {
 public:
  bool Exists(const std::string& name) const override { return purple_prefs_exists(name.c_str()); }
  std::string GetString(const std::string& name) const override {
    const char* value = purple_prefs_get_string(name.c_str());
    return value ? value : "";
  }
  void SetString(const std::string& name, const std::string& value) override {
    purple_prefs_set_string(name.c_str(), value.c_str());
  }
  bool GetBool(const std::string& name) const override {
    return purple_prefs_get_bool(name.c_str());
  }
  void SetBool(const std::string& name, bool value) override {
    purple_prefs_set_bool(name.c_str(), value);
  }
};

// What the session decides for this host: requests pass the request gate,
// and answers are shown only to the user who asked lately.
SessionRules Rules() {
  SessionRules rules;
  rules.gateRequests = true;
  rules.replyWindow = PluginSession::kReplyWindow;
  rules.fileAnswersNeedProof = true;
  return rules;
}

// The most of a stranger's request quoted to the user, in characters.
constexpr size_t kMaxQuoted = 200;

bool AccountKnown(PurpleAccount* account) {
  return g_list_find(purple_accounts_get_all(), account) != nullptr;
}

bool AccountAlive(PurpleAccount* account) {
  return AccountKnown(account) && purple_account_is_connected(account);
}

// What a stranger asked for, as typed, with at most kMaxQuoted characters
// of its argument.
std::string Quoted(const Notification& request) {
  Notification cut = request;
  if (cut.code.size() > 16) cut.code.resize(16);
  if (cut.argument.size() > kMaxQuoted) {
    cut.argument.resize(kMaxQuoted);
    // Not half a surrogate pair.
    if (cut.argument.back() >= 0xD800 && cut.argument.back() <= 0xDBFF) cut.argument.pop_back();
  }
  std::string quoted = TypedRequest(cut);
  if (cut.code.size() < request.code.size() || cut.argument.size() < request.argument.size()) {
    quoted += "... (" + std::to_string(request.code.size() + 1 + request.argument.size()) +
              " characters)";
  }
  return quoted;
}

}  // namespace

PurpleHost::PurpleHost(PurplePlugin* plugin)
    : plugin_(plugin),
      prefs_(std::make_unique<Prefs>()),
      registry_(CreatePrefsRegistry(*prefs_)),
      notices_(std::make_unique<SettingsNotices>(plugin, [this] { return driver_->SharingOn(); })),
      formView_(std::make_unique<PurpleFormView>(plugin)),
      driver_(std::make_unique<InProcessPluginDriver>(*registry_, formView_.get())),
      session_(std::make_unique<PluginSession>(*driver_, Rules())),
      worker_(std::make_unique<MainLoopWorker>()) {
  formView_->SetServer(&driver_->server(), &worker_->worker());
  formView_->SetNotices(notices_.get());
  messages_ = CreateMessageTransport();
}

PurpleHost::~PurpleHost() {
  // An answer in progress ends first (its time is bounded by the share);
  // what waits for its turn is dropped. Nothing of the plug-in runs after.
  worker_->worker().Stop();
  if (started_) {
    Variant ignored;
    CallContract([&] { return driver_->plugin().Uninitialize(); }, ignored);
  }
  for (PurpleCmdId id : commands_) purple_cmd_unregister(id);
  purple_signals_disconnect_by_handle(plugin_);
  xmpp_.reset();
  irc_.reset();
  if (tick_) g_source_remove(tick_);
  if (queuedSource_) g_source_remove(queuedSource_);
  if (finishSource_) g_source_remove(finishSource_);
  if (reloadSource_) g_source_remove(reloadSource_);
  purple_prefs_disconnect_by_handle(plugin_);
  FinishDownloads();
  while (!outgoing_.empty()) DropOutgoing(outgoing_.begin());
  // Transfers still running leave nothing: their files go with them.
  for (auto& [xfer, download] : downloads_) purple_xfer_unref(xfer);
  downloads_.clear();
  formView_.reset();
  purple_request_close_with_handle(plugin_);
  purple_notify_close_with_handle(plugin_);
}

void PurpleHost::AddPreferences() {
  purple_prefs_add_none("/plugins/core");
  purple_prefs_add_none(kPrefsRoot);
  purple_prefs_add_string(kPrefSharedFolder, "");
  purple_prefs_add_bool(kPrefStartOn, TRUE);
  purple_prefs_add_bool(kPrefSubFolders, TRUE);
  purple_prefs_add_string(kPrefDownloads, DefaultDownloadsFolder().c_str());
  purple_prefs_add_int(kPrefMaxReplyLines, kDefaultMaxReplyLines);
  purple_prefs_add_bool(kPrefAnswerEveryone, FALSE);
}

bool PurpleHost::Start() {
  // The identity key and the pins live in the client's configuration
  // folder; a key file that cannot be read is reported, never replaced.
  secure_ = std::make_unique<trust::SecureContacts>(purple_user_dir());
  if (const std::string problem = secure_->problem(); !problem.empty()) {
    purple_notify_warning(plugin_, "Zuvo File Sharing", ("Zuvo File Sharing: " + problem).c_str(),
                          nullptr);
  }
  // The first call of all: the worker has nothing yet, so this is the
  // plug-in's turn.
  const PluginSession::Started started = session_->Start(u"");
  ShowRaised(nullptr, started.raised);
  if (started.failure != PluginSession::Started::Failure::kNone) {
    purple_debug_error("zuvo-file-sharing", "the plug-in did not start: %s\n",
                       started.status.failed() ? started.status.description.c_str()
                       : started.failure == PluginSession::Started::Failure::kInitialize
                           ? "Initialize answered False"
                           : "it did not publish its commands");
    return false;
  }
  for (const CommandInfo& c : session_->commands()) {
    const std::string word = Utf16ToUtf8(c.value);
    const CommandHelp help = HelpFor(c.value, c.name, c.help);
    gchar* helpText =
        g_markup_printf_escaped("%s%s%s: %s", word.c_str(), help.usage.empty() ? "" : " ",
                                help.usage.c_str(), help.does.c_str());
    const PurpleCmdId id = purple_cmd_register(
        word.c_str(), "s", PURPLE_CMD_P_PLUGIN,
        static_cast<PurpleCmdFlag>(PURPLE_CMD_FLAG_IM | PURPLE_CMD_FLAG_ALLOW_WRONG_ARGS), nullptr,
        OnCommand, helpText, this);
    g_free(helpText);
    if (id) commands_.push_back(id);
  }
  for (const char* word : {"xrkey", "xrverify", "xrtrust"}) {
    const std::string help =
        std::string(word) == "xrkey"
            ? "xrkey [contact]:  Zuvo File Sharing: your file-sharing key, or a contact's."
        : std::string(word) == "xrverify"
            ? "xrverify [contact]:  Zuvo File Sharing: mark the contact's key verified, once "
              "you have compared it with them."
            : "xrtrust [contact]:  Zuvo File Sharing: accept the contact's changed key.";
    gchar* escaped = g_markup_escape_text(help.c_str(), -1);
    const PurpleCmdId id = purple_cmd_register(
        word, "s", PURPLE_CMD_P_PLUGIN,
        static_cast<PurpleCmdFlag>(PURPLE_CMD_FLAG_IM | PURPLE_CMD_FLAG_ALLOW_WRONG_ARGS), nullptr,
        OnKeyCommand, escaped, this);
    g_free(escaped);
    if (id) commands_.push_back(id);
  }
  void* conversations = purple_conversations_get_handle();
  void* xfers = purple_xfers_get_handle();
  purple_signal_connect(conversations, "receiving-im-msg", plugin_, PURPLE_CALLBACK(OnReceivingIm),
                        this);
  purple_signal_connect(xfers, "file-recv-request", plugin_, PURPLE_CALLBACK(OnFileRecvRequest),
                        this);
  purple_signal_connect(xfers, "file-recv-complete", plugin_, PURPLE_CALLBACK(OnFileRecvComplete),
                        this);
  purple_signal_connect(xfers, "file-recv-cancel", plugin_, PURPLE_CALLBACK(OnFileRecvCancel),
                        this);
  purple_signal_connect(xfers, "file-send-complete", plugin_, PURPLE_CALLBACK(OnFileSendEnded),
                        this);
  purple_signal_connect(xfers, "file-send-cancel", plugin_, PURPLE_CALLBACK(OnFileSendEnded), this);
  for (const char* pref : {kPrefSharedFolder, kPrefStartOn, kPrefSubFolders}) {
    purple_prefs_connect_callback(plugin_, pref, OnSettingChanged, this);
  }
  // The networks with transports of their own; the rest carry pieces as
  // ordinary messages.
  if (PurplePlugin* jabber = purple_find_prpl("prpl-jabber"))
    xmpp_ = CreateXmppTransport(jabber, *this);
  if (PurplePlugin* irc = purple_find_prpl("prpl-irc")) irc_ = CreateIrcTransport(irc, *this);
  tick_ = g_timeout_add_seconds(1, OnTick, this);
  started_ = true;
  notices_->Started();
  return true;
}

void PurpleHost::OnSettingChanged(const char*, PurplePrefType, gconstpointer, void* data) {
  // Not at once: Apply stores the settings one by one, and a reload between
  // two of them would put the old values back into the form it stores from.
  auto* self = static_cast<PurpleHost*>(data);
  if (!self->reloadSource_) self->reloadSource_ = g_idle_add(OnReloadSettings, self);
}

gboolean PurpleHost::OnReloadSettings(void* data) {
  auto* self = static_cast<PurpleHost*>(data);
  self->reloadSource_ = 0;
  // The shared folder and the sub-folders switch count at once, as after
  // Apply; "Start On" counts from the next start, as for the add-on. The
  // holder is the plug-in's: it is loaded in the plug-in's turn, never
  // while a listing reads it.
  self->worker_->worker().Call([self] {
    PluginServer& server = self->driver_->server();
    if (server.HolderLoaded()) server.Holder()->LoadSettings();
  });
  return G_SOURCE_REMOVE;
}

// ---- Local commands -----------------------------------------------------

PurpleCmdRet PurpleHost::OnCommand(PurpleConversation* conv, const gchar* cmd, gchar** args,
                                   gchar**, void* data) {
  auto* self = static_cast<PurpleHost*>(data);
  // /xroptions opens its dialog for this conversation and reports there.
  self->formView_->SetConversation(conv);
  // At once, unless the plug-in is answering a request: then as soon as
  // that answer is out. The conversation is found again by then.
  self->worker_->worker().Call([self, account = purple_conversation_get_account(conv),
                                who = std::string(purple_conversation_get_name(conv)),
                                word = std::string(cmd),
                                arg = std::string(args && args[0] ? args[0] : "")] {
    self->RunCommand(account, who, word, arg);
  });
  return PURPLE_CMD_RET_OK;
}

PurpleCmdRet PurpleHost::OnKeyCommand(PurpleConversation* conv, const gchar* cmd, gchar** args,
                                      gchar**, void* data) {
  auto* self = static_cast<PurpleHost*>(data);
  PurpleAccount* account = purple_conversation_get_account(conv);
  std::string named = args && args[0] ? args[0] : "";
  named.erase(0, named.find_first_not_of(' '));
  named.erase(named.find_last_not_of(' ') + 1);
  const std::string word = cmd;
  std::string line;
  if (word == "xrkey" && named.empty()) {
    line = self->secure_->OwnKeyLine();
  } else {
    const trust::ContactId who =
        SecureId(account, named.empty() ? purple_conversation_get_name(conv) : named);
    if (word == "xrkey") {
      line = self->secure_->ContactKeyLine(who);
    } else if (word == "xrverify") {
      line = self->secure_->Verify(who);
    } else {
      line = self->secure_->Trust(who, std::chrono::system_clock::now());
    }
  }
  SystemLine(conv, "Zuvo File Sharing: " + line);
  return PURPLE_CMD_RET_OK;
}

void PurpleHost::RunCommand(PurpleAccount* account, const std::string& who, const std::string& word,
                            const std::string& arg) {
  if (!AccountKnown(account)) return;
  PurpleConversation* conv = ConversationWith(account, who);
  const PluginSession::Typed typed =
      session_->Command(ContactKey(account, who), Utf8ToUtf16(who), u"/" + Utf8ToUtf16(word),
                        Utf8ToUtf16(arg), Clock::now());
  ShowRaised(conv, typed.raised);
  for (const std::u16string& note : typed.notes) SystemLine(conv, PrintableText(note));
  if (typed.status.failed()) {
    SystemLine(conv, "Zuvo File Sharing: the command failed (" + typed.status.description + ").");
    return;
  }
  if (typed.send.empty()) return;
  if (!AccountAlive(account)) {
    if (typed.request) {
      SystemLine(conv, "Zuvo File Sharing: not asked, the account is not connected.");
    }
    return;
  }
  // A text that cannot be sent says why itself.
  if (!SendText(account, who, typed.send)) return;
  if (typed.request) {
    SystemLine(conv, "Asked " + ContactName(account, who) + ": " + typed.typed);
    outcomes_.Asked(ContactKey(account, who), who, account,
                    Clock::now() + TransportFor(account).AnswerLimit());
  }
}

void PurpleHost::ShowRaised(PurpleConversation* conv, const Raised& raised) {
  for (const ToastSeen& toast : raised.toasts) {
    const std::string line = ToastLine(toast, "Zuvo File Sharing");
    if (conv) {
      SystemLine(conv, line);
    } else {
      purple_notify_info(plugin_, "Zuvo File Sharing", line.c_str(), nullptr);
    }
  }
  for (const MessageBoxSeen& box : raised.messageBoxes) {
    const std::string title = Utf16ToUtf8(box.title);
    const std::string text = Utf16ToUtf8(box.text);
    purple_notify_message(plugin_, PURPLE_NOTIFY_MSG_INFO, title.c_str(), text.c_str(), nullptr,
                          nullptr, nullptr);
  }
}

// ---- Texts between the two plug-ins --------------------------------------

Transport& PurpleHost::TransportFor(PurpleAccount* account) const {
  const std::string protocol = purple_account_get_protocol_id(account);
  if (protocol == "prpl-jabber" && xmpp_) return *xmpp_;
  if (protocol == "prpl-irc" && irc_) return *irc_;
  return *messages_;
}

trust::ContactId PurpleHost::SecureId(PurpleAccount* account, const std::string& who) {
  const std::string key = ContactKey(account, who);
  const size_t split = key.find('\n');
  trust::ContactId id{key.substr(0, split), key.substr(split + 1), {}};
  id.name = ShownName(id.contact);
  return id;
}

bool PurpleHost::SendText(PurpleAccount* account, const std::string& who,
                          const std::u16string& text, std::optional<FrameKind> frameKind) {
  if (!purple_account_is_connected(account)) return false;
  // Texts between two plug-ins travel sealed, after a handshake.
  const FrameKind kind = frameKind.value_or(
      !text.empty() && text[0] == kMarker ? FrameKind::kRequest : FrameKind::kReply);
  const trust::RecordKind record = kind == FrameKind::kRequest  ? trust::RecordKind::kRequest
                                   : kind == FrameKind::kNotice ? trust::RecordKind::kNotice
                                                                : trust::RecordKind::kReply;
  return SendSealed(account, who,
                    secure_->Send(SecureId(account, who), record, TextBody(text),
                                  std::chrono::system_clock::now()),
                    kind == FrameKind::kRequest);
}

bool PurpleHost::SendFileOffer(PurpleAccount* account, const std::string& who,
                               const trust::FileFacts& facts, const std::u16string& text) {
  if (!purple_account_is_connected(account)) return false;
  return SendSealed(account, who,
                    secure_->SendFileOffer(SecureId(account, who), facts, TextBody(text),
                                           std::chrono::system_clock::now()),
                    false);
}

bool PurpleHost::SendSealed(PurpleAccount* account, const std::string& who,
                            const trust::SecureContacts::Sent& sent, bool request) {
  using Refused = trust::SecureContacts::Refused;
  const std::string name = SecureId(account, who).name;
  std::string why;
  switch (sent.refused) {
    case Refused::kNone:
      break;
    case Refused::kNoIdentity:
    case Refused::kUntrusted:
      why = secure_->problem();
      break;
    case Refused::kChangedKey:
      why = name +
            "'s file-sharing key has changed; nothing is shared with this contact until "
            "you accept the new key with /xrtrust " +
            name + ".";
      break;
    case Refused::kQueueFull:
      why = "too much waits for " + name + "'s plug-in to answer the key exchange.";
      break;
    case Refused::kTooLarge:
      why = "the text is too long.";
      break;
  }
  if (!why.empty()) {
    SystemLine(ConversationWith(account, who),
               "Zuvo File Sharing: nothing was sent to " + name + ": " + why);
    return false;
  }
  // A record the network did not take leaves a gap in the session's
  // counter: the contact's next record closes it and a new handshake
  // follows (what was asked goes again then).
  Transport& transport = TransportFor(account);
  bool all = true;
  for (const trust::SecureContacts::Message& m : sent.send) {
    all = transport.Send(account, who, m.handshake ? FrameKind::kHandshake : FrameKind::kRecord,
                         m.bytes, !request) &&
          all;
  }
  if (!all) {
    SystemLine(ConversationWith(account, who),
               "Zuvo File Sharing: too much waits to be sent to " + name +
                   "; not everything was sent, ask again in a moment.");
  }
  return all;
}

gboolean PurpleHost::OnReceivingIm(PurpleAccount* account, char** sender, char** message,
                                   PurpleConversation*, PurpleMessageFlags*, void* data) {
  if (!sender || !*sender || !message || !*message) return FALSE;
  // Protocols hand over HTML (XMPP bodies escape "<", "&", ">"; IRC turns
  // formatting into markup); a piece is plain text once that is removed.
  gchar* plain = purple_markup_strip_html(*message);
  const std::string text = plain ? plain : "";
  g_free(plain);
  return static_cast<PurpleHost*>(data)->Receive(account, *sender, text) ? TRUE : FALSE;
}

bool PurpleHost::Receive(PurpleAccount* account, const std::string& sender,
                         const std::string& message) {
  Piece piece;
  const PieceKind kind = ParsePiece(message, piece);
  if (kind == PieceKind::kNotWire) return false;
  HeardPiece(account, sender, kind, piece);
  return true;
}

void PurpleHost::Notice(PurpleAccount* account, const std::string& who, const std::string& line) {
  if (noticeLimit_.Allow(ContactKey(account, who), Clock::now())) {
    SystemLine(ConversationWith(account, who), line);
  }
}

void PurpleHost::HeardPiece(PurpleAccount* account, const std::string& sender, PieceKind kind,
                            const Piece& piece) {
  switch (kind) {
    case PieceKind::kNotWire:
      return;
    case PieceKind::kOlderVersion:
    case PieceKind::kNewerVersion: {
      if (toldVersion_.size() >= 256) toldVersion_.clear();
      if (!toldVersion_.insert(ContactKey(account, sender)).second) return;
      const bool older = kind == PieceKind::kOlderVersion;
      Notice(account, sender,
             "Zuvo File Sharing: " + ContactName(account, sender) + "'s file-sharing plug-in is " +
                 (older ? "an older" : "a newer") +
                 " version that this one cannot exchange with; their message was not read.");
      return;
    }
    case PieceKind::kMalformed:
      purple_debug_warning("zuvo-file-sharing", "malformed piece from %s dropped\n",
                           sender.c_str());
      return;
    case PieceKind::kPiece:
      break;
  }
  // Who sent it is judged at a frame's first piece: a reply stays wanted
  // while its pieces keep coming, however long it takes.
  const std::string key = ContactKey(account, sender);
  // Replies come in clear from older peers and sealed from this version:
  // a record or a handshake message from a contact asked lately is taken
  // as that contact's answer, and so is a notice from its host.
  const bool expected = (piece.kind == FrameKind::kReply || piece.kind == FrameKind::kNotice ||
                         piece.kind == FrameKind::kRecord || piece.kind == FrameKind::kHandshake) &&
                        session_->ExpectsAnswer(key, Clock::now());
  // An answer is the outcome of every request waiting for it.
  if (expected && (piece.kind == FrameKind::kReply || piece.kind == FrameKind::kRecord)) {
    outcomes_.Answered(key);
  }
  const SenderClass judged = ClassifySender(piece.kind, Trusted(account, sender), expected);
  Reassembler::Result r = reassembler_.Add(key, piece, judged, Clock::now());
  if (r.kind == Reassembler::Result::Kind::kDropped) {
    if (r.why == DropReason::kUnwanted && r.frameKind == FrameKind::kReply) {
      Notice(account, sender,
             "Zuvo File Sharing: " + ContactName(account, sender) +
                 " sent a file-sharing reply that was not asked for; not shown.");
    } else if (r.why == DropReason::kUnwanted && r.frameKind == FrameKind::kHandshake) {
      // A request starts with a handshake, which is answered only where a
      // request would be.
      Notice(account, sender,
             "Zuvo File Sharing: " + ContactName(account, sender) +
                 ", who is not in your buddy list, asked to exchange files; not answered.");
    } else if (r.sender == SenderClass::kStranger && r.why == DropReason::kTooLarge) {
      Notice(account, sender,
             "Zuvo File Sharing: " + ContactName(account, sender) +
                 ", who is not in your buddy list, sent a file-sharing request too long to "
                 "show; not answered.");
    } else if (r.why != DropReason::kGivenUp) {
      purple_debug_warning("zuvo-file-sharing", "message from %s dropped: %s\n", sender.c_str(),
                           DropReasonText(r.why));
    }
  } else if (r.kind == Reassembler::Result::Kind::kComplete) {
    if (r.frameKind == FrameKind::kHandshake || r.frameKind == FrameKind::kRecord) {
      HearSealed(account, sender, r.message);
      return;
    }
    // A text in clear comes from a plug-in without the protection. Once a
    // contact's key is pinned, its plug-in is known to seal its texts: one
    // in clear under its name is someone else's, and is not read.
    if (secure_->Pinned(SecureId(account, sender))) {
      purple_debug_warning("zuvo-file-sharing",
                           "a text in clear from %s, whose key is pinned, dropped\n",
                           sender.c_str());
      return;
    }
    std::u16string text;
    if (!BytesToText(r.message, text)) return;
    Arrive(account, sender, r.frameKind, std::move(text), std::nullopt);
  }
}

void PurpleHost::HearSealed(PurpleAccount* account, const std::string& sender,
                            const std::string& message) {
  const trust::SecureContacts::Received got =
      secure_->Receive(SecureId(account, sender), message, Trusted(account, sender),
                       std::chrono::system_clock::now());
  Transport& transport = TransportFor(account);
  for (const trust::SecureContacts::Message& m : got.send) {
    transport.Send(account, sender, m.handshake ? FrameKind::kHandshake : FrameKind::kRecord,
                   m.bytes, true);
  }
  if (!got.line.empty()) {
    SystemLine(ConversationWith(account, sender), "Zuvo File Sharing: " + got.line);
  }
  if (got.error != trust::Error::kNone) {
    purple_debug_info("zuvo-file-sharing", "a sealed message from %s was not taken (%d)\n",
                      sender.c_str(), static_cast<int>(got.error));
  }
  for (const trust::SecureContacts::Opened& opened : got.opened) {
    const FrameKind kind = opened.kind == trust::RecordKind::kRequest  ? FrameKind::kRequest
                           : opened.kind == trust::RecordKind::kNotice ? FrameKind::kNotice
                                                                       : FrameKind::kReply;
    std::u16string text;
    if (!BodyText(opened.body, kind == FrameKind::kRequest ? kMaxRequestBytes : kMaxReplyBytes,
                  text)) {
      continue;
    }
    std::optional<Announced> offer;
    if (opened.facts) offer = Announced{opened.facts->size, opened.facts->sha256};
    Arrive(account, sender, kind, std::move(text), offer);
  }
}

void PurpleHost::Arrive(PurpleAccount* account, const std::string& sender, FrameKind kind,
                        std::u16string text, const std::optional<Announced>& offer) {
  const std::string key = ContactKey(account, sender);
  const std::u16string name = Utf8ToUtf16(ContactName(account, sender));
  // The session hears the text now, in the order of the stream, so that an
  // answer that a file is on its way counts before the file's offer; it is
  // shown or answered from the main loop, not from inside the protocol's
  // reader. The queue empties on the loop's next turn; a flood that fills it
  // before that loses its newest texts.
  PluginSession::Heard heard;
  if (kind == FrameKind::kNotice) {
    heard.lines = session_->HearNotice(key, text, name);
    if (heard.lines.empty()) return;
  } else {
    // A request carries a notification and a reply never does; anything
    // else is not read.
    if ((kind == FrameKind::kRequest) != (!text.empty() && text[0] == kMarker)) return;
    heard = session_->Hear(key, text, Clock::now(), name, offer);
  }
  if (queued_.size() >= kMaxQueued) {
    purple_debug_warning("zuvo-file-sharing", "too many texts at once; one from %s dropped\n",
                         sender.c_str());
    return;
  }
  queued_.push_back({account, sender, std::move(heard)});
  if (!queuedSource_) queuedSource_ = g_idle_add(OnQueued, this);
}

void PurpleHost::RequestDelivered(PurpleAccount* account, const std::string& who,
                                  Delivery delivery) {
  const std::string key = ContactKey(account, who);
  if (delivery == Delivery::kTaken) {
    outcomes_.Delivered(key);
  } else if (std::optional<RequestOutcomes::Waiting> refused = outcomes_.Refused(key);
             refused && delivery == Delivery::kRefused) {
    TellNoAnswer(account, *refused);
  }
}

void PurpleHost::TellNoAnswer(PurpleAccount* account, const RequestOutcomes::Waiting& waiting) {
  const std::string& name = waiting.name;
  SystemLine(ConversationWith(account, name),
             "Zuvo File Sharing: " + ContactName(account, name) +
                 " did not answer the file-sharing request" +
                 (waiting.delivered ? "."
                                    : " (their client may not have Zuvo File Sharing, or it is "
                                      "turned off)."));
}

gboolean PurpleHost::OnQueued(void* data) {
  auto* self = static_cast<PurpleHost*>(data);
  self->queuedSource_ = 0;
  std::vector<Arrived> queued = std::exchange(self->queued_, {});
  for (Arrived& a : queued) {
    if (!AccountAlive(a.account)) continue;
    if (a.heard.kind == PluginSession::Heard::Kind::kRequest) {
      self->AnswerRequest(a.account, a.sender, a.heard.request);
    } else if (a.heard.kind == PluginSession::Heard::Kind::kAnswer) {
      // Shown as the contact's lines, so that none reads as this plug-in's
      // own.
      PurpleConversation* conv = ConversationWith(a.account, a.sender);
      for (const std::u16string& line : a.heard.lines) SystemLine(conv, ShownText(line));
    } else {
      self->Notice(a.account, a.sender,
                   "Zuvo File Sharing: " + ContactName(a.account, a.sender) +
                       " sent a file-sharing reply that was not asked for; not shown.");
    }
  }
  return FALSE;
}

void PurpleHost::AnswerRequest(PurpleAccount* account, const std::string& sender,
                               const Notification& request) {
  const std::string key = ContactKey(account, sender);
  const bool trusted = Trusted(account, sender);
  const PluginSession::Admission admission = session_->Admit(key, trusted, request, Clock::now());
  // Replies to one contact go out in the order of the requests.
  if (!admission.reply.empty()) SendInTurn(account, sender, std::u16string(admission.reply));
  switch (admission.verdict) {
    case RequestGate::Verdict::kAnswer:
      break;
    case RequestGate::Verdict::kStranger:
      Notice(account, sender,
             "Zuvo File Sharing: " + ContactName(account, sender) +
                 ", who is not in your buddy list, asked for " + Quoted(request) +
                 "; not answered.");
      return;
    case RequestGate::Verdict::kTooFast:
      if (admission.first) {
        Notice(account, sender,
               "Zuvo File Sharing: " + ContactName(account, sender) +
                   " asks too often; requests are ignored for a moment.");
      }
      return;
    case RequestGate::Verdict::kBusy:
      return;
  }

  PluginWorker& worker = worker_->worker();
  if (worker.pending() >= kMaxPendingAnswers) {
    purple_debug_warning("zuvo-file-sharing", "too many requests waiting; one from %s refused\n",
                         sender.c_str());
    session_->Done(key, request);
    SendInTurn(account, sender, std::u16string(kTooManyRequestsText));
    return;
  }
  SystemLine(ConversationWith(account, sender),
             ContactName(account, sender) + " asks: " + TypedRequest(request));
  const int maxLines = purple_prefs_get_int(kPrefMaxReplyLines);
  // The work reads only the plug-in (its settings holder was loaded at
  // Initialize, and this host's form never unloads it) and the files: none
  // of libpurple, which belongs to the main loop.
  auto answered = std::make_shared<PluginSession::Answered>();
  // The files an answer names are opened beneath the shared folder stored
  // now (the settings are the main loop's) and hashed in the same work, so
  // that a large file holds up neither the client nor the order of the
  // replies.
  auto files = std::make_shared<std::vector<ToSend>>();
  worker.Post(
      [session = session_.get(), answered, files, request, name = Utf8ToUtf16(sender),
       lines = maxLines > 0 ? size_t(maxLines) : 0, share = StoredSharedFolder(*registry_)] {
        try {
          *answered = session->Answer(request, name, lines);
        } catch (const std::exception& e) {
          answered->status = {hr::kUnexpected, e.what()};
        }
        for (const std::u16string& path : answered->files) {
          files->push_back(PrepareDropFile(path, share));
        }
      },
      [this, account, sender, key, request, answered, files] {
        session_->Done(key, request);
        if (AccountAlive(account)) SendAnswer(account, sender, request, *answered, *files);
      });
}

void PurpleHost::SendAnswer(PurpleAccount* account, const std::string& sender,
                            const Notification& request, const PluginSession::Answered& answered,
                            std::vector<ToSend>& files) {
  PurpleConversation* conv = ConversationWith(account, sender);
  ShowRaised(conv, answered.raised);
  if (answered.status.failed()) {
    SystemLine(conv, "Zuvo File Sharing: the plug-in could not answer (" +
                         answered.status.description + "); nothing was sent.");
    return;
  }
  const std::optional<RequestCode> code = FindRequestCode(request.code);
  // The asker's host shows a listing relative to the shared folder.
  if (!answered.text.empty() && code && IsListing(*code)) {
    SendText(
        account, sender,
        EncodeNotice(AnsweringNotice(request.code, StoredSharedFolder(*registry_).value_or(u""))),
        FrameKind::kNotice);
  }
  // The reply that sends a file goes as a file offer, with the file's size
  // and SHA-256, ahead of the file itself; one reply offers one file so. A
  // file that cannot be sent is told of after the reply.
  bool offered = false;
  std::vector<const ToSend*> failed;
  for (ToSend& file : files) {
    if (file.error.failed()) {
      failed.push_back(&file);
      continue;
    }
    if (!offered && !SendFileOffer(account, sender, file.facts, answered.text)) return;
    offered = true;
    SendDropFile(account, sender, std::move(file));
  }
  if (!offered && !answered.text.empty()) SendText(account, sender, answered.text);
  for (const ToSend* file : failed) TellNotSent(account, sender, file->path, file->error);
}

void PurpleHost::SendInTurn(PurpleAccount* account, const std::string& who, std::u16string text) {
  worker_->worker().Post(nullptr, [this, account, who, text = std::move(text)] {
    if (AccountAlive(account)) SendText(account, who, text);
  });
}

// ---- Housekeeping -----------------------------------------------------------

gboolean PurpleHost::OnTick(void* data) {
  auto* self = static_cast<PurpleHost*>(data);
  const Clock::time_point now = Clock::now();
  for (const std::string& key : self->reassembler_.Expire(now)) {
    purple_debug_warning("zuvo-file-sharing", "an unfinished text from %s expired\n", key.c_str());
  }
  self->session_->Expire(now);
  self->noticeLimit_.Expire(now);
  for (const RequestOutcomes::Waiting& overdue : self->outcomes_.Expire(now)) {
    auto* account = static_cast<PurpleAccount*>(const_cast<void*>(overdue.where));
    if (AccountAlive(account)) self->TellNoAnswer(account, overdue);
  }
  return TRUE;
}

PurpleConversation* PurpleHost::ConversationWith(PurpleAccount* account, const std::string& who) {
  PurpleConversation* conv =
      purple_find_conversation_with_account(PURPLE_CONV_TYPE_IM, who.c_str(), account);
  if (!conv) conv = purple_conversation_new(PURPLE_CONV_TYPE_IM, account, who.c_str());
  return conv;
}

void PurpleHost::SystemLine(PurpleConversation* conv, const std::string& line) {
  if (!conv) return;
  gchar* escaped = g_markup_escape_text(line.c_str(), -1);
  purple_conversation_write(conv, nullptr, escaped, PURPLE_MESSAGE_SYSTEM, time(nullptr));
  g_free(escaped);
}

// |who| without an XMPP resource: the name a buddy list knows.
static std::string BareName(PurpleAccount* account, const std::string& who) {
  if (std::string(purple_account_get_protocol_id(account)) != "prpl-jabber") return who;
  return who.substr(0, who.find('/'));
}

std::string PurpleHost::ContactName(PurpleAccount* account, const std::string& who) {
  const std::string bare = BareName(account, who);
  PurpleBuddy* buddy = purple_find_buddy(account, bare.c_str());
  const char* alias = buddy ? purple_buddy_get_contact_alias(buddy) : nullptr;
  // Either is the contact's own choice: shown, never applied.
  return ShownName(alias && *alias ? alias : bare);
}

std::string PurpleHost::ContactKey(PurpleAccount* account, const std::string& who) {
  const std::string bare = BareName(account, who);
  const char* normalized = purple_normalize(account, bare.c_str());
  return std::string(purple_account_get_protocol_id(account)) + ":" +
         purple_account_get_username(account) + "\n" + (normalized ? normalized : bare);
}

bool PurpleHost::Trusted(PurpleAccount* account, const std::string& who) const {
  if (purple_prefs_get_bool(kPrefAnswerEveryone)) return true;
  if (purple_find_buddy(account, who.c_str())) return true;
  const std::string bare = who.substr(0, who.find('/'));
  return std::string(purple_account_get_protocol_id(account)) == "prpl-jabber" &&
         purple_find_buddy(account, bare.c_str()) != nullptr;
}

}  // namespace zuvo::purple
