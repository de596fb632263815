#include "host/common/session_words.h"

#include <array>
#include <cstdio>

#include "base/text.h"
#include "host/common/path_text.h"
#include "host/common/shown_text.h"

namespace zuvo {
namespace {

struct Described {
  std::u16string_view word;
  const char* usage;
  const char* does;
};

constexpr std::array<Described, 10> kHelp = {{
    {u"xrlist", "[patterns]",
     "list this contact's shared files, relative to their shared folder (patterns like "
     "*.txt;*.md; all files when none)"},
    {u"xrfile", "<path or name>",
     "fetch a file from this contact's shared folder (a path as /xrlist shows it, or a unique "
     "file name)"},
    {u"xrfolder", "<folder>",
     "list the files of one folder of this contact's shared folder (a folder as /xrfolders or "
     "/xrlist shows it, or a unique folder name)"},
    {u"xrfolders", "[folder]",
     "list the sub-folders of one folder of this contact's shared folder (its top when none)"},
    {u"xrsearch", "<file name>",
     "find the first file of that name anywhere in this contact's shared folder"},
    {u"xron", "", "turn your own sharing on (until the plug-in restarts)"},
    {u"xroff", "", "turn your own sharing off"},
    {u"xroptions", "", "choose your shared folder, and whether it starts on and lists sub-folders"},
    {u"xrstatus", "", "show whether your sharing is on or off"},
    {u"xrstats", "", "show how many file requests you accepted and sent"},
}};

struct CodeWord {
  RequestCode code;
  std::u16string_view word;
};
constexpr std::array<CodeWord, 5> kCodeWords = {{
    {RequestCode::kList, u"/xrlist"},
    {RequestCode::kFile, u"/xrfile"},
    {RequestCode::kFolder, u"/xrfolder"},
    {RequestCode::kFolders, u"/xrfolders"},
    {RequestCode::kSearch, u"/xrsearch"},
}};

}  // namespace

CommandHelp HelpFor(std::u16string_view word, std::u16string_view name, std::u16string_view help) {
  for (const Described& d : kHelp) {
    if (EqualsIgnoreCase(word, d.word)) return {d.usage, d.does};
  }
  std::string usage;
  if (!help.empty()) usage.append("<").append(ShownText(help)).append(">");
  return {usage, ShownText(name)};
}

std::u16string CommandWord(RequestCode code) {
  for (const CodeWord& c : kCodeWords) {
    if (c.code == code) return std::u16string(c.word);
  }
  return u"";
}

std::optional<RequestCode> RequestOfWord(std::u16string_view word) {
  for (const CodeWord& c : kCodeWords) {
    if (EqualsIgnoreCase(word, c.word)) return c.code;
  }
  return std::nullopt;
}

std::string TypedRequest(const Notification& request) {
  const std::optional<RequestCode> code = FindRequestCode(request.code);
  std::string typed = code ? ShownText(CommandWord(*code)) : ShownText(request.code);
  if (!request.argument.empty()) typed.append(" ").append(ShownText(request.argument));
  return typed;
}

std::string ToastLine(const ToastSeen& toast, std::string_view title) {
  std::string line;
  size_t start = 0;
  const std::u16string& m = toast.message;
  // The message's lines end at CR, LF or CR LF.
  while (start <= m.size()) {
    size_t end = m.find_first_of(u"\r\n", start);
    if (end == std::u16string::npos) end = m.size();
    const std::string piece = ShownText(std::u16string_view(m).substr(start, end - start));
    if (!piece.empty()) line += (line.empty() ? "" : " ") + piece;
    if (end == m.size()) break;
    start = end + (m[end] == u'\r' && end + 1 < m.size() && m[end + 1] == u'\n' ? 2 : 1);
  }
  if (line.starts_with(title)) return line;
  return std::string(title) + ": " + line;
}

std::string SizeText(uint64_t bytes) {
  char buf[64];
  if (bytes < 1024) {
    std::snprintf(buf, sizeof buf, "%llu bytes", static_cast<unsigned long long>(bytes));
  } else if (bytes < (1 << 20)) {
    std::snprintf(buf, sizeof buf, "%.1f KiB", bytes / 1024.0);
  } else {
    std::snprintf(buf, sizeof buf, "%.1f MiB", bytes / 1048576.0);
  }
  return buf;
}

std::string ShownFolder(const std::filesystem::path& folder, const std::filesystem::path& home) {
  const std::u16string f = TextFromPath(folder.lexically_normal());
  std::u16string h = TextFromPath(home.lexically_normal());
  while (h.size() > 1 && (h.back() == u'/' || h.back() == u'\\')) h.pop_back();
  if (h.size() > 1 && f.starts_with(h) &&
      (f.size() == h.size() || f[h.size()] == u'/' || f[h.size()] == u'\\')) {
    std::u16string rest = f.substr(h.size());
    while (rest.size() > 1 && (rest.back() == u'/' || rest.back() == u'\\')) rest.pop_back();
    return std::string("~").append(ShownText(rest));
  }
  return ShownText(f);
}

std::string ReceivingLine(std::u16string_view name, uint64_t size, std::string_view contact) {
  return "Receiving " + ShownText(name) + " (" + SizeText(size) + ") from " + std::string(contact) +
         "...";
}

std::string SavedFileLine(const std::filesystem::path& saved, uint64_t size, bool digestVerified,
                          const std::filesystem::path& home) {
  return "Saved " + ShownText(TextFromPath(saved.filename())) + " in " +
         ShownFolder(saved.parent_path(), home) + " (" + SizeText(size) +
         (digestVerified ? ", SHA-256 verified)" : ")");
}

std::string NotSavedLine(std::u16string_view name, std::string_view contact,
                         const std::string& reason) {
  return "Could not save " + ShownText(name) + " from " + std::string(contact) + ": " + reason;
}

std::string NotSentLine(std::string_view contact, std::u16string_view name, HostErrorKind reason) {
  return std::string(contact) + " could not send " + ShownText(name) + ": " +
         Describe(Failure(reason));
}

}  // namespace zuvo
