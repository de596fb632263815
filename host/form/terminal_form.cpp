#include "host/form/terminal_form.h"

#include <algorithm>
#include <filesystem>
#include <istream>
#include <ostream>
#include <system_error>

#include "base/text.h"
#include "settings/frm_options.h"

namespace zuvo {
namespace {

namespace fs = std::filesystem;

constexpr const char* kCaption = "Zuvo File Sharing - Preferences";
constexpr const char* kFrameCaption = "Zuvo File Sharing";
constexpr const char* kAdvice =
    "This is folder you give others access to. Note if this folder contains to many files it "
    "will cause your computer to lag when someone asks for a file list.";
constexpr const char* kBrowseTitle = "Select Profile Export Directory";
constexpr const char* kCredits = "Thanks To...  Ana  Bram  Cleo  Dario  Elin";
constexpr char kEscape = '\x1b';

std::string TrimSpaces(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// Breaks |text| into lines of at most |width| characters at blanks.
std::vector<std::string> Wrap(const std::string& text, size_t width) {
  std::vector<std::string> lines;
  std::string line;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find(' ', pos);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(pos, end - pos);
    if (!line.empty() && line.size() + 1 + word.size() > width) {
      lines.push_back(line);
      line.clear();
    }
    if (!line.empty()) line += ' ';
    line += word;
    pos = end + 1;
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

const char* CheckMark(int state) { return state ? "[x]" : "[ ]"; }

}  // namespace

std::vector<std::string> CompleteFolderPath(const std::string& typed) {
  std::string folderPart;
  std::string prefix;
  const size_t slash = typed.find_last_of(fs::path::preferred_separator);
  if (slash == std::string::npos) {
    prefix = typed;
  } else {
    folderPart = typed.substr(0, slash + 1);
    prefix = typed.substr(slash + 1);
  }
  const fs::path folder = folderPart.empty() ? fs::path(".") : fs::path(folderPart);
  std::vector<std::string> found;
  std::error_code ec;
  fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    std::error_code statusError;
    if (!it->is_directory(statusError)) continue;
    const std::string name = it->path().filename().string();
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    if (name[0] == '.' && (prefix.empty() || prefix[0] != '.')) continue;
    found.push_back(folderPart + name + static_cast<char>(fs::path::preferred_separator));
  }
  std::sort(found.begin(), found.end());
  return found;
}

bool TerminalFormView::ReadLine(std::string& line) {
  if (!std::getline(in_, line)) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

void TerminalFormView::Draw(const frmOptions& form, int focus) {
  auto mark = [&](int control) {
    return std::string(focus == control ? ">" : " ") + std::to_string(control) + " ";
  };
  out_ << "\n== " << kCaption << " ==\n";
  out_ << "  -- " << kFrameCaption << " --\n";
  out_ << "  Shared Folder " << mark(kFolder) << "[" << PrintableText(form.Text1) << "] "
       << mark(kBrowse) << "[...]\n";
  for (const std::string& line : Wrap(kAdvice, 74)) out_ << "    " << line << "\n";
  out_ << "  " << mark(kSubFolders) << CheckMark(form.Check2) << " Include Sub Folders\n";
  out_ << "  " << mark(kStartOn) << CheckMark(form.Check1)
       << " Start with Zuvo File Sharing Turned on\n";
  out_ << "  " << kCredits << "\n";
  out_ << "  v2.0" << std::string(36, ' ') << mark(kApply) << "[Apply] " << mark(kCancel)
       << "[Cancel]\n";
  out_ << "Enter: activate the focused control (>)   1-6: that control   n or Tab: next   "
          "p: previous   x: close window\n";
  out_ << "> " << std::flush;
}

void TerminalFormView::RunModal(frmOptions& form) {
  form.Form_Activate();
  int focus = kApply;
  while (form.visible() && !form.unloaded()) {
    Draw(form, focus);
    std::string line;
    if (!ReadLine(line)) {
      // The terminal is gone: that closes the window.
      out_ << "\n";
      form.Form_Close();
      break;
    }
    const std::string choice = TrimSpaces(line);
    if (choice.empty()) {
      Activate(form, focus);
    } else if (choice == "n" || choice == "\t") {
      focus = focus % kControlCount + 1;
    } else if (choice == "p") {
      focus = (focus + kControlCount - 2) % kControlCount + 1;
    } else if (choice.size() == 1 && choice[0] >= '1' && choice[0] <= '0' + kControlCount) {
      focus = choice[0] - '0';
      Activate(form, focus);
    } else if (choice == "x") {
      form.Form_Close();
    } else {
      out_ << "Unknown choice \"" << PrintableText(Utf8ToUtf16(choice)) << "\"\n";
    }
  }
}

void TerminalFormView::Activate(frmOptions& form, int control) {
  switch (control) {
    case kApply:
      form.Command2_Click();
      break;
    case kStartOn:
      form.Check1 = form.Check1 ? 0 : 1;
      break;
    case kFolder:
      EditFolder(form);
      break;
    case kBrowse:
      form.Command3_Click();
      break;
    case kSubFolders:
      form.Check2 = form.Check2 ? 0 : 1;
      break;
    case kCancel:
      form.Command1_Click();
      break;
  }
}

void TerminalFormView::EditFolder(frmOptions& form) {
  out_ << "Shared Folder [" << PrintableText(form.Text1) << "]\n"
       << "Type the new folder. Enter alone keeps it; \"\" empties it.\n"
       << "New folder> " << std::flush;
  std::string line;
  if (!ReadLine(line) || line.empty()) return;
  if (line.size() >= 2 && line.front() == '"' && line.back() == '"') {
    line = line.substr(1, line.size() - 2);
  }
  form.Text1 = Utf8ToUtf16(line);
}

std::u16string TerminalFormView::BrowseForFolder(frmOptions&) {
  out_ << kBrowseTitle << "\n"
       << "Type a folder; end it with Tab or ? to complete folder names. Enter alone picks the "
          "offered folder or cancels; Esc then Enter cancels.\n";
  std::string offered;
  for (;;) {
    out_ << "Folder";
    if (!offered.empty()) out_ << " [" << PrintableText(Utf8ToUtf16(offered)) << "]";
    out_ << "> " << std::flush;
    std::string line;
    if (!ReadLine(line) || (!line.empty() && line[0] == kEscape)) return {};
    if (line.empty()) {
      if (offered.empty()) return {};
      line = offered;
    } else if (line.back() == '\t' || line.back() == '?') {
      line.pop_back();
      const std::vector<std::string> found = CompleteFolderPath(line);
      if (found.empty()) {
        out_ << "No folder matches \"" << PrintableText(Utf8ToUtf16(line)) << "\"\n";
        continue;
      }
      // Offer the longest text that all matches share.
      offered = found.front();
      for (const std::string& path : found) {
        size_t same = 0;
        while (same < offered.size() && same < path.size() && offered[same] == path[same]) ++same;
        offered.resize(same);
      }
      constexpr size_t kShown = 20;
      for (size_t i = 0; i < found.size() && i < kShown; ++i) {
        out_ << "  " << PrintableText(Utf8ToUtf16(found[i])) << "\n";
      }
      if (found.size() > kShown) out_ << "  ... and " << found.size() - kShown << " more\n";
      continue;
    }
    // Only an existing folder can be picked; the answer is its full path.
    std::error_code ec;
    if (!fs::is_directory(line, ec)) {
      out_ << "Not a folder: " << PrintableText(Utf8ToUtf16(line)) << "\n";
      offered.clear();
      continue;
    }
    fs::path full = fs::absolute(line, ec).lexically_normal();
    if (ec) continue;
    std::string text = full.string();
    while (text.size() > 1 && text.back() == fs::path::preferred_separator) text.pop_back();
    return Utf8ToUtf16(text);
  }
}

}  // namespace zuvo
