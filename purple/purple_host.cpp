#include "purple/purple_host.h"

#include <random>

#include "base/text.h"
#include "host/common/host_notice.h"
#include "host/common/notice_text.h"
#include "host/common/reply_limit.h"
#include "host/common/session_words.h"
#include "host/common/settings_key.h"
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
  return rules;
}

uint32_t NewMessageId() {
  static std::mt19937 random{std::random_device{}()};
  return static_cast<uint32_t>(random());
}

size_t PieceBytesFor(PurpleAccount* account) {
  const std::string protocol = purple_account_get_protocol_id(account);
  if (protocol == "prpl-irc") return kIrcPieceBytes;
  if (protocol == "prpl-jabber") return kXmppPieceBytes;
  return kOtherPieceBytes;
}

bool AccountKnown(PurpleAccount* account) {
  return g_list_find(purple_accounts_get_all(), account) != nullptr;
}

bool AccountAlive(PurpleAccount* account) {
  return AccountKnown(account) && purple_account_is_connected(account);
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
  tick_ = g_timeout_add_seconds(5, OnTick, this);
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
  if (!SendText(account, who, typed.send)) {
    if (typed.request) {
      SystemLine(conv, "Zuvo File Sharing: not asked, the account is not connected.");
    }
    return;
  }
  if (typed.request) SystemLine(conv, "Asked " + ShownName(account, who) + ": " + typed.typed);
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

bool PurpleHost::SendText(PurpleAccount* account, const std::string& who,
                          const std::u16string& text, std::optional<FrameKind> frameKind) {
  PurpleConnection* gc = purple_account_get_connection(account);
  if (!gc || !purple_account_is_connected(account)) return false;
  const FrameKind kind = frameKind.value_or(
      !text.empty() && text[0] == kMarker ? FrameKind::kRequest : FrameKind::kReply);
  for (const std::string& piece : EncodeText(text, kind, NewMessageId(), PieceBytesFor(account))) {
    serv_send_im(gc, who.c_str(), piece.c_str(), static_cast<PurpleMessageFlags>(0));
  }
  return true;
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
  switch (kind) {
    case PieceKind::kNotWire:
      return false;
    case PieceKind::kOlderVersion:
    case PieceKind::kNewerVersion: {
      if (toldVersion_.size() >= 256) toldVersion_.clear();
      if (!toldVersion_.insert(ContactKey(account, sender)).second) return true;
      const bool older = kind == PieceKind::kOlderVersion;
      SystemLine(ConversationWith(account, sender),
                 "Zuvo File Sharing: " + sender + "'s file-sharing plug-in is " +
                     (older ? "an older" : "a newer") +
                     " version that this one cannot exchange with; their message was not read.");
      return true;
    }
    case PieceKind::kMalformed:
      purple_debug_warning("zuvo-file-sharing", "malformed piece from %s dropped\n",
                           sender.c_str());
      return true;
    case PieceKind::kPiece:
      break;
  }
  // Who sent it is judged at a frame's first piece: a reply stays wanted
  // while its pieces keep coming, however long it takes.
  const std::string key = ContactKey(account, sender);
  const bool expected = (piece.kind == FrameKind::kReply || piece.kind == FrameKind::kNotice) &&
                        session_->ExpectsAnswer(key, Clock::now());
  const SenderClass judged = ClassifySender(piece.kind, Trusted(account, sender), expected);
  Reassembler::Result r = reassembler_.Add(key, piece, judged, Clock::now());
  if (r.kind == Reassembler::Result::Kind::kDropped) {
    if (r.why == DropReason::kUnwanted && r.frameKind == FrameKind::kReply) {
      SystemLine(ConversationWith(account, sender),
                 "Zuvo File Sharing: " + sender +
                     " sent a file-sharing reply that was not asked for; not shown.");
    } else if (r.sender == SenderClass::kStranger && r.why == DropReason::kTooLarge) {
      SystemLine(ConversationWith(account, sender),
                 "Zuvo File Sharing: " + sender +
                     ", who is not in your buddy list, sent a file-sharing request too long to "
                     "show; not answered.");
    } else if (r.why != DropReason::kGivenUp) {
      purple_debug_warning("zuvo-file-sharing", "message from %s dropped: %s\n", sender.c_str(),
                           DropReasonText(r.why));
    }
  } else if (r.kind == Reassembler::Result::Kind::kComplete) {
    std::u16string text;
    // A request frame carries a notification and a reply frame never does;
    // anything else is not read.
    if (!BytesToText(r.message, text) ||
        (r.frameKind == FrameKind::kRequest) != (!text.empty() && text[0] == kMarker)) {
      return true;
    }
    // The session hears the text now, in the order of the stream, so that
    // an answer that a file is on its way counts before the file's offer;
    // it is shown or answered from the main loop, not from inside the
    // protocol's reader. The queue empties on the loop's next turn; a flood
    // that fills it before that loses its newest texts.
    PluginSession::Heard heard;
    if (r.frameKind == FrameKind::kNotice) {
      heard.lines = session_->HearNotice(key, text, Utf8ToUtf16(ShownName(account, sender)));
      if (heard.lines.empty()) return true;
    } else {
      heard = session_->Hear(key, text, Clock::now(), Utf8ToUtf16(ShownName(account, sender)));
    }
    if (queued_.size() >= kMaxQueued) {
      purple_debug_warning("zuvo-file-sharing", "too many texts at once; one from %s dropped\n",
                           sender.c_str());
      return true;
    }
    // A request's text lives on in |heard|; an answer's is shown.
    if (heard.kind == PluginSession::Heard::Kind::kRequest) text.clear();
    queued_.push_back({account, sender, std::move(text), std::move(heard)});
    if (!queuedSource_) queuedSource_ = g_idle_add(OnQueued, this);
  }
  return true;
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
      PurpleConversation* conv = ConversationWith(a.account, a.sender);
      for (const std::u16string& line : a.heard.lines) SystemLine(conv, PrintableText(line));
    } else {
      SystemLine(ConversationWith(a.account, a.sender),
                 "Zuvo File Sharing: " + a.sender +
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
      SystemLine(ConversationWith(account, sender),
                 "Zuvo File Sharing: " + sender + ", who is not in your buddy list, asked for " +
                     TypedRequest(request) + "; not answered.");
      return;
    case RequestGate::Verdict::kTooFast:
      if (admission.first) {
        SystemLine(
            ConversationWith(account, sender),
            "Zuvo File Sharing: " + sender + " asks too often; requests are ignored for a moment.");
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
             ShownName(account, sender) + " asks: " + TypedRequest(request));
  const int maxLines = purple_prefs_get_int(kPrefMaxReplyLines);
  // The work reads only the plug-in (its settings holder was loaded at
  // Initialize, and this host's form never unloads it) and the files: none
  // of libpurple, which belongs to the main loop.
  auto answered = std::make_shared<PluginSession::Answered>();
  worker.Post(
      [session = session_.get(), answered, request, name = Utf8ToUtf16(sender),
       lines = maxLines > 0 ? size_t(maxLines) : 0] {
        try {
          *answered = session->Answer(request, name, lines);
        } catch (const std::exception& e) {
          answered->status = {hr::kUnexpected, e.what()};
        }
      },
      [this, account, sender, key, request, answered] {
        session_->Done(key, request);
        if (AccountAlive(account)) SendAnswer(account, sender, request, *answered);
      });
}

void PurpleHost::SendAnswer(PurpleAccount* account, const std::string& sender,
                            const Notification& request, const PluginSession::Answered& answered) {
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
  if (!answered.text.empty()) SendText(account, sender, answered.text);
  for (const std::u16string& file : answered.files) SendDropFile(account, sender, file);
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

std::string PurpleHost::ShownName(PurpleAccount* account, const std::string& who) {
  std::string bare = who;
  if (std::string(purple_account_get_protocol_id(account)) == "prpl-jabber") {
    bare = bare.substr(0, bare.find('/'));
  }
  PurpleBuddy* buddy = purple_find_buddy(account, bare.c_str());
  const char* alias = buddy ? purple_buddy_get_contact_alias(buddy) : nullptr;
  return alias && *alias ? alias : bare;
}

std::string PurpleHost::ContactKey(PurpleAccount* account, const std::string& who) {
  std::string bare = who;
  if (std::string(purple_account_get_protocol_id(account)) == "prpl-jabber") {
    bare = bare.substr(0, bare.find('/'));
  }
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
