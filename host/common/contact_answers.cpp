#include "host/common/contact_answers.h"

#include <algorithm>

#include "base/text.h"
#include "host/common/notice_text.h"
#include "host/common/path_text.h"

namespace zuvo {
namespace {

// Candidates named in the line about an ambiguous name.
constexpr size_t kNamedCandidates = 3;

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

// A path on either platform: "/...", "\...", or a drive "C:...".
bool IsFullPath(std::u16string_view s) {
  return (!s.empty() && IsSeparator(s[0])) ||
         (s.size() >= 2 && s[1] == u':' &&
          ((s[0] >= u'a' && s[0] <= u'z') || (s[0] >= u'A' && s[0] <= u'Z')));
}

bool HasSeparator(std::u16string_view s) { return std::any_of(s.begin(), s.end(), IsSeparator); }

// Whether |path| lies below |folder|: the folder, a separator, more.
bool Below(std::u16string_view path, std::u16string_view folder) {
  return path.size() > folder.size() + 1 && path.starts_with(folder) &&
         IsSeparator(path[folder.size()]);
}

// The longest folder every one of |paths| lies below; empty for none.
std::u16string CommonFolder(const std::vector<std::u16string_view>& paths) {
  if (paths.empty()) return u"";
  std::u16string_view folder = paths[0];
  auto up = [&] {
    const size_t sep = folder.find_last_of(u"/\\");
    folder = sep == std::u16string_view::npos ? std::u16string_view() : folder.substr(0, sep);
  };
  up();
  for (std::u16string_view p : paths) {
    while (!folder.empty() && !Below(p, folder)) up();
  }
  return std::u16string(folder);
}

std::u16string WithSeparator(std::u16string_view typed, char16_t separator) {
  std::u16string s(typed);
  for (char16_t& c : s) {
    if (IsSeparator(c)) c = separator;
  }
  return s;
}

std::u16string Quoted(const std::vector<std::u16string>& names) {
  std::u16string out;
  for (size_t i = 0; i < names.size() && i < kNamedCandidates; ++i) {
    out += (i ? u", " : u"") + names[i];
  }
  if (names.size() > kNamedCandidates) out += u", ...";
  return out;
}

std::u16string EmptyListingLine(std::u16string_view name,
                                const std::optional<Notification>& asked) {
  const std::u16string who(name);
  const std::optional<RequestCode> code =
      asked ? FindRequestCode(asked->code) : std::optional<RequestCode>();
  const std::u16string arg = asked ? asked->argument : u"";
  const std::u16string where = arg.empty() ? u"the top of the shared folder" : arg;
  if (!code) return who + u" shares nothing for that request";
  switch (*code) {
    case RequestCode::kList:
      return who + u" shares no files matching " + (arg.empty() ? u"*.*" : arg);
    case RequestCode::kFolder:
      return who + u" shares no files in " + where;
    case RequestCode::kFolders:
      return who + u" shares no folders in " + where;
    case RequestCode::kSearch:
      return who + u" shares no file named " + arg;
    case RequestCode::kFile:
      break;
  }
  return who + u" shares nothing for that request";
}

}  // namespace

ContactAnswers::Contact& ContactAnswers::Of(const std::string& contact) {
  auto it = contacts_.find(contact);
  if (it == contacts_.end()) {
    if (contacts_.size() >= kMaxContacts) {
      contacts_.erase(std::min_element(
          contacts_.begin(), contacts_.end(),
          [](const auto& a, const auto& b) { return a.second.used < b.second.used; }));
    }
    it = contacts_.emplace(contact, Contact{}).first;
  }
  it->second.used = ++clock_;
  return it->second;
}

void ContactAnswers::Asked(const std::string& contact, const Notification& request) {
  Contact& c = Of(contact);
  if (c.asked.size() >= kMaxAsked) c.asked.pop_front();
  c.asked.push_back(request);
}

void ContactAnswers::Noticed(const std::string& contact, const HostNotice& notice) {
  if (notice.kind == HostNotice::Kind::kAnswering) Of(contact).noticed = notice;
}

namespace {

// Takes the oldest request of |c| that |fits|.
template <class Fits>
std::optional<Notification> TakeAsked(std::deque<Notification>& asked, Fits fits) {
  for (auto it = asked.begin(); it != asked.end(); ++it) {
    const std::optional<RequestCode> code = FindRequestCode(it->code);
    if (code && fits(*code)) {
      Notification n = std::move(*it);
      asked.erase(it);
      return n;
    }
  }
  return std::nullopt;
}

}  // namespace

std::vector<std::u16string> ContactAnswers::Show(const std::string& contact,
                                                 std::u16string_view name,
                                                 std::u16string_view text) {
  Contact& c = Of(contact);
  if (text.starts_with(kOfferingReply) &&
      (text.size() == kOfferingReply.size() || text[kOfferingReply.size()] == u'\r')) {
    return ShowListing(c, name, text);
  }
  c.noticed.reset();
  if (text.starts_with(kSendingFileReply)) {
    TakeAsked(c.asked, [](RequestCode k) { return k == RequestCode::kFile; });
    return {};
  }
  if (text == kNotInShareReply) {
    TakeAsked(c.asked, [](RequestCode k) { return k == RequestCode::kFile; });
  } else if (text == kSharingOffReply) {
    TakeAsked(c.asked, [](RequestCode) { return true; });
  }
  std::vector<std::u16string> lines = SplitLines(std::u16string(text));
  if (lines.empty()) lines.emplace_back();
  // Every line after the name: none reads as one of this host's own.
  for (std::u16string& line : lines) line = std::u16string(name) + u": " + line;
  return lines;
}

std::vector<std::u16string> ContactAnswers::ShowListing(Contact& c, std::u16string_view name,
                                                        std::u16string_view text) {
  const std::optional<HostNotice> noticed = std::exchange(c.noticed, std::nullopt);
  const std::optional<RequestCode> noticedCode =
      noticed ? FindRequestCode(noticed->code) : std::nullopt;
  const std::optional<Notification> asked = TakeAsked(
      c.asked, [&](RequestCode k) { return noticedCode ? k == *noticedCode : IsListing(k); });

  const std::vector<std::u16string> lines = SplitLines(std::u16string(text));
  std::vector<std::u16string_view> paths;
  for (size_t i = 1; i < lines.size(); ++i) {
    if (IsFullPath(lines[i])) paths.push_back(lines[i]);
  }
  std::u16string folder = noticed ? noticed->folder : u"";
  while (folder.size() > 1 && IsSeparator(folder.back())) folder.pop_back();
  if (folder.empty() || !std::all_of(paths.begin(), paths.end(),
                                     [&](std::u16string_view p) { return Below(p, folder); })) {
    folder = CommonFolder(paths);
  }

  Listing listing;
  std::vector<std::u16string> notes;
  size_t units = 0;
  for (size_t i = 1; i < lines.size(); ++i) {
    if (!folder.empty() && Below(lines[i], folder)) {
      listing.separator = lines[i][folder.size()];
      listing.entries.push_back(lines[i].substr(folder.size() + 1));
    } else if (!lines[i].empty()) {
      notes.push_back(lines[i]);
    }
  }
  std::vector<std::u16string> shown;
  if (listing.entries.empty()) {
    shown.push_back(EmptyListingLine(name, asked));
  } else {
    shown.push_back(std::u16string(name) + u" shares " + folder + u":");
    for (const std::u16string& e : listing.entries) shown.push_back(u"  " + e);
  }
  for (const std::u16string& note : notes) shown.push_back(std::u16string(name) + u": " + note);
  if (listing.entries.empty()) return shown;

  // What is kept for /xrfile and /xrfolder is bounded; the rest was shown.
  size_t keep = 0;
  while (keep < listing.entries.size() && keep < kMaxEntries &&
         units + listing.entries[keep].size() <= kMaxUnits) {
    units += listing.entries[keep++].size();
  }
  listing.entries.resize(keep);
  listing.folder = std::move(folder);
  listing.ofFolders = asked && FindRequestCode(asked->code) == RequestCode::kFolders;
  c.last = std::move(listing);
  return shown;
}

ContactAnswers::Resolved ContactAnswers::Resolve(const std::string& contact,
                                                 std::u16string_view name, RequestCode code,
                                                 std::u16string_view typed) {
  const std::u16string who(name);
  Resolved as{true, std::u16string(typed), u""};
  if (typed.empty() || (typed.starts_with(u'<') && typed.ends_with(u'>'))) return as;
  const bool file = code == RequestCode::kFile;
  if (file && IsFullPath(typed)) return as;
  Contact& c = Of(contact);
  if (!c.last) {
    if (!file) return as;
    return {false, u"",
            u"Nothing listed by " + who + u" yet: /xrlist shows " + who +
                u"'s files (or give a file's full path)."};
  }
  const Listing& last = *c.last;
  // A folder given by its full path is sent relative to the shared folder.
  if (!file && IsFullPath(typed)) {
    if (Below(typed, last.folder)) as.argument = typed.substr(last.folder.size() + 1);
    return as;
  }
  const std::u16string path = WithSeparator(typed, last.separator);
  const bool bareName = !HasSeparator(typed);
  // What the listing shows that |path| may name: its files, or its
  // folders (a listing of files shows the folders the files are in). Each
  // candidate is a prefix of an entry, looked at in place: a deep path
  // costs its length, not a copy of each of its folders.
  bool exact = false;
  size_t count = 0;
  std::vector<std::u16string> matches;  // the first few, each once
  auto consider = [&](std::u16string_view candidate) {
    if (candidate == path) exact = true;
    if (!bareName || LastComponent(candidate) != path) return;
    if (std::find(matches.begin(), matches.end(), candidate) != matches.end()) return;
    ++count;
    if (matches.size() <= kNamedCandidates) matches.emplace_back(candidate);
  };
  for (const std::u16string& e : last.entries) {
    if (file || last.ofFolders) {
      if (file != last.ofFolders) consider(e);
      continue;
    }
    for (size_t sep = e.find(last.separator); sep != std::u16string::npos;
         sep = e.find(last.separator, sep + 1)) {
      consider(std::u16string_view(e).substr(0, sep));
    }
  }
  auto full = [&](std::u16string_view relative) {
    return file ? last.folder + last.separator + std::u16string(relative)
                : std::u16string(relative);
  };
  if (exact) {
    as.argument = full(path);
    return as;
  }
  if (count == 1) {
    as.argument = full(matches[0]);
    return as;
  }
  const std::u16string what = file ? u"file" : u"folder";
  if (count > 1) {
    std::sort(matches.begin(), matches.end());
    return {false, u"",
            std::u16string(typed) + u" names " +
                (count > kNamedCandidates ? u"more than " + DecimalText(kNamedCandidates)
                                          : DecimalText(count)) +
                u" " + what + u"s in " + who + u"'s last listing (" + Quoted(matches) +
                u"): type the path as it was shown."};
  }
  if (!file) return as;
  return {false, u"",
          u"No file " + std::u16string(typed) + u" in " + who + u"'s last listing: /xrlist shows " +
              who + u"'s files (or give a file's full path)."};
}

}  // namespace zuvo
