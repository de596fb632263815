// What a contact's plug-in answered, as this user reads it, and the last
// listing of each contact, so that a file or folder can be asked for as it
// was shown. The rules, in the order they apply:
//
//   1. Each request this user sends a contact is kept (Asked) until an
//      answer of its sort comes back; the answer is taken for the oldest
//      request that fits it (kMaxAsked a contact, the oldest forgotten).
//   2. The contact's host may say, just before an answer, which shared
//      folder the answer's paths begin with (host_notice.h, Noticed). When
//      it does not, or the paths do not begin with that folder, the folder
//      is the longest one every path of the answer begins with.
//   3. A listing ("Accepted Request, Offering..." and paths) is shown under
//      one header line naming that folder ("bob shares /home/bob/Public:"),
//      one path a line relative to it; lines that are no path of that
//      folder (a note that the list was cut) follow after the name. An empty
//      one says so in words ("bob shares no files matching *.txt"). The
//      answer that a file is on its way shows nothing: the transfer's own
//      lines follow. Any other answer is shown line by line, each after the name.
//   4. The last listing of each contact is kept, bounded (kMaxEntries
//      paths, kMaxUnits UTF-16 units; a longer one keeps what fits), for
//      kMaxContacts contacts (the one unused longest forgotten first).
//   5. Resolve turns what the user typed after "/xrfile" or "/xrfolder"
//      into the argument the contact's plug-in expects: a full path, or a
//      folder relative to the shared folder, stay as typed; a path as the
//      last listing showed it becomes the full path (a file) or stays
//      relative (a folder); a name that ends exactly one path of that
//      listing becomes that path. A file name that ends several paths, or
//      none, is answered locally and nothing is sent; a folder name that
//      the listing does not know is sent as typed (a listing of files
//      need not show every folder).
#pragma once

#include <cstddef>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/notify_text.h"
#include "host/common/host_notice.h"

namespace zuvo {

class ContactAnswers {
 public:
  static constexpr size_t kMaxAsked = 16;
  static constexpr size_t kMaxContacts = 64;
  static constexpr size_t kMaxEntries = 20000;
  static constexpr size_t kMaxUnits = size_t{2} << 20;

  void Asked(const std::string& contact, const Notification& request);
  void Noticed(const std::string& contact, const HostNotice& notice);
  // The lines that show |text|, an answer from |contact| called |name|.
  std::vector<std::u16string> Show(const std::string& contact, std::u16string_view name,
                                   std::u16string_view text);

  struct Resolved {
    bool send = true;
    std::u16string argument;  // to send, when |send|
    std::u16string line;      // to show instead, when not
  };
  Resolved Resolve(const std::string& contact, std::u16string_view name, RequestCode code,
                   std::u16string_view typed);

 private:
  struct Listing {
    std::u16string folder;  // the shared folder, without a closing separator
    char16_t separator = u'/';
    bool ofFolders = false;
    std::vector<std::u16string> entries;  // relative to |folder|
  };
  struct Contact {
    std::deque<Notification> asked;  // oldest first
    std::optional<HostNotice> noticed;
    std::optional<Listing> last;
    uint64_t used = 0;
  };
  Contact& Of(const std::string& contact);
  std::vector<std::u16string> ShowListing(Contact& c, std::u16string_view name,
                                          std::u16string_view text);

  std::map<std::string, Contact> contacts_;
  uint64_t clock_ = 0;
};

}  // namespace zuvo
