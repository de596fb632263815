#include "purple/purple_host.h"

#include <fcntl.h>
#include <glib/gstdio.h>
#include <unistd.h>

#include <random>

#include "base/plugin_error.h"
#include "base/text.h"
#include "core/px_plugin_const.h"
#include "files/shared_file.h"
#include "host/chat/platform.h"
#include "host/chat/transfer.h"
#include "host/common/drop_file.h"
#include "host/common/idle_event_pump.h"
#include "host/common/notice_text.h"
#include "host/common/path_text.h"
#include "host/common/toast_window_posix.h"
#include "purple/purple_form_view.h"
#include "purple/reply_limit.h"

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

// How long after asking a contact its replies are shown.
constexpr auto kReplyWindow = std::chrono::minutes(10);
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

// The plug-in's message boxes as the client's own notices.
class NoticeBox : public MessageBoxSeam {
 public:
  explicit NoticeBox(PurplePlugin* plugin) : plugin_(plugin) {}
  void Show(const std::u16string& text, const std::u16string& title) override {
    const std::string t = Utf16ToUtf8(title);
    const std::string m = Utf16ToUtf8(text);
    purple_notify_message(plugin_, PURPLE_NOTIFY_MSG_INFO, t.c_str(), m.c_str(), nullptr, nullptr,
                          nullptr);
  }

 private:
  PurplePlugin* plugin_;
};

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

bool IsListing(const std::u16string& code) {
  return EqualsIgnoreCase(code, u"rlist") || EqualsIgnoreCase(code, u"rfldr") ||
         EqualsIgnoreCase(code, u"rflds") || EqualsIgnoreCase(code, u"rsrch");
}

}  // namespace

PurpleHost::PurpleHost(PurplePlugin* plugin)
    : plugin_(plugin),
      prefs_(std::make_unique<Prefs>()),
      registry_(CreatePrefsRegistry(*prefs_)),
      formView_(std::make_unique<PurpleFormView>(plugin)),
      messageBox_(std::make_unique<NoticeBox>(plugin)),
      fileSystem_(CreatePlatformFileSystem()),
      eventPump_(std::make_unique<IdleEventPump>()) {
  Platform platform;
  platform.registry = registry_.get();
  platform.messageBox = messageBox_.get();
  platform.formView = formView_.get();
  platform.windowMessages = &windowMessages_;
  platform.fileSystem = fileSystem_.get();
  platform.eventPump = eventPump_.get();
  server_ = std::make_unique<PluginServer>(platform);
  formView_->SetServer(server_.get());
  plugin_object_ = std::make_unique<beta>(*server_);
  // Requests are answered from the main loop's own callbacks, so nothing is
  // pumped from inside them; toasts are kept until the call that raised them
  // returns.
  OpenToastWindow(windowMessages_, [this](ToastSeen toast) { toasts_.push_back(toast.message); });
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
  for (auto& [xfer, download] : downloads_) {
    g_unlink(download.tempPath.c_str());
    purple_xfer_unref(xfer);
  }
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
  beta& p = *plugin_object_;
  bool ok = false;
  CallStatus status = CallContract([&] { return p.Initialize(1, u"", nullptr); }, ok);
  ShowRaised(nullptr);
  if (status.failed() || !ok) {
    purple_debug_error("zuvo-file-sharing", "Initialize failed: %s\n", status.description.c_str());
    return false;
  }
  std::u16string name;
  int32_t count = 0, tags = 0;
  status = CallContract([&] { return p.GetPublishInfo(name, count, tags); }, ok);
  if (status.failed() || !ok) return false;
  for (int32_t i = 1; i <= count && i <= 100; ++i) {
    std::u16string title, value, help;
    Variant v;
    if (CallContract([&] { return p.GetPublishCommandInfo(i, title, value, help); }, v).failed() ||
        value.empty()) {
      continue;
    }
    const std::string word = Utf16ToUtf8(value);
    gchar* helpText = g_markup_printf_escaped(
        help.empty() ? "%s:  %s." : "%s &lt;%s&gt;:  %s.", word.c_str(),
        help.empty() ? Utf16ToUtf8(title).c_str() : Utf16ToUtf8(help).c_str(),
        Utf16ToUtf8(title).c_str());
    const PurpleCmdId id = purple_cmd_register(
        word.c_str(), "s", PURPLE_CMD_P_PLUGIN,
        static_cast<PurpleCmdFlag>(PURPLE_CMD_FLAG_IM | PURPLE_CMD_FLAG_ALLOW_WRONG_ARGS), nullptr,
        OnCommand, helpText, this);
    g_free(helpText);
    if (id) commands_.push_back(id);
  }
  purple_signal_connect(purple_conversations_get_handle(), "receiving-im-msg", plugin_,
                        PURPLE_CALLBACK(OnReceivingIm), this);
  purple_signal_connect(purple_xfers_get_handle(), "file-recv-request", plugin_,
                        PURPLE_CALLBACK(OnFileRecvRequest), this);
  purple_signal_connect(purple_xfers_get_handle(), "file-recv-complete", plugin_,
                        PURPLE_CALLBACK(OnFileRecvComplete), this);
  purple_signal_connect(purple_xfers_get_handle(), "file-recv-cancel", plugin_,
                        PURPLE_CALLBACK(OnFileRecvCancel), this);
  purple_signal_connect(purple_xfers_get_handle(), "file-send-complete", plugin_,
                        PURPLE_CALLBACK(OnFileSendEnded), this);
  purple_signal_connect(purple_xfers_get_handle(), "file-send-cancel", plugin_,
                        PURPLE_CALLBACK(OnFileSendEnded), this);
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
  if (self->server_->HolderLoaded()) self->server_->Holder()->LoadSettings();
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
  std::u16string sResult;
  bool result = false;
  const CallStatus status = CallContract(
      [&] {
        return plugin_object_->ParseCommand(u"/" + Utf8ToUtf16(word), Utf8ToUtf16(arg), nullptr,
                                            sResult);
      },
      result);
  ShowRaised(conv);
  if (status.failed()) {
    SystemLine(conv, "Zuvo File Sharing: the command failed (" + status.description + ").");
    return;
  }
  if (!result || sResult.empty()) return;
  if (sResult[0] != kMarker) {
    SendText(account, who, sResult);
    return;
  }
  const std::u16string code = sResult.substr(1, 5);
  const std::u16string rest = sResult.size() > 6 ? sResult.substr(6) : u"";
  const std::string key = ContactKey(account, who);
  asked_[key] = Clock::now();
  if (EqualsIgnoreCase(code, u"rfile")) awaited_.Expect(key, rest, Clock::now());
  if (!SendText(account, who, sResult)) {
    SystemLine(conv, "Zuvo File Sharing: not asked, the account is not connected.");
    return;
  }
  SystemLine(conv, "Zuvo File Sharing: asked " + who + ": " + PrintableText(code) +
                       (rest.empty() ? "" : " " + PrintableText(rest)));
  // As the add-on does, the plug-in gets its own request back once and
  // takes it as its echo; whatever it answers to it is not sent.
  std::u16string echoReply;
  CallContract(
      [&] {
        return plugin_object_->ReceiveNotify(code, rest, Utf8ToUtf16(who), nullptr, echoReply);
      },
      result);
  ShowRaised(conv);
}

void PurpleHost::ShowRaised(PurpleConversation* conv) {
  for (const std::u16string& toast : std::exchange(toasts_, {})) {
    std::string line = "Zuvo File Sharing:";
    for (const std::u16string& l : SplitLines(toast)) line += " " + PrintableText(l);
    if (conv) {
      SystemLine(conv, line);
    } else {
      purple_notify_info(plugin_, "Zuvo File Sharing", line.c_str(), nullptr);
    }
  }
}

// ---- Texts between the two plug-ins --------------------------------------

bool PurpleHost::SendText(PurpleAccount* account, const std::string& who,
                          const std::u16string& text) {
  PurpleConnection* gc = purple_account_get_connection(account);
  if (!gc || !purple_account_is_connected(account)) return false;
  const FrameKind kind =
      !text.empty() && text[0] == kMarker ? FrameKind::kRequest : FrameKind::kReply;
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
  const auto asked = asked_.find(key);
  const bool expected = asked != asked_.end() && Clock::now() - asked->second <= kReplyWindow;
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
    if (!BytesToText(r.message, text)) return true;
    // Answered from the main loop, not from inside the protocol's reader.
    // The queue empties on the loop's next turn; a flood that fills it
    // before that loses its newest texts.
    if (queued_.size() >= kMaxQueued) {
      purple_debug_warning("zuvo-file-sharing", "too many texts at once; one from %s dropped\n",
                           sender.c_str());
      return true;
    }
    queued_.push_back({account, sender, r.frameKind, std::move(text)});
    if (!queuedSource_) queuedSource_ = g_idle_add(OnQueued, this);
  }
  return true;
}

gboolean PurpleHost::OnQueued(void* data) {
  auto* self = static_cast<PurpleHost*>(data);
  self->queuedSource_ = 0;
  std::vector<Arrived> queued = std::exchange(self->queued_, {});
  for (Arrived& a : queued) {
    if (AccountAlive(a.account)) self->HandleText(a.account, a.sender, a.kind, a.text);
  }
  return FALSE;
}

void PurpleHost::HandleText(PurpleAccount* account, const std::string& sender, FrameKind kind,
                            const std::u16string& text) {
  if (kind == FrameKind::kRequest && !text.empty() && text[0] == kMarker) {
    AnswerRequest(account, sender, text);
  } else if (kind == FrameKind::kReply) {
    ShowReply(account, sender, text);
  }
}

void PurpleHost::AnswerRequest(PurpleAccount* account, const std::string& sender,
                               const std::u16string& request) {
  const std::u16string code = request.substr(1, 5);
  const std::u16string arg = request.size() > 6 ? request.substr(6) : u"";
  const std::string asked = PrintableText(code) + (arg.empty() ? "" : " " + PrintableText(arg));
  const std::string key = ContactKey(account, sender);
  const bool listing = IsListing(code);
  const bool trusted = Trusted(account, sender);
  const RequestGate::Decision d = gate_.Admit(key, trusted, listing, Clock::now());
  switch (d.verdict) {
    case RequestGate::Verdict::kAnswer:
      break;
    case RequestGate::Verdict::kStranger:
      SystemLine(ConversationWith(account, sender),
                 "Zuvo File Sharing: " + sender + ", who is not in your buddy list, asked for " +
                     asked + "; not answered.");
      return;
    case RequestGate::Verdict::kTooFast:
      if (d.first) {
        SystemLine(
            ConversationWith(account, sender),
            "Zuvo File Sharing: " + sender + " asks too often; requests are ignored for a moment.");
        // A stranger gets no answer at all, not even this one.
        if (trusted) {
          SendText(account, sender, u"Too many requests, please wait a moment and ask again");
        }
      }
      return;
    case RequestGate::Verdict::kBusy:
      if (d.first) {
        SendText(account, sender,
                 u"Busy with your previous list, please wait for it and ask again");
      }
      return;
  }

  PurpleConversation* conv = ConversationWith(account, sender);
  SystemLine(conv, "Zuvo File Sharing: " + sender + " asks: " + asked);
  std::u16string reply;
  bool result = false;
  const CallStatus status = CallContract(
      [&] { return plugin_object_->ReceiveNotify(code, arg, Utf8ToUtf16(sender), nullptr, reply); },
      result);
  ShowRaised(conv);
  if (status.failed()) {
    SystemLine(conv, "Zuvo File Sharing: the plug-in could not answer (" + status.description +
                         "); nothing was sent.");
  } else if (result && !reply.empty()) {
    // Lines (LF) that read "#/dropfile " and a path are for this host; the
    // rest goes to the contact, cut to the host's limit.
    const ReplyParts parts = SplitDropFiles(reply);
    const int maxLines = purple_prefs_get_int(kPrefMaxReplyLines);
    if (!parts.text.empty()) {
      SendText(account, sender, LimitReplyLines(parts.text, maxLines > 0 ? maxLines : 0));
    }
    for (const std::u16string& file : parts.files) SendDropFile(account, sender, file);
  }
  if (listing) gate_.ListingDone(key);
}

void PurpleHost::ShowReply(PurpleAccount* account, const std::string& sender,
                           const std::u16string& reply) {
  // Only a reply that was asked for comes this far (Receive).
  PurpleConversation* conv = ConversationWith(account, sender);
  auto it = asked_.find(ContactKey(account, sender));
  if (it != asked_.end()) it->second = Clock::now();
  for (const std::u16string& line : SplitLines(reply)) SystemLine(conv, PrintableText(line));
}

// ---- Files ----------------------------------------------------------------

void PurpleHost::SendDropFile(PurpleAccount* account, const std::string& who,
                              const std::u16string& path) {
  PurpleConversation* conv = ConversationWith(account, who);
  // The plug-in checked the path as text; the host opens it beneath the
  // stored shared folder (a regular file, no link on the way).
  std::string why;
  SharedFile file;
  if (!OpenDropFile(*registry_, path, file, why)) {
    SystemLine(conv,
               "Zuvo File Sharing: refused to send " + PrintableText(path) + ": " + why + ".");
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
  std::string name = Utf16ToUtf8(AwaitedFiles::FileNameOf(path));
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
  auto* self = static_cast<PurpleHost*>(data);
  if (purple_xfer_get_type(xfer) != PURPLE_XFER_RECEIVE) return;
  PurpleAccount* account = purple_xfer_get_account(xfer);
  const char* who = purple_xfer_get_remote_user(xfer);
  const char* offered = purple_xfer_get_filename(xfer);
  if (!who || !offered) return;
  const std::u16string name = Utf8ToUtf16(offered);
  // Anything the user did not ask for goes through the client's question.
  if (!self->awaited_.Take(ContactKey(account, who), name, Clock::now())) return;
  const std::string folder = DownloadsFolder();
  PurpleConversation* conv = ConversationWith(account, who);
  if (g_mkdir_with_parents(folder.c_str(), 0700) != 0) {
    SystemLine(conv, "Zuvo File Sharing: cannot create the downloads folder " + folder +
                         "; the file is offered the usual way.");
    return;
  }
  std::string temp = folder + "/.zuvo-download-XXXXXX";
  const int fd = g_mkstemp_full(temp.data(), O_WRONLY, 0600);
  if (fd < 0) {
    SystemLine(conv, "Zuvo File Sharing: cannot write to " + folder +
                         "; the file is offered the usual way.");
    return;
  }
  close(fd);
  purple_xfer_ref(xfer);
  self->downloads_[xfer] = {temp, chat::SafeFileName(name)};
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
    const Download download = it->second;
    it = downloads_.erase(it);
    PurpleConversation* conv =
        ConversationWith(purple_xfer_get_account(xfer), purple_xfer_get_remote_user(xfer));
    const std::filesystem::path folder = std::filesystem::path(download.tempPath).parent_path();
    std::string why;
    std::string saved;
    for (unsigned n = 0; n < 10000 && saved.empty() && why.empty(); ++n) {
      const std::filesystem::path candidate =
          folder / PathFromText(chat::CandidateName(download.name, n));
      if (chat::MoveNoReplace(download.tempPath, candidate, why) == chat::MoveResult::kMoved) {
        saved = candidate.string();
      }
    }
    if (saved.empty()) {
      g_unlink(download.tempPath.c_str());
      SystemLine(conv, "Zuvo File Sharing: FAILED to save " + PrintableText(download.name) + ": " +
                           (why.empty() ? "no free name" : why) + ".");
    } else {
      SystemLine(conv, "Zuvo File Sharing: received " + PrintableText(download.name) +
                           ", saved as " + saved + ".");
    }
    purple_xfer_unref(xfer);
  }
}

void PurpleHost::OnFileRecvCancel(PurpleXfer* xfer, void* data) {
  auto* self = static_cast<PurpleHost*>(data);
  auto it = self->downloads_.find(xfer);
  if (it == self->downloads_.end()) return;
  g_unlink(it->second.tempPath.c_str());
  PurpleConversation* conv =
      ConversationWith(purple_xfer_get_account(xfer), purple_xfer_get_remote_user(xfer));
  SystemLine(conv, "Zuvo File Sharing: the transfer of " + PrintableText(it->second.name) +
                       " did not finish; nothing was saved.");
  self->downloads_.erase(it);
  purple_xfer_unref(xfer);
}

// ---- Housekeeping -----------------------------------------------------------

gboolean PurpleHost::OnTick(void* data) {
  auto* self = static_cast<PurpleHost*>(data);
  const Clock::time_point now = Clock::now();
  for (const std::string& key : self->reassembler_.Expire(now)) {
    purple_debug_warning("zuvo-file-sharing", "an unfinished text from %s expired\n", key.c_str());
  }
  for (auto it = self->asked_.begin(); it != self->asked_.end();) {
    it = now - it->second > kReplyWindow ? self->asked_.erase(it) : std::next(it);
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
