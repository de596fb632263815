// beta: answering a contact's requests (ReceiveNotify). The five request
// codes, the echo of the local user's own request, the refusals while
// sharing is not on, and the replies built from the shared folder.
//
// Every path a contact names is judged by the access rules (PathAccess):
// a file is sent, and a folder listed, only when it resolves inside the
// shared folder; a shared-folder setting that is empty or not absolute
// shares nothing.
//
// The work of one request is bounded by the share, never by the request's
// text: a pattern list counts each distinct piece once and is refused past
// the bounds of files/wildcard.h, and a listing's reply stops at
// kMaxReplyChars with a last line that says it was cut.
#include <algorithm>
#include <string_view>

#include "base/plugin_error.h"
#include "base/text.h"
#include "core/beta.h"
#include "core/notify_text.h"
#include "files/shared_file.h"
#include "files/wildcard.h"

namespace zuvo {
namespace {

constexpr std::u16string_view kListCut =
    u"... (list cut here: the reply reached its size limit; ask for fewer files)";

// The answer to a pattern list past the bounds, naming them.
std::u16string TooManyPatterns() {
  return u"Request Denied, too many file patterns: at most " + DecimalText(kMaxPatternPieces) +
         u" different ones, of " + DecimalText(kMaxPatternChars) + u" characters in all";
}

// The decimal text of |count| + 1, counted in the text itself so that it
// never overflows. The count starts from nothing before Initialize.
std::u16string NextCount(const std::u16string& count) {
  if (!std::all_of(count.begin(), count.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; })) {
    throw PluginError(hr::kTypeMismatch, "Type mismatch");
  }
  std::u16string next = count.empty() ? u"0" : count;
  size_t i = next.size();
  while (i > 0 && next[i - 1] == u'9') next[--i] = u'0';
  if (i == 0) {
    next.insert(next.begin(), u'1');
  } else {
    ++next[i - 1];
  }
  return next;
}

}  // namespace

bool beta::ReceiveNotify(const std::u16string& sNotifyCode, const std::u16string& sText,
                         const std::u16string&, HostObject*, std::u16string& sTextToSend) {
  const std::optional<RequestCode> found = FindRequestCode(sNotifyCode);
  if (!found) return false;
  const RequestCode code = *found;

  // The requested path is taken before the echo and the sharing state are
  // looked at, so a swallowed or refused file request still sets it.
  if (code == RequestCode::kFile) state_.sRequestedFile = sText;

  // The local user's own request coming back through the host.
  if (state_.bOwnRequestPending) {
    state_.bOwnRequestPending = false;
    return true;
  }

  if (state_.sSharingOn != u"1") {
    // A file request while the state is neither on nor off gets no reply.
    if (code != RequestCode::kFile || state_.sSharingOn == u"0") sTextToSend = kSharingOffReply;
    return true;
  }

  switch (code) {
    case RequestCode::kList:
      AnswerList(sText, sTextToSend);
      break;
    case RequestCode::kFile:
      AnswerFile(sTextToSend);
      break;
    case RequestCode::kFolder:
    case RequestCode::kFolders:
      AnswerFolder(code, sText, sTextToSend);
      break;
    case RequestCode::kSearch:
      AnswerSearch(sText, sTextToSend);
      break;
  }
  return true;
}

// The files of the shared folder that match the patterns, with or without
// its sub-folders.
void beta::AnswerList(const std::u16string& sText, std::u16string& sTextToSend) {
  state_.sSharedFolder = server_.Holder()->SharedFolder();
  state_.sSubFolders = server_.Holder()->SubFolders();
  if (state_.sSubFolders != u"0" && state_.sSubFolders != u"1") return;
  const bool recursive = state_.sSubFolders == u"1";
  // The recursive walk lets the host run, which may enter ReceiveNotify
  // again and overwrite the working fields: the walk gets copies of its own.
  const std::u16string folder = state_.sSharedFolder;
  const std::u16string patterns = sText;

  if (!PatternListWithinBounds(patterns)) {
    sTextToSend = TooManyPatterns();
    return;
  }
  sTextToSend = kOfferingReply;
  if (!server_.access().ResolveShare(folder)) return;
  WriteListingReply(
      sTextToSend, kOfferingReply,
      [&](PathList& list) {
        if (recursive) {
          server_.files().ListFilesRecursive(list, folder, patterns);
        } else {
          server_.files().ListFiles(list, folder, patterns);
        }
      },
      maxReplyChars_, kListCut);
}

// The files ("rfldr") or the sub-folders ("rflds") of a folder given
// relative to the shared folder. An argument that leaves the shared folder is
// answered as a folder that does not exist.
void beta::AnswerFolder(RequestCode code, const std::u16string& sText,
                        std::u16string& sTextToSend) {
  const std::u16string share = server_.Holder()->SharedFolder();
  std::u16string folder;
  folder.reserve(share.size() + 1 + sText.size());
  folder += share;
  folder += server_.files().separator();
  folder += sText;
  state_.sSharedFolder = folder;
  state_.sSubFolders = server_.Holder()->SubFolders();

  sTextToSend = kOfferingReply;
  const PathAccess& access = server_.access();
  const std::optional<ResolvedPath> root = access.ResolveShare(share);
  if (!root || !access.IsFolderArgumentInside(sText, folder, *root)) return;
  // The folder is opened from the shared folder's own folder, by the path
  // the rules judged, so a link swapped in meanwhile leads nowhere.
  const std::optional<std::u16string> below = access.PathBelow(folder, *root);
  if (!below) return;
  const DirRecurse::Beneath where{share, *below};
  WriteListingReply(
      sTextToSend, kOfferingReply,
      [&](PathList& list) {
        if (code == RequestCode::kFolder) {
          server_.files().ListFiles(list, folder, u"*.*", &where);
        } else {
          server_.files().ListSubFolders(list, folder, &where);
        }
      },
      maxReplyChars_, kListCut);
}

// The full path of the first file of the given name below the shared folder,
// whatever the sub-folders setting.
void beta::AnswerSearch(const std::u16string& sText, std::u16string& sTextToSend) {
  state_.sSharedFolder = server_.Holder()->SharedFolder();
  state_.sSubFolders = server_.Holder()->SubFolders();
  sTextToSend = kOfferingReply;

  std::u16string found;
  const PathAccess& access = server_.access();
  const std::optional<ResolvedPath> root = access.ResolveShare(state_.sSharedFolder);
  if (root && access.IsPlainName(sText)) {
    std::u16string name = sText;
    found = server_.files().FindFileInTree(name, state_.sSharedFolder);
    if (!found.empty() && (HasControlCharacter(found) || !IsOffered(found))) found.clear();
  }
  sTextToSend.reserve(sTextToSend.size() + 1 + found.size());
  sTextToSend += kCR;
  sTextToSend += found;
}

// Whether |path| may be offered: the rules put it inside the shared folder,
// and opened beneath the shared folder it passes through no link and lies
// where its name says. A path that names no readable file is still offered,
// as the rules judged it; the host then reports the failure.
bool beta::IsOffered(std::u16string_view path) {
  SharedFile file;
  return OpenSharedFile(server_.files(), server_.access(), server_.Holder()->SharedFolder(), path,
                        file) != FsStatus::kBadPath;
}

// Sends the requested file when it lies inside the shared folder.
void beta::AnswerFile(std::u16string& sTextToSend) {
  const std::u16string& path = state_.sRequestedFile;
  if (!IsOffered(path)) {
    sTextToSend = kNotInShareReply;
    return;
  }
  // Written into the caller's text, whose buffer (kept for listings) stays.
  sTextToSend.assign(kSendingFileReply);
  sTextToSend.reserve(kSendingFileReply.size() + path.size() + 4 + kDropFile.size() + path.size());
  sTextToSend += path;
  sTextToSend += u"...";
  sTextToSend += kLF;
  sTextToSend += kDropFile;
  sTextToSend += path;
  state_.sFilesSent = NextCount(state_.sFilesSent);
}

}  // namespace zuvo
