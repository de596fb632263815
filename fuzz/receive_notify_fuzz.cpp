// A contact's notifications against a fixed shared folder. The input picks
// the request code, its text, the sharing state, the sub-folders flag and
// the form of the shared-folder setting, and may let the walk's pause for
// events deliver a second request inside the first.
//
// Whatever arrives, the reply never names a path that resolves outside the
// shared folder (links followed, as the host would when it opens the path),
// carries at most one "#/dropfile " line and only for such a path, never
// starts with the notification marker, and has one of the reply forms.
// The work is bounded too: a listing's reply keeps within its size limit
// (which the input may lower, so that lists get cut), and the matching work
// within 2 x (name + 1) x (piece + 1) per file of the tree and distinct piece,
// however long the pattern text.
#include <fuzzer/FuzzedDataProvider.h>
#include <fstream>
#include <vector>

#include "files/wildcard.h"
#include "fuzz/fuzz_support.h"

namespace zuvo::fuzz {
namespace {

namespace fs = std::filesystem;

constexpr std::u16string_view kOffering = u"Accepted Request, Offering...";
constexpr std::u16string_view kSending = u"Accepted Request, Sending File ";
constexpr std::u16string_view kSharingOff = u"Request Denied, File Sharing is Turned off";
constexpr std::u16string_view kNotInShare =
    u"That file is not in the shared folder, you do not have access to it";
constexpr std::u16string_view kUntouched = u"<host text>";
constexpr std::u16string_view kTooManyPatterns = u"Request Denied, too many file patterns: ";
constexpr std::u16string_view kListCut = u"... (list cut here: the reply reached its size limit";

// The fixed tree: a shared folder with files, sub-folders, hidden entries,
// names no listing may show, and links that lead back into it, outside it
// and round in a loop; beside it a folder outside the share, a sibling whose
// name extends the share's, and a link to the share.
struct Tree {
  TempRoot root{"notify"};
  fs::path share = root.path() / "share";

  Tree() {
    const fs::path& r = root.path();
    for (const char* dir : {"share/sub/deep", "share/empty", "share/.hid", "outside", "share-x"}) {
      fs::create_directories(r / dir);
    }
    for (const char* file :
         {"share/a.txt", "share/b.log", "share/sub/c.txt", "share/sub/deep/d.txt",
          "share/.hidden.txt", "share/.hid/e.txt", "outside/secret.txt", "share-x/x.txt"}) {
      std::ofstream(r / file) << "x";
    }
    // Names that cannot exist on Windows and that no reply may carry.
    for (const char* name : {"cr\rname", "lf\nname", "mark\x12name", "bad\xff\xfename"}) {
      std::ofstream(share / name) << "x";
      fs::create_directories(share / (std::string(name) + "dir"));
      std::ofstream(share / (std::string(name) + "dir") / "inner.txt") << "x";
    }
    fs::create_directory_symlink(r / "outside", share / "out");
    fs::create_directory_symlink("../outside", share / "rel");
    fs::create_directory_symlink(".", share / "self");
    fs::create_directory_symlink("../..", share / "sub" / "up");
    fs::create_symlink("cycle", share / "cycle");
    fs::create_symlink(r / "outside" / "secret.txt", share / "secret-link.txt");
    fs::create_directory_symlink(share, r / "sharelink");
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(r)) {
      if (!e.is_regular_file(ignored) || e.is_symlink(ignored)) continue;
      ++files;
      longestName = std::max(longestName, e.path().filename().string().size());
    }
  }

  std::error_code ignored;
  uint64_t files = 0;        // regular files below the root, links not followed
  uint64_t longestName = 0;  // in bytes, never fewer than UTF-16 units
};

// The most matching work one listing request with |text| may cost.
uint64_t MatchBound(const Tree& tree, std::u16string_view text) {
  uint64_t perName = 1;  // "rfldr" and the like: one step per name
  for (const PatternPiece& piece : SplitPatternList(text)) perName += 2 * (piece.text.size() + 1);
  return tree.files * (tree.longestName + 1) * perName;
}

Tree& TheTree() {
  static Tree* tree = new Tree;  // kept to the end of the run
  return *tree;
}

bool Inside(const std::string& path, const std::string& share) {
  if (share.empty()) return false;
  const HostPath resolved = ResolveAsHost(path);
  // A path that goes up from below a missing entry cannot be opened at all.
  if (!resolved.openable) return true;
  return IsWithin(resolved.path, share);
}

void CheckNamedPath(std::u16string_view path, const std::string& share, std::u16string_view reply) {
  bool valid = false;
  const std::string narrow = Utf16ToUtf8(path, &valid);
  Check(valid, "a reply names a path that is not well-formed UTF-16", path, reply);
  Check(Inside(narrow, share), "a reply names a path outside the shared folder", path, reply);
}

std::vector<std::u16string_view> Lines(std::u16string_view text) {
  std::vector<std::u16string_view> lines;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == kCR || text[i] == kLF) {
      lines.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return lines;
}

void CheckReply(std::u16string_view reply, const std::string& share, size_t maxReply) {
  if (reply == kUntouched) return;
  Check(reply.empty() || reply[0] != kMarker, "a reply starts with the notification marker", reply);

  // At most one host-command line, and only for a file inside the share.
  int dropLines = 0;
  for (std::u16string_view line : Lines(reply)) {
    if (!line.starts_with(kDropFile)) continue;
    ++dropLines;
    CheckNamedPath(line.substr(kDropFile.size()), share, reply);
  }
  Check(dropLines <= 1, "a reply holds more than one #/dropfile line", reply);

  if (reply == kSharingOff || reply == kNotInShare || reply.starts_with(kTooManyPatterns)) return;
  if (reply.starts_with(kOffering)) {
    Check(reply.size() <= maxReply, "a listing's reply goes past its size limit", reply);
    std::u16string_view rest = reply.substr(kOffering.size());
    // A cut list ends with one line that says so.
    const size_t last = rest.rfind(kCR);
    if (last != std::u16string_view::npos && rest.substr(last + 1).starts_with(kListCut)) {
      rest = rest.substr(0, last);
    }
    Check(rest.empty() || rest[0] == kCR, "an offering reply does not go on with CR", reply);
    Check(rest.find(kLF) == std::u16string_view::npos, "an offering reply holds an LF", reply);
    while (!rest.empty()) {
      rest.remove_prefix(1);
      const size_t next = rest.find(kCR);
      const std::u16string_view entry = rest.substr(0, next);
      if (!entry.empty()) CheckNamedPath(entry, share, reply);
      rest = next == std::u16string_view::npos ? std::u16string_view() : rest.substr(next);
    }
    return;
  }
  if (reply.starts_with(kSending)) {
    const size_t lf = reply.find(kLF);
    Check(lf != std::u16string_view::npos && lf >= kSending.size() + 3, "a file reply lacks its LF",
          reply);
    const std::u16string_view path = reply.substr(kSending.size(), lf - kSending.size() - 3);
    Check(reply.substr(lf - 3, 3) == u"...", "a file reply's first line does not end in ...",
          reply);
    Check(reply.substr(lf + 1) == std::u16string(kDropFile) + std::u16string(path),
          "a file reply's second line is not #/dropfile and the same path", reply);
    CheckNamedPath(path, share, reply);
    return;
  }
  Fail("a reply of no known form", reply);
}

class ReenteringPump : public EventPump {
 public:
  void ProcessPendingEvents() override {
    if (!armed) return;
    armed = false;  // one nested request per call
    std::u16string reply(kUntouched);
    CallStatus status;
    bool result = false;
    status = CallContract(
        [&] { return plugin->ReceiveNotify(code, text, u"contact", nullptr, reply); }, result);
    Check(status.code != hr::kUnexpected, "an unexpected exception escaped (nested)",
          Utf8ToUtf16(status.description));
    CheckReply(reply, share, maxReply);
  }
  beta* plugin = nullptr;
  size_t maxReply = beta::kMaxReplyChars;
  bool armed = false;
  std::u16string code, text;
  std::string share;
};

std::u16string PickCode(FuzzedDataProvider& in) {
  static const char16_t* const kCodes[] = {u"rlist", u"rfile", u"rfldr", u"rflds",
                                           u"rsrch", u"RFILE", u"rLiSt", u"RFLDS"};
  const uint8_t pick = in.ConsumeIntegralInRange<uint8_t>(0, 8);
  if (pick < 8) return kCodes[pick];
  return Utf8ToUtf16(in.ConsumeRandomLengthString(8));
}

}  // namespace
}  // namespace zuvo::fuzz

using namespace zuvo;
using namespace zuvo::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Tree& tree = TheTree();
  static ReenteringPump* pump = new ReenteringPump;
  static PluginOnPlatform* p = new PluginOnPlatform(tree.root.path(), pump);
  pump->plugin = p->plugin.get();

  FuzzedDataProvider in(data, size);
  const std::string share = tree.share.string();
  const std::string r = tree.root.path().string();
  const std::string shareChoices[] = {
      share, share + "/",    share + "//",        r + "/sharelink", "share",
      "",    share + "/sub", share + "/./sub/..", "Error",          share + "/self",
  };
  const std::string setting =
      shareChoices[in.ConsumeIntegralInRange<size_t>(0, std::size(shareChoices) - 1)];
  // The folder every named path must resolve into; none for a setting that
  // is not absolute.
  const std::string canonical =
      setting.starts_with("/") ? ResolveAsHost(setting).path : std::string();

  static const char16_t* const kStates[] = {u"1", u"1", u"1", u"0", u"Error", u""};
  static const char16_t* const kFlags[] = {u"1", u"0", u"Error"};
  const std::u16string sharingOn = kStates[in.ConsumeIntegralInRange<size_t>(0, 5)];
  const std::u16string subFolders = kFlags[in.ConsumeIntegralInRange<size_t>(0, 2)];
  const bool pending = in.ConsumeIntegralInRange<uint8_t>(0, 15) == 0;
  const bool nested = in.ConsumeBool();
  const uint8_t textMode = in.ConsumeIntegralInRange<uint8_t>(0, 3);
  const bool rawUtf16 = in.ConsumeIntegralInRange<uint8_t>(0, 7) == 0;
  static const size_t kReplyLimits[] = {beta::kMaxReplyChars, 150, 400};
  const size_t maxReply = kReplyLimits[in.ConsumeIntegralInRange<size_t>(0, 2)];
  const std::u16string code = PickCode(in);
  std::u16string nestedCode, nestedText;
  if (nested) {
    nestedCode = PickCode(in);
    nestedText = TextFromBytes(in.ConsumeRandomLengthString(64), false);
  }
  std::u16string text = TextFromBytes(in.ConsumeRemainingBytesAsString(), rawUtf16);
  switch (textMode) {
    case 1:
      text = Utf8ToUtf16(setting) + u"/" + text;
      break;
    case 2:
      text = Utf8ToUtf16(r) + u"/" + text;
      break;
    case 3:
      text = Utf8ToUtf16(setting) + text;
      break;
    default:
      break;
  }

  std::shared_ptr<frmOptions> holder = p->server->Holder();
  holder->Text1 = Utf8ToUtf16(setting);
  holder->Text3 = subFolders;
  BetaState& state = p->State();
  state.sSharingOn = sharingOn;
  state.sFilesSent = u"0";
  state.bOwnRequestPending = pending;
  pump->armed = nested;
  pump->code = nestedCode;
  pump->text = nestedText;
  pump->share = canonical;
  pump->maxReply = maxReply;
  BetaTestPeer::SetMaxReplyChars(*p->plugin, maxReply);
  const uint64_t stepsBefore = p->server->files().match_steps();

  std::u16string reply(kUntouched);
  bool result = false;
  const CallStatus status = CallContract(
      [&] { return p->plugin->ReceiveNotify(code, text, u"contact", nullptr, reply); }, result);
  Check(status.code != hr::kUnexpected, "an unexpected exception escaped",
        Utf8ToUtf16(status.description));
  CheckReply(reply, canonical, maxReply);
  if (!status.failed() && !result) Check(reply == kUntouched, "an unknown code changed the reply");
  const uint64_t steps = p->server->files().match_steps() - stepsBefore;
  Check(steps <= MatchBound(tree, text) + (nested ? MatchBound(tree, nestedText) : 0),
        "a request's matching work is not bounded by the share and its distinct pieces", text);
  return 0;
}
