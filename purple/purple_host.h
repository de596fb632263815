// The libpurple host: what the add-on does for the plug-in, done inside
// Pidgin or Finch. It is glue between libpurple's signals and the plug-in
// session (host/common/plugin_session.h), which decides: one PurpleHost
// per loaded plug-in runs one plug-in object in process and drives it as a
// session. It registers the published commands as slash commands in IM
// conversations, carries texts between two plug-ins in the wire form
// (wire.h) by each network's transport (transport.h), asks the session what
// to send and show, lets only the contacts the user trusts ask, tells the
// user the outcome of every request, sends the files the plug-in names and
// takes in the files the session admits. Everything runs on libpurple's
// main loop but the plug-in's answers to requests, which run on a worker
// thread (main_loop_worker.h) and are delivered on the loop; every other
// call into the plug-in goes through that worker's turns, so no two ever
// overlap.
#pragma once

#include <glib.h>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "files/shared_file.h"
#include "host/common/plugin_driver_posix.h"
#include "host/common/plugin_session.h"
#include "host/common/received_file.h"
#include "host/common/trust/secure_contacts.h"
#include "purple/main_loop_worker.h"
#include "purple/notice_limit.h"
#include "purple/prefs_registry.h"
#include "purple/request_outcomes.h"
#include "purple/transport.h"
#include "purple/wire_reassembly.h"

extern "C" {
#include <cmds.h>
#include <conversation.h>
#include <ft.h>
#include <plugin.h>
}

namespace zuvo::purple {

class PurpleFormView;
class SettingsNotices;

class PurpleHost : private TransportSink {
 public:
  explicit PurpleHost(PurplePlugin* plugin);
  ~PurpleHost() override;
  PurpleHost(const PurpleHost&) = delete;
  PurpleHost& operator=(const PurpleHost&) = delete;

  // Starts the plug-in object and hooks into libpurple; false when the
  // plug-in does not start (the reason is in the debug log).
  bool Start();

  // Adds the preferences with their defaults (the settings key, as the
  // add-on prepares it); the plug-in's init calls it.
  static void AddPreferences();

 private:
  using Clock = std::chrono::steady_clock;

  // libpurple callbacks.
  static PurpleCmdRet OnCommand(PurpleConversation* conv, const gchar* cmd, gchar** args,
                                gchar** error, void* data);
  // The host's own commands for the contacts' keys: "/xrkey [contact]",
  // "/xrverify [contact]", "/xrtrust [contact]" (the conversation's contact
  // when none is named).
  static PurpleCmdRet OnKeyCommand(PurpleConversation* conv, const gchar* cmd, gchar** args,
                                   gchar** error, void* data);
  static gboolean OnReceivingIm(PurpleAccount* account, char** sender, char** message,
                                PurpleConversation* conv, PurpleMessageFlags* flags, void* data);
  static void OnFileRecvRequest(PurpleXfer* xfer, void* data);
  static void OnFileRecvComplete(PurpleXfer* xfer, void* data);
  static void OnFileRecvCancel(PurpleXfer* xfer, void* data);
  static void OnFileSendEnded(PurpleXfer* xfer, void* data);
  static gboolean OnTick(void* data);
  static gboolean OnQueued(void* data);
  static gboolean OnFinishDownloads(void* data);
  // A setting changed in the client's preferences (its plug-in dialog, or
  // prefs.xml edited by the client): the settings holder loads the stored
  // settings again once the call that changed them has returned.
  static void OnSettingChanged(const char* name, PurplePrefType type, gconstpointer value,
                               void* data);
  static gboolean OnReloadSettings(void* data);

  // A command typed into the conversation with |who|, in the plug-in's turn.
  void RunCommand(PurpleAccount* account, const std::string& who, const std::string& word,
                  const std::string& arg);
  // A message that may be a piece; true when it is one (never shown).
  bool Receive(PurpleAccount* account, const std::string& sender, const std::string& message);
  // TransportSink: pieces, and what the network said of a request.
  void HeardPiece(PurpleAccount* account, const std::string& sender, PieceKind kind,
                  const Piece& piece) override;
  void RequestDelivered(PurpleAccount* account, const std::string& who, Delivery delivery) override;
  Transport& TransportFor(PurpleAccount* account) const;
  // Writes |line| about what |who| sent, within the notice limit.
  void Notice(PurpleAccount* account, const std::string& who, const std::string& line);
  void TellNoAnswer(PurpleAccount* account, const RequestOutcomes::Waiting& waiting);
  // Admits a request, and answers it on the worker thread; the answer is
  // sent (SendAnswer) from the main loop.
  void AnswerRequest(PurpleAccount* account, const std::string& sender,
                     const Notification& request);
  struct ToSend;
  void SendAnswer(PurpleAccount* account, const std::string& sender, const Notification& request,
                  const PluginSession::Answered& answered, std::vector<ToSend>& files);
  // Sends |text| in its turn: after the answers still being made.
  void SendInTurn(PurpleAccount* account, const std::string& who, std::u16string text);
  // Transfers (purple_transfers.cpp).
  void AdmitFile(PurpleXfer* xfer);
  // Gives the completed downloads their final names.
  void FinishDownloads();
  // Sends |text| sealed for |who| (a handshake first when there is no
  // session), as a frame of |kind| (a request or a reply, as the text
  // begins, when none); false, with a line for the user where it is not a
  // matter of the connection, when it could not be sent.
  bool SendText(PurpleAccount* account, const std::string& who, const std::u16string& text,
                std::optional<FrameKind> kind = std::nullopt);
  // The reply that sends a file, with the file's size and SHA-256.
  bool SendFileOffer(PurpleAccount* account, const std::string& who, const trust::FileFacts& facts,
                     const std::u16string& text);
  bool SendSealed(PurpleAccount* account, const std::string& who,
                  const trust::SecureContacts::Sent& sent, bool request);
  // A whole handshake message or record from |sender|.
  void HearSealed(PurpleAccount* account, const std::string& sender, const std::string& message);
  // A whole text of |kind| from |sender| (|offer|: the file facts that came
  // with it, inside the protection), heard by the session and queued for
  // the loop.
  void Arrive(PurpleAccount* account, const std::string& sender, FrameKind kind,
              std::u16string text, const std::optional<Announced>& offer);
  // The contact as the protection names it.
  static trust::ContactId SecureId(PurpleAccount* account, const std::string& who);
  // A file the plug-in named, opened beneath the stored shared folder
  // |share| and hashed, off the main loop (purple_transfers.cpp), with why
  // it cannot be sent if it cannot; its size and SHA-256 are offered to the
  // contact, and then SendDropFile sends it through libpurple.
  struct ToSend {
    std::u16string path;
    SharedFile file;
    trust::FileFacts facts;
    HostError error;
  };
  static ToSend PrepareDropFile(const std::u16string& path,
                                const std::optional<std::u16string>& share);
  void SendDropFile(PurpleAccount* account, const std::string& who, ToSend toSend);
  // The plug-in's answer promised a file that is not sent: the user is
  // told why, and so is the asker's host.
  void TellNotSent(PurpleAccount* account, const std::string& who, const std::u16string& path,
                   const HostError& error);
  // The user's download folder (XDG's, else ~/Downloads), and the one the
  // preferences name.
  static std::string DefaultDownloadsFolder();
  static std::string DownloadsFolder();
  void ShowRaised(PurpleConversation* conv, const Raised& raised);

  // The IM conversation with |who|, opened when there is none.
  static PurpleConversation* ConversationWith(PurpleAccount* account, const std::string& who);
  // Writes |line| (plain text) as a system line.
  static void SystemLine(PurpleConversation* conv, const std::string& line);
  // The key that names one contact of one account, the same whether a
  // message came from a full address (XMPP resource) or the buddy's name.
  // |who| as the user knows them: the buddy's alias, else the bare name,
  // shown as ShownName shows a name.
  static std::string ContactName(PurpleAccount* account, const std::string& who);
  static std::string ContactKey(PurpleAccount* account, const std::string& who);
  bool Trusted(PurpleAccount* account, const std::string& who) const;

  PurplePlugin* plugin_;
  std::unique_ptr<PrefsStore> prefs_;
  std::unique_ptr<RegistryBackend> registry_;
  std::unique_ptr<SettingsNotices> notices_;
  std::unique_ptr<PurpleFormView> formView_;
  std::unique_ptr<InProcessPluginDriver> driver_;
  std::unique_ptr<PluginSession> session_;
  // The protection between this plug-in and the contacts' (its identity
  // and pins in the client's configuration folder).
  std::unique_ptr<trust::SecureContacts> secure_;
  // Declared after what its work and deliveries use, so it stops first.
  std::unique_ptr<MainLoopWorker> worker_;

  bool started_ = false;  // Initialize answered and the host is hooked in
  std::vector<PurpleCmdId> commands_;
  guint tick_ = 0;
  guint queuedSource_ = 0;
  guint finishSource_ = 0;
  guint reloadSource_ = 0;

  Reassembler reassembler_;
  std::set<std::string> toldVersion_;  // contacts whose other wire version the user was told of
  std::unique_ptr<Transport> xmpp_, irc_, messages_;
  RequestOutcomes outcomes_;
  NoticeLimit noticeLimit_;

  // Whole texts waiting for the main loop, in arrival order, with what the
  // session made of them when they arrived.
  struct Arrived {
    PurpleAccount* account;
    std::string sender;
    PluginSession::Heard heard;
  };
  std::vector<Arrived> queued_;

  struct Download {
    std::unique_ptr<IncomingFile> file;
    bool complete = false;
  };
  std::map<PurpleXfer*, Download> downloads_;

  // A file being sent: opened and judged here, and the name libpurple
  // reads it by (a link to the open file in a private folder).
  struct Outgoing {
    SharedFile file;
    std::string folder;
    std::string link;
  };
  std::vector<Outgoing> outgoing_;  // oldest first
  void DropOutgoing(std::vector<Outgoing>::iterator it);
};

}  // namespace zuvo::purple
