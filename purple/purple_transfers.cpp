// The libpurple host's file transfers: the files its plug-in names, offered
// through libpurple from the file opened here, and the files offered to the
// user, judged by the session and stored by host/common's received file.
#include <errno.h>
#include <glib/gstdio.h>
#include <unistd.h>

#include "base/text.h"
#include "host/common/drop_file.h"
#include "host/common/host_notice.h"
#include "host/common/path_text.h"
#include "host/common/session_words.h"
#include "host/common/shown_text.h"
#include "purple/purple_host.h"

extern "C" {
#include <debug.h>
#include <prefs.h>
#include <server.h>
}

namespace zuvo::purple {
namespace {

// Files kept open for transfers in progress.
constexpr size_t kMaxOutgoing = 32;

}  // namespace

std::string PurpleHost::DefaultDownloadsFolder() {
  const char* xdg = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD);
  if (xdg && *xdg) return xdg;
  return std::string(g_get_home_dir()) + "/Downloads";
}

std::string PurpleHost::DownloadsFolder() {
  const char* folder = purple_prefs_get_string(kPrefDownloads);
  return folder && *folder ? folder : DefaultDownloadsFolder();
}

PurpleHost::ToSend PurpleHost::PrepareDropFile(const std::u16string& path,
                                               const std::optional<std::u16string>& share) {
  // The plug-in checked the path as text; the host opens it beneath the
  // stored shared folder (a regular file, no link on the way).
  ToSend out;
  out.path = path;
  out.error = share ? OpenInsideSharedFolder(path, *share, out.file)
                    : Failure(HostErrorKind::kNoSharedFolder);
  if (out.error.failed()) return out;
  // Its size and SHA-256, read from the open file by offset (the transfer
  // reads it from its start).
  trust::FileHasher hasher;
  std::string buffer(1 << 16, '\0');
  const int fd = fileno(out.file.get());
  for (off_t at = 0;;) {
    const ssize_t n = pread(fd, buffer.data(), buffer.size(), at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      out.error = Failure(HostErrorKind::kUnreadable);
      return out;
    }
    if (n == 0) break;
    hasher.Update(std::string_view(buffer.data(), static_cast<size_t>(n)));
    at += n;
  }
  out.facts = hasher.Finish();
  return out;
}

void PurpleHost::TellNotSent(PurpleAccount* account, const std::string& who,
                             const std::u16string& path, const HostError& error) {
  SystemLine(ConversationWith(account, who), "Could not send " + ShownText(path) + " to " +
                                                 ContactName(account, who) + ": " +
                                                 Describe(error) + ".");
  SendText(account, who, EncodeNotice(NotSentNotice(error.kind, path)), FrameKind::kNotice);
}

void PurpleHost::SendDropFile(PurpleAccount* account, const std::string& who, ToSend toSend) {
  PurpleConversation* conv = ConversationWith(account, who);
  const std::u16string& path = toSend.path;
  PurpleConnection* gc = purple_account_get_connection(account);
  if (!gc) return;
  // libpurple opens what it sends by name, later. It gets a name of its own
  // in a private folder, the file's own name, leading to the file opened and
  // judged here: what it reads is that file, whatever happens to the path.
  gchar* folder = g_dir_make_tmp("zuvo-send-XXXXXX", nullptr);
  if (!folder) {
    TellNotSent(account, who, path, Failure(HostErrorKind::kSystem, "no temporary folder"));
    return;
  }
  Outgoing outgoing;
  outgoing.folder = folder;
  g_free(folder);
  std::string name = Utf16ToUtf8(LastComponent(path));
  if (name.empty() || name == "." || name == "..") name = "file";
  outgoing.link = outgoing.folder + "/" + name;
  const std::string target = "/proc/self/fd/" + std::to_string(fileno(toSend.file.get()));
  if (symlink(target.c_str(), outgoing.link.c_str()) != 0) {
    g_rmdir(outgoing.folder.c_str());
    TellNotSent(account, who, path, Failure(HostErrorKind::kSystem, "no link to the open file"));
    return;
  }
  outgoing.file = std::move(toSend.file);
  // A bounded number of files stay open for transfers that never end.
  if (outgoing_.size() >= kMaxOutgoing) DropOutgoing(outgoing_.begin());
  outgoing_.push_back(std::move(outgoing));
  SystemLine(conv, "Sending " + ShownText(path) + " to " + ContactName(account, who) + ".");
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
  AwaitedFiles::Awaited admitted;
  const HostError verdict = session_->AdmitOffer(
      ContactKey(account, who), name, purple_xfer_get_size(xfer), folder, Clock::now(), &admitted);
  // Anything the user did not ask for goes through the client's question.
  if (verdict.kind == HostErrorKind::kNotAsked) return;
  PurpleConversation* conv = ConversationWith(account, who);
  // A file of the name asked for that the contact's key did not offer (an
  // impostor under the contact's name, or an offer after a refusal) is
  // refused, not put to the user as an ordinary transfer.
  const std::string contact = ContactName(account, who);
  if (verdict.failed()) {
    // Refused before a byte is written (libpurple cancels it after this
    // signal).
    xfer->status = PURPLE_XFER_STATUS_CANCEL_LOCAL;
    SystemLine(conv, NotSavedLine(name, contact, Describe(verdict)));
    return;
  }
  if (g_mkdir_with_parents(folder.c_str(), 0700) != 0) {
    SystemLine(conv, "Zuvo File Sharing: cannot create the downloads folder " + folder +
                         "; the file is offered the usual way.");
    return;
  }
  HostError error;
  std::unique_ptr<IncomingFile> file = IncomingFile::Open(folder, name, admitted.announced, error);
  if (!file) {
    SystemLine(conv, "Zuvo File Sharing: cannot write to " + folder +
                         "; the file is offered the usual way.");
    return;
  }
  const std::string temp = file->HandOver().string();
  purple_xfer_ref(xfer);
  downloads_[xfer] = {std::move(file)};
  purple_xfer_request_accepted(xfer, temp.c_str());
  SystemLine(conv, ReceivingLine(name, purple_xfer_get_size(xfer), contact));
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
    PurpleAccount* account = purple_xfer_get_account(xfer);
    const char* who = purple_xfer_get_remote_user(xfer);
    PurpleConversation* conv = ConversationWith(account, who);
    // A file that is not what its sender's key offered is deleted (with
    // |file|), and the user is told why.
    if (const HostError error = file->Finish(); error.failed()) {
      SystemLine(conv, NotSavedLine(file->name(), ContactName(account, who),
                                    Describe(error) + "; what arrived was deleted"));
    } else {
      SystemLine(conv, SavedFileLine(file->finalPath(), file->received(), file->digestVerified(),
                                     g_get_home_dir()));
    }
    purple_xfer_unref(xfer);
  }
}

void PurpleHost::OnFileRecvCancel(PurpleXfer* xfer, void* data) {
  auto* self = static_cast<PurpleHost*>(data);
  auto it = self->downloads_.find(xfer);
  if (it == self->downloads_.end()) return;
  PurpleAccount* account = purple_xfer_get_account(xfer);
  const char* who = purple_xfer_get_remote_user(xfer);
  SystemLine(ConversationWith(account, who),
             NotSavedLine(it->second.file->name(), ContactName(account, who),
                          "the transfer did not finish"));
  self->downloads_.erase(it);  // its temporary file goes with it
  purple_xfer_unref(xfer);
}

}  // namespace zuvo::purple
