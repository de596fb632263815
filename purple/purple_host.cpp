#include "purple/purple_host.h"

#include <glib/gstdio.h>
#include <unistd.h>

#include <random>

#include "base/text.h"
#include "host/common/drop_file.h"
#include "host/common/notice_text.h"
#include "host/common/path_text.h"
#include "host/common/reply_limit.h"
#include "purple/purple_form_view.h"

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

// Files kept open for transfers in progress.
constexpr size_t kMaxOutgoing = 32;
// Whole texts waiting for the main loop.
constexpr size_t kMaxQueued = 32;

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

bool AccountAlive(PurpleAccount* account) {
  return g_list_find(purple_accounts_get_all(), account) != nullptr &&
         purple_account_is_connected(account);
}

// The user's download folder: XDG's, else ~/Downloads.
std::string DefaultDownloadsFolder() {
  const char* xdg = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD);
  if (xdg && *xdg) return xdg;
  return std::string(g_get_home_dir()) + "/Downloads";
}

std::string DownloadsFolder() {
  const char* folder = purple_prefs_get_string(kPrefDownloads);
  return folder && *folder ? folder : DefaultDownloadsFolder();
}

std::string Asked(const Notification& request) {
  return PrintableText(request.code) +
         (request.argument.empty() ? "" : " " + PrintableText(request.argument));
}

}  // namespace

PurpleHost::PurpleHost(PurplePlugin* plugin)
    : plugin_(plugin),
      prefs_(std::make_unique<Prefs>()),
      registry_(CreatePrefsRegistry(*prefs_)),
      formView_(std::make_unique<PurpleFormView>(plugin)),
      driver_(std::make_unique<InProcessPluginDriver>(*registry_, formView_.get())),
      session_(std::make_unique<PluginSession>(*driver_, Rules())) {
  formView_->SetServer(&driver_->server());
}

PurpleHost::~PurpleHost() {
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
    const std::string title = Utf16ToUtf8(c.name);
    gchar* helpText = c.help.empty()
                          ? g_markup_printf_escaped("%s:  %s.", word.c_str(), title.c_str())
                          : g_markup_printf_escaped("%s &lt;%s&gt;:  %s.", word.c_str(),
                                                    Utf16ToUtf8(c.help).c_str(), title.c_str());
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
  // Apply; "Start On" counts from the next start, as for the add-on.
  PluginServer& server = self->driver_->server();
  if (server.HolderLoaded()) server.Holder()->LoadSettings();
  return G_SOURCE_REMOVE;
}

// ---- Local commands -----------------------------------------------------

PurpleCmdRet PurpleHost::OnCommand(PurpleConversation* conv, const gchar* cmd, gchar** args,
                                   gchar**, void* data) {
  const std::string arg = args && args[0] ? args[0] : "";
  static_cast<PurpleHost*>(data)->RunCommand(conv, cmd, arg);
  return PURPLE_CMD_RET_OK;
}

void PurpleHost::RunCommand(PurpleConversation* conv, const std::string& word,
                            const std::string& arg) {
  PurpleAccount* account = purple_conversation_get_account(conv);
  const std::string who = purple_conversation_get_name(conv);
  const PluginSession::Typed typed =
      session_->Command(ContactKey(account, who), Utf8ToUtf16(who), u"/" + Utf8ToUtf16(word),
                        Utf8ToUtf16(arg), Clock::now());
  ShowRaised(conv, typed.raised);
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
  if (typed.request)
    SystemLine(conv, "Zuvo File Sharing: asked " + who + ": " + Asked(*typed.request));
}

void PurpleHost::ShowRaised(PurpleConversation* conv, const Raised& raised) {
  for (const ToastSeen& toast : raised.toasts) {
    std::string line = "Zuvo File Sharing:";
    for (const std::u16string& l : SplitLines(toast.message)) line += " " + PrintableText(l);
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
                          const std::u16string& text) {
  PurpleConnection* gc = purple_account_get_connection(account);
  if (!gc || !purple_account_is_connected(account)) return false;
  for (const std::string& piece : EncodeText(text, NewMessageId(), PieceBytesFor(account))) {
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
  switch (ParsePiece(message, piece)) {
    case PieceKind::kNotWire:
      return false;
    case PieceKind::kOtherVersion:
      if (toldVersion_.size() >= 256) toldVersion_.clear();
      if (!toldVersion_.insert(ContactKey(account, sender)).second) return true;
      SystemLine(ConversationWith(account, sender),
                 "Zuvo File Sharing: " + sender +
                     " uses another version of the file-sharing wire form; their message was "
                     "not read.");
      return true;
    case PieceKind::kMalformed:
      purple_debug_warning("zuvo-file-sharing", "malformed piece from %s dropped\n",
                           sender.c_str());
      return true;
    case PieceKind::kPiece:
      break;
  }
  const std::string key = ContactKey(account, sender);
  Reassembler::Result r = reassembler_.Add(key, piece, Clock::now());
  if (r.kind == Reassembler::Result::Kind::kDropped) {
    purple_debug_warning("zuvo-file-sharing", "text from %s dropped: %s\n", sender.c_str(),
                         r.why.c_str());
  } else if (r.kind == Reassembler::Result::Kind::kComplete) {
    // The session hears the text now, in the order of the stream, so that
    // an answer that a file is on its way counts before the file's offer;
    // it is shown or answered from the main loop, not from inside the
    // protocol's reader. The queue empties on the loop's next turn; a flood
    // that fills it before that loses its newest texts.
    PluginSession::Heard heard = session_->Hear(key, r.text, Clock::now());
    if (queued_.size() >= kMaxQueued) {
      purple_debug_warning("zuvo-file-sharing", "too many texts at once; one from %s dropped\n",
                           sender.c_str());
      return true;
    }
    queued_.push_back({account, sender, std::move(r.text), std::move(heard)});
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
    PurpleConversation* conv = ConversationWith(a.account, a.sender);
    switch (a.heard.kind) {
      case PluginSession::Heard::Kind::kRequest:
        self->AnswerRequest(a.account, a.sender, a.heard.request);
        break;
      case PluginSession::Heard::Kind::kAnswer:
        for (const std::u16string& line : SplitLines(a.text)) SystemLine(conv, PrintableText(line));
        break;
      case PluginSession::Heard::Kind::kUnasked:
        SystemLine(conv, "Zuvo File Sharing: " + a.sender +
                             " sent a file-sharing reply that was not asked for; not shown.");
        break;
    }
  }
  return FALSE;
}

void PurpleHost::AnswerRequest(PurpleAccount* account, const std::string& sender,
                               const Notification& request) {
  const std::string key = ContactKey(account, sender);
  const bool trusted = Trusted(account, sender);
  const PluginSession::Admission admission = session_->Admit(key, trusted, request, Clock::now());
  PurpleConversation* conv = ConversationWith(account, sender);
  if (!admission.reply.empty()) SendText(account, sender, std::u16string(admission.reply));
  switch (admission.verdict) {
    case RequestGate::Verdict::kAnswer:
      break;
    case RequestGate::Verdict::kStranger:
      SystemLine(conv, "Zuvo File Sharing: " + sender +
                           ", who is not in your buddy list, asked for " + Asked(request) +
                           "; not answered.");
      return;
    case RequestGate::Verdict::kTooFast:
      if (admission.first) {
        SystemLine(conv, "Zuvo File Sharing: " + sender +
                             " asks too often; requests are ignored for a moment.");
      }
      return;
    case RequestGate::Verdict::kBusy:
      return;
  }

  SystemLine(conv, "Zuvo File Sharing: " + sender + " asks: " + Asked(request));
  const int maxLines = purple_prefs_get_int(kPrefMaxReplyLines);
  const PluginSession::Answered answered =
      session_->Answer(request, Utf8ToUtf16(sender), maxLines > 0 ? size_t(maxLines) : 0);
  ShowRaised(conv, answered.raised);
  if (answered.status.failed()) {
    SystemLine(conv, "Zuvo File Sharing: the plug-in could not answer (" +
                         answered.status.description + "); nothing was sent.");
  } else {
    if (!answered.text.empty()) SendText(account, sender, answered.text);
    for (const std::u16string& file : answered.files) SendDropFile(account, sender, file);
  }
  session_->Done(key, request);
}

// ---- Files ----------------------------------------------------------------

void PurpleHost::SendDropFile(PurpleAccount* account, const std::string& who,
                              const std::u16string& path) {
  PurpleConversation* conv = ConversationWith(account, who);
  // The plug-in checked the path as text; the host opens it beneath the
  // stored shared folder (a regular file, no link on the way).
  SharedFile file;
  if (const HostError error = OpenDropFile(*registry_, path, file); error.failed()) {
    SystemLine(conv, "Zuvo File Sharing: refused to send " + PrintableText(path) + ": " +
                         Describe(error) + ".");
    return;
  }
  PurpleConnection* gc = purple_account_get_connection(account);
  if (!gc) return;
  // libpurple opens what it sends by name, later. It gets a name of its own
  // in a private folder, the file's own name, leading to the file opened and
  // judged here: what it reads is that file, whatever happens to the path.
  gchar* folder = g_dir_make_tmp("zuvo-send-XXXXXX", nullptr);
  if (!folder) {
    SystemLine(conv,
               "Zuvo File Sharing: cannot send " + PrintableText(path) + ": no temporary folder.");
    return;
  }
  Outgoing outgoing;
  outgoing.folder = folder;
  g_free(folder);
  std::string name = Utf16ToUtf8(LastComponent(path));
  if (name.empty() || name == "." || name == "..") name = "file";
  outgoing.link = outgoing.folder + "/" + name;
  const std::string target = "/proc/self/fd/" + std::to_string(fileno(file.get()));
  if (symlink(target.c_str(), outgoing.link.c_str()) != 0) {
    g_rmdir(outgoing.folder.c_str());
    SystemLine(conv, "Zuvo File Sharing: cannot send " + PrintableText(path) + ".");
    return;
  }
  outgoing.file = std::move(file);
  // A bounded number of files stay open for transfers that never end.
  if (outgoing_.size() >= kMaxOutgoing) DropOutgoing(outgoing_.begin());
  outgoing_.push_back(std::move(outgoing));
  SystemLine(conv, "Zuvo File Sharing: sending " + PrintableText(path) + " to " + who + ".");
  serv_send_file(gc, who.c_str(), outgoing_.back().link.c_str());
}

void PurpleHost::DropOutgoing(std::vector<Outgoing>::iterator it) {
  g_unlink(it->link.c_str());
  g_rmdir(it->folder.c_str());
  outgoing_.erase(it);
}

void PurpleHost::OnFileSendEnded(PurpleXfer* xfer, void* data) {
  auto* self = static_cast<PurpleHost*>(data);
  const char* local = purple_xfer_get_local_filename(xfer);
  if (!local) return;
  for (auto it = self->outgoing_.begin(); it != self->outgoing_.end(); ++it) {
    if (it->link == local) {
      self->DropOutgoing(it);
      return;
    }
  }
}

void PurpleHost::OnFileRecvRequest(PurpleXfer* xfer, void* data) {
  if (purple_xfer_get_type(xfer) != PURPLE_XFER_RECEIVE) return;
  static_cast<PurpleHost*>(data)->AdmitFile(xfer);
}

void PurpleHost::AdmitFile(PurpleXfer* xfer) {
  PurpleAccount* account = purple_xfer_get_account(xfer);
  const char* who = purple_xfer_get_remote_user(xfer);
  const char* offered = purple_xfer_get_filename(xfer);
  if (!who || !offered) return;
  const std::u16string name = Utf8ToUtf16(offered);
  const std::string folder = DownloadsFolder();
  const HostError verdict = session_->AdmitOffer(ContactKey(account, who), name,
                                                 purple_xfer_get_size(xfer), folder, Clock::now());
  // Anything the user did not ask for goes through the client's question.
  if (verdict.kind == HostErrorKind::kNotAsked || verdict.kind == HostErrorKind::kNotAccepted) {
    return;
  }
  PurpleConversation* conv = ConversationWith(account, who);
  if (verdict.failed()) {
    // Refused before a byte is written (libpurple cancels it after this
    // signal).
    xfer->status = PURPLE_XFER_STATUS_CANCEL_LOCAL;
    SystemLine(conv, "Zuvo File Sharing: refused " + PrintableText(name) + " from " + who + ": " +
                         Describe(verdict) + ".");
    return;
  }
  if (g_mkdir_with_parents(folder.c_str(), 0700) != 0) {
    SystemLine(conv, "Zuvo File Sharing: cannot create the downloads folder " + folder +
                         "; the file is offered the usual way.");
    return;
  }
  HostError error;
  std::unique_ptr<IncomingFile> file = IncomingFile::Open(folder, name, {}, error);
  if (!file) {
    SystemLine(conv, "Zuvo File Sharing: cannot write to " + folder +
                         "; the file is offered the usual way.");
    return;
  }
  const std::string temp = file->HandOver().string();
  purple_xfer_ref(xfer);
  downloads_[xfer] = {std::move(file)};
  purple_xfer_request_accepted(xfer, temp.c_str());
  SystemLine(conv, "Zuvo File Sharing: receiving " + PrintableText(name) + " from " + who + ".");
}

void PurpleHost::OnFileRecvComplete(PurpleXfer* xfer, void* data) {
  auto* self = static_cast<PurpleHost*>(data);
  auto it = self->downloads_.find(xfer);
  if (it == self->downloads_.end()) return;
  // libpurple closes the file only after this signal: the file gets its
  // name on the loop's next turn.
  it->second.complete = true;
  if (!self->finishSource_) self->finishSource_ = g_idle_add(OnFinishDownloads, self);
}

gboolean PurpleHost::OnFinishDownloads(void* data) {
  auto* self = static_cast<PurpleHost*>(data);
  self->finishSource_ = 0;
  self->FinishDownloads();
  return FALSE;
}

void PurpleHost::FinishDownloads() {
  for (auto it = downloads_.begin(); it != downloads_.end();) {
    if (!it->second.complete) {
      ++it;
      continue;
    }
    PurpleXfer* xfer = it->first;
    const std::unique_ptr<IncomingFile> file = std::move(it->second.file);
    it = downloads_.erase(it);
    PurpleConversation* conv =
        ConversationWith(purple_xfer_get_account(xfer), purple_xfer_get_remote_user(xfer));
    if (const HostError error = file->Finish(); error.failed()) {
      SystemLine(conv, "Zuvo File Sharing: FAILED to save " + PrintableText(file->name()) + ": " +
                           Describe(error) + ".");
    } else {
      SystemLine(conv, "Zuvo File Sharing: received " + PrintableText(file->name()) +
                           ", saved as " + file->finalPath().string() + ".");
    }
    purple_xfer_unref(xfer);
  }
}

void PurpleHost::OnFileRecvCancel(PurpleXfer* xfer, void* data) {
  auto* self = static_cast<PurpleHost*>(data);
  auto it = self->downloads_.find(xfer);
  if (it == self->downloads_.end()) return;
  PurpleConversation* conv =
      ConversationWith(purple_xfer_get_account(xfer), purple_xfer_get_remote_user(xfer));
  SystemLine(conv, "Zuvo File Sharing: the transfer of " + PrintableText(it->second.file->name()) +
                       " did not finish; nothing was saved.");
  self->downloads_.erase(it);  // its temporary file goes with it
  purple_xfer_unref(xfer);
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
