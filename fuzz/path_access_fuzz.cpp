// The path model of the access rules. POSIX paths are built from the names
// of a fixed tree full of links (into the share, out of it, round in a
// loop) or taken as raw text; Windows paths go through the Windows model
// with a resolver that knows a few folders and one link.
//
// Resolving is idempotent: a resolved path, written out, resolves to
// itself. IsInside agrees with the resolved path, and on POSIX with the file
// system: a path the file system can open is inside exactly when the file
// system takes it into the shared folder.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <fstream>
#include <map>

#include "files/path_access.h"
#include "fuzz/fuzz_support.h"

namespace zuvo::fuzz {
namespace {

namespace fs = std::filesystem;

struct Tree {
  TempRoot root{"access"};
  Tree() {
    const fs::path& r = root.path();
    fs::create_directories(r / "share/sub/deep");
    fs::create_directories(r / "outside");
    fs::create_directories(r / "share-x");
    std::ofstream(r / "share/a.txt") << "x";
    std::ofstream(r / "share/sub/c.txt") << "x";
    std::ofstream(r / "outside/secret.txt") << "x";
    fs::create_directory_symlink("..", r / "share/up");
    fs::create_directory_symlink(r / "outside", r / "share/abs");
    fs::create_directory_symlink(".", r / "share/self");
    fs::create_symlink("cycle", r / "share/cycle");
    fs::create_directory_symlink("../share/sub", r / "share/back");
    fs::create_directory_symlink("sub/../../outside", r / "share/esc");
    fs::create_directory_symlink("sub/deep", r / "share/deeplink");
    fs::create_symlink(r / "outside/secret.txt", r / "share/file-link");
    fs::create_symlink("missing/../a.txt", r / "share/dangling");
    fs::create_directory_symlink(r / "share", r / "sharelink");
  }
};

const char* const kNames[] = {
    "share",     "sub",  "deep", "a.txt",    "c.txt",     "up",        "abs",     "self",
    "cycle",     "back", "esc",  "deeplink", "file-link", "dangling",  "outside", "share-x",
    "sharelink", "..",   ".",    "",         "x",         "secret.txt"};

std::u16string Render(const ResolvedPath& path, char16_t separator) {
  std::u16string text = path.root == u"/" ? u"" : path.root;
  for (const std::u16string& c : path.components) text += separator + c;
  if (path.components.empty()) text += separator;
  return text;
}

bool Within(const ResolvedPath& path, const ResolvedPath& folder) {
  return path.root == folder.root && path.components.size() >= folder.components.size() &&
         std::equal(folder.components.begin(), folder.components.end(), path.components.begin());
}

void CheckModel(const PathAccess& access, std::u16string_view path, const ResolvedPath& share,
                char16_t separator) {
  const std::optional<ResolvedPath> resolved = access.Resolve(path);
  const bool inside = access.IsInside(path, share);
  Check(inside == (resolved && Within(*resolved, share)), "IsInside disagrees with Resolve", path);
  if (!resolved) return;
  for (const std::u16string& c : resolved->components) {
    Check(!c.empty() && c != u"." && c != u"..", "a resolved path keeps an empty, . or .. name",
          path);
  }
  const std::u16string again = Render(*resolved, separator);
  const std::optional<ResolvedPath> twice = access.Resolve(again);
  Check(twice && *twice == *resolved, "resolving is not idempotent", path, again);
}

// A Windows file system: C:\share with a folder and a link leading out.
class WindowsResolver : public PathResolver {
 public:
  PathNode Inspect(std::u16string_view path) override {
    static const std::map<std::u16string, PathNode> kNodes = {
        {u"C:\\share", {PathNode::Kind::kDirectory, {}}},
        {u"C:\\share\\sub", {PathNode::Kind::kDirectory, {}}},
        {u"C:\\share\\a.txt", {PathNode::Kind::kOther, {}}},
        {u"C:\\share\\out", {PathNode::Kind::kLink, u"C:\\outside"}},
        {u"C:\\share\\up", {PathNode::Kind::kLink, u"..\\.."}},
        {u"C:\\share\\SHARE~1", {PathNode::Kind::kLink, u"C:\\share\\sub"}},
        {u"C:\\outside", {PathNode::Kind::kDirectory, {}}},
        {u"\\\\srv\\pub", {PathNode::Kind::kDirectory, {}}},
    };
    const auto it = kNodes.find(std::u16string(path));
    return it == kNodes.end() ? PathNode{PathNode::Kind::kMissing, {}} : it->second;
  }
};

}  // namespace
}  // namespace zuvo::fuzz

using namespace zuvo;
using namespace zuvo::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Tree* tree = new Tree;
  static std::unique_ptr<PathResolver> posixResolver = CreatePlatformPathResolver();
  static PathAccess posix(*posixResolver, PathStyle::kPosix);
  static WindowsResolver windowsResolver;
  static PathAccess windows(windowsResolver, PathStyle::kWindows);
  const std::string root = tree->root.path().string();
  static const std::optional<ResolvedPath> posixShare =
      posix.ResolveShare(Utf8ToUtf16(root + "/share"));
  static const std::optional<ResolvedPath> windowsShare = windows.ResolveShare(u"C:\\share");
  Check(posixShare && windowsShare, "the shared folder does not resolve");

  FuzzedDataProvider in(data, size);
  const uint8_t mode = in.ConsumeIntegralInRange<uint8_t>(0, 3);
  if (mode == 3) {
    // Windows model on raw text, and on text that starts at the share.
    std::u16string path = TextFromBytes(in.ConsumeRemainingBytesAsString(), size % 2);
    CheckModel(windows, path, *windowsShare, u'\\');
    CheckModel(windows, u"C:\\share\\" + path, *windowsShare, u'\\');
    const std::u16string folder = u"C:\\share\\" + path;
    if (windows.IsFolderArgumentInside(path, folder, *windowsShare)) {
      Check(windows.IsInside(folder, *windowsShare), "a folder argument inside is not inside",
            folder);
    }
    return 0;
  }

  std::string narrow;
  if (mode == 2) {
    narrow = in.ConsumeRemainingBytesAsString();
  } else {
    // Names of the tree below the root (mode 0) or below the share (mode 1).
    narrow = mode == 0 ? root : root + "/share";
    while (in.remaining_bytes() > 0) {
      const uint8_t pick = in.ConsumeIntegral<uint8_t>();
      narrow += '/';
      narrow += kNames[pick % std::size(kNames)];
    }
  }
  const std::u16string path = Utf8ToUtf16(narrow);
  CheckModel(posix, path, *posixShare, u'/');

  // Against the file system, for a path it can open.
  if (narrow.empty() || narrow[0] != '/' || narrow.size() > 4000) return 0;
  const HostPath host = ResolveAsHost(narrow);
  if (!host.openable) return 0;
  const std::string share = ResolveAsHost(root + "/share").path;
  const bool inside = posix.IsInside(path, *posixShare);
  bool valid = false;
  Utf8ToUtf16(narrow, &valid);
  const bool refusedText = !valid || std::any_of(narrow.begin(), narrow.end(), [](char c) {
    return static_cast<unsigned char>(c) < 32;
  });
  if (inside) Check(IsWithin(host.path, share), "inside by the rules, outside on disk", path);
  if (!inside && !refusedText) {
    Check(!IsWithin(host.path, share), "outside by the rules, inside on disk", path,
          Utf8ToUtf16(host.path));
  }
  return 0;
}
