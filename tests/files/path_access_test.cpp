#include "files/path_access.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "base/text.h"
#include "files/narrow_text.h"
#include "support/temp_dir.h"

namespace zuvo {
namespace {

// A Windows file system described by a table: every path not in it is
// missing.
class TableResolver : public PathResolver {
 public:
  std::map<std::u16string, PathNode> nodes;
  int inspections = 0;

  void Dir(const std::u16string& path) { nodes[path] = {PathNode::Kind::kDirectory, {}}; }
  void File(const std::u16string& path) { nodes[path] = {PathNode::Kind::kOther, {}}; }
  void Link(const std::u16string& path, const std::u16string& target) {
    nodes[path] = {PathNode::Kind::kLink, target};
  }
  PathNode Inspect(std::u16string_view path) override {
    ++inspections;
    auto it = nodes.find(std::u16string(path));
    return it == nodes.end() ? PathNode{PathNode::Kind::kMissing, {}} : it->second;
  }
};

struct Case {
  std::u16string path;
  bool inside;
};

TEST(PathAccessWindows, FileRequestsAreJudgedAsWin32ResolvesThem) {
  TableResolver fs;
  fs.Dir(u"C:\\share");
  fs.Dir(u"C:\\share\\sub");
  fs.File(u"C:\\share\\a.txt");
  fs.Link(u"C:\\share\\link", u"C:\\secret");
  fs.Link(u"C:\\share\\SHORTN~1", u"C:\\share\\short name");
  fs.Link(u"C:\\share\\loop", u"C:\\share\\loop");
  PathAccess access(fs, PathStyle::kWindows);
  const auto share = access.ResolveShare(u"C:\\share");
  ASSERT_TRUE(share);

  const std::u16string tooLong = u"C:\\share\\" + std::u16string(32767, u'a');
  const Case cases[] = {
      {u"C:\\share\\a.txt", true},
      {u"C:\\share", true},
      {u"C:\\share\\", true},
      {u"C:/share/a.txt", true},
      {u"C:\\share/sub\\..//a.txt", true},
      {u"C:\\share\\sub\\..\\a.txt", true},
      {u"C:\\share\\\\a.txt", true},
      {u"C:\\share\\not-there\\x.txt", true},
      {u"C:\\..\\share\\a.txt", true},  // ".." stops at the root
      {u"C:\\share\\.\\a.txt", true},
      {u"C:\\share\\SHORTN~1\\f.txt", true},
      // Win32 collapses ".." before the file system follows links.
      {u"C:\\share\\link\\..\\a.txt", true},
      {u"C:\\share\\..\\secret.txt", false},
      {u"C:\\share2\\x.txt", false},
      {u"C:\\sharex", false},
      {u"c:\\share\\a.txt", false},  // letter case is kept
      {u"C:\\SHARE\\a.txt", false},
      {u"C:\\share\\link\\x.txt", false},
      {u"C:\\share\\link", false},
      {u"C:\\share\\loop\\x", false},
      {u"C:\\share\\sub\\..\\..\\secret.txt", false},
      {u"C:\\share\\not-there\\..\\..\\secret.txt", false},
      {u"\\\\?\\C:\\share\\a.txt", false},
      {u"\\\\.\\C:\\share\\a.txt", false},
      {u"//?/C:/share/a.txt", false},
      {u"\\??\\C:\\share\\a.txt", false},
      {u"\\\\?\\UNC\\srv\\pub\\a.txt", false},
      {u"C:share\\a.txt", false},
      {u"C:..\\share\\a.txt", false},
      {u"C:", false},
      {u"\\share\\a.txt", false},
      {u"share\\a.txt", false},
      {u"", false},
      {u"\\\\srv\\share\\a.txt", false},
      {u"C:\\share\\CON", false},
      {u"C:\\share\\con.txt", false},
      {u"C:\\share\\NUL", false},
      {u"C:\\share\\aux.tar.gz", false},
      {u"C:\\share\\Prn", false},
      {u"C:\\share\\COM1", false},
      {u"C:\\share\\com0.log", false},
      {u"C:\\share\\LPT9.txt", false},
      {u"C:\\share\\COM\u00B9", false},
      {u"C:\\share\\CON .txt", false},
      {u"C:\\share\\conin$", false},
      {u"C:\\share\\CONOUT$.x", false},
      {u"C:\\share\\sub\\nul\\x", false},
      {u"C:\\share\\a.txt::$DATA", false},
      {u"C:\\share\\a.txt:secret", false},
      {u"C:\\share:stream\\a.txt", false},
      {u"C:\\share\\a.txt.", false},
      {u"C:\\share\\a.txt ", false},
      {u"C:\\share\\sub.\\a.txt", false},
      {u"C:\\share\\...\\a.txt", false},
      {u"C:\\share\\*.txt", false},
      {u"C:\\share\\a?.txt", false},
      {u"C:\\share\\a|b", false},
      {u"C:\\share\\\"a\"", false},
      {u"C:\\share\\<a>", false},
      {u"C:\\share\\a.txt\n#/dropfile C:\\secret.txt", false},
      {u"C:\\share\\a\tb", false},
      {u"C:\\share\\\x12rfile", false},
      {std::u16string(u"C:\\share\\a\0b", 12), false},
      {u"C:\\share\\\xD800.txt", false},
      {u"C:\\share\\\xDC00", false},
      {tooLong, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.path.substr(0, 80)));
    EXPECT_EQ(access.IsInside(c.path, *share), c.inside);
  }
}

TEST(PathAccessWindows, SharesAndFolderArguments) {
  TableResolver fs;
  fs.Dir(u"C:\\share");
  fs.Dir(u"C:\\share\\sub");
  fs.Link(u"C:\\share\\link", u"D:\\elsewhere");
  fs.Link(u"C:\\PROGRA~1", u"C:\\Program Files");
  PathAccess access(fs, PathStyle::kWindows);

  // A setting that is empty or not absolute shares nothing.
  for (std::u16string_view folder : {u"", u"Error", u"C:", u"share", u"\\share",
                                     u"\\\\?\\C:\\share", u"C:\\con", u"C:\\share\\a.txt:s"}) {
    SCOPED_TRACE(Utf16ToUtf8(folder));
    EXPECT_FALSE(access.ResolveShare(folder));
  }
  const auto root = access.ResolveShare(u"C:\\");
  ASSERT_TRUE(root);
  EXPECT_TRUE(access.IsInside(u"C:\\any\\file.txt", *root));
  EXPECT_FALSE(access.IsInside(u"D:\\file.txt", *root));

  // Short names are the resolver's: both spellings resolve alike.
  const auto programs = access.ResolveShare(u"C:\\Program Files\\share");
  ASSERT_TRUE(programs);
  EXPECT_TRUE(access.IsInside(u"C:\\PROGRA~1\\share\\a.txt", *programs));

  const auto unc = access.ResolveShare(u"\\\\srv\\pub");
  ASSERT_TRUE(unc);
  EXPECT_TRUE(access.IsInside(u"\\\\srv\\pub\\a.txt", *unc));
  EXPECT_TRUE(access.IsInside(u"//srv/pub/a.txt", *unc));
  EXPECT_FALSE(access.IsInside(u"\\\\srv\\pub2\\a.txt", *unc));
  EXPECT_FALSE(access.IsInside(u"\\\\SRV\\pub\\a.txt", *unc));

  const auto share = access.ResolveShare(u"C:\\share");
  ASSERT_TRUE(share);
  const std::pair<std::u16string_view, bool> arguments[] = {
      {u"", true},
      {u"sub", true},
      {u"sub\\deeper", true},
      {u"sub/..", true},
      {u"..", false},
      {u"..\\share2", false},
      {u"sub\\..\\..", false},
      {u"C:\\share", false},
      {u"C:..\\x", false},
      {u"C:sub", false},
      {u"\\sub", false},
      {u"/sub", false},
      {u"\\\\srv\\pub", false},
      {u"link", false},
      {u"link\\x", false},
      {u"sub:s", false},
      {u"con", false},
      {u"sub\r\n#/dropfile C:\\x", false},
  };
  for (const auto& [argument, inside] : arguments) {
    SCOPED_TRACE(Utf16ToUtf8(argument));
    const std::u16string folder = u"C:\\share\\" + std::u16string(argument);
    EXPECT_EQ(access.IsFolderArgumentInside(argument, folder, *share), inside);
  }

  for (std::u16string_view name : {u"a.txt", u"..a", u"a..", u"\u00FCber.doc"}) {
    EXPECT_TRUE(access.IsPlainName(name)) << Utf16ToUtf8(name);
  }
  for (std::u16string_view name :
       {u"", u".", u"..", u"..\\a", u"a/b", u"C:a", u"a:s", u"a\nb", u"\xD801"}) {
    EXPECT_FALSE(access.IsPlainName(name)) << Utf16ToUtf8(name);
  }
}

TEST(PathAccessWindows, LinkLoopsEndTheWalk) {
  TableResolver fs;
  fs.Dir(u"C:\\share");
  fs.Link(u"C:\\share\\a", u"C:\\share\\b");
  fs.Link(u"C:\\share\\b", u"C:\\share\\a");
  PathAccess access(fs, PathStyle::kWindows);
  const auto share = access.ResolveShare(u"C:\\share");
  ASSERT_TRUE(share);
  EXPECT_FALSE(access.IsInside(u"C:\\share\\a\\x", *share));
  EXPECT_LT(fs.inspections, 4 * PathAccess::kMaxLinks);
}

TEST(NarrowText, OnlyExactConversions) {
  EXPECT_EQ(ToNarrowExact(u"a.txt"), std::optional<std::string>("a.txt"));
  EXPECT_EQ(ToNarrowExact(u"\uFF0E\uFF0E\uFF3C"),
            std::optional<std::string>("\xEF\xBC\x8E\xEF\xBC\x8E\xEF\xBC\xBC"));
  EXPECT_FALSE(ToNarrowExact(u"a\xD800"));
  EXPECT_FALSE(
      ToNarrowExact(u"\xDC00"
                    u"b"));
}

// A real tree on this machine:
//   root/share/{a.txt, sub/b.txt, inlink -> sub, outlink -> ../secret,
//               uplink -> .., abslink -> root/secret, loop -> loop,
//               dangling-in -> nowhere, dangling-out -> ../nowhere}
//   root/secret/s.txt, root/share2/x.txt
class PathAccessPosix : public ::testing::Test {
 protected:
  void SetUp() override {
    namespace fs = std::filesystem;
    fs::create_directories(root_ / "share" / "sub");
    fs::create_directories(root_ / "secret");
    fs::create_directories(root_ / "share2");
    std::ofstream(root_ / "share" / "a.txt") << "a";
    std::ofstream(root_ / "share" / "sub" / "b.txt") << "b";
    std::ofstream(root_ / "secret" / "s.txt") << "s";
    std::ofstream(root_ / "share2" / "x.txt") << "x";
    fs::create_directory_symlink("sub", root_ / "share" / "inlink");
    fs::create_directory_symlink("../secret", root_ / "share" / "outlink");
    fs::create_directory_symlink("..", root_ / "share" / "uplink");
    fs::create_directory_symlink(root_ / "secret", root_ / "share" / "abslink");
    fs::create_symlink("loop", root_ / "share" / "loop");
    fs::create_symlink("nowhere", root_ / "share" / "dangling-in");
    fs::create_symlink("../nowhere", root_ / "share" / "dangling-out");
  }

  std::u16string P(const std::string& relative) const {
    return Utf8ToUtf16((root_ / "").string() + relative);
  }

  testing::TempDir dir_;
  const std::filesystem::path root_ = dir_.path();
};

TEST_F(PathAccessPosix, FileRequestsFollowLinksComponentByComponent) {
  auto resolver = CreatePlatformPathResolver();
  PathAccess access(*resolver, PathStyle::kPosix);
  const auto share = access.ResolveShare(P("share"));
  ASSERT_TRUE(share);
  const std::pair<std::string, bool> cases[] = {
      {"share/a.txt", true},
      {"share", true},
      {"share/", true},
      {"share//a.txt", true},
      {"share/./a.txt", true},
      {"share/sub/../a.txt", true},
      {"share/not-there/x.txt", true},
      {"share/inlink/b.txt", true},
      {"share/inlink/../a.txt", true},  // inlink is share/sub: ".." is the share
      {"share/dangling-in", true},
      {"share/sub\\..\\..\\secret", true},  // "\" is a name character here
      {"share/../secret/s.txt", false},
      {"share2/x.txt", false},
      {"share/outlink/s.txt", false},
      {"share/outlink", false},
      {"share/outlink/../secret/s.txt", false},  // not share/secret: the link goes first
      {"share/uplink/secret/s.txt", false},
      {"share/abslink/s.txt", false},
      {"share/loop/x", false},
      {"share/dangling-out", false},
      {"share/not-there/../../secret/s.txt", false},
      {"share/inlink/../../secret/s.txt", false},
      {"share/a.txt/../../secret/s.txt", false},
      {"share/a.txt\n#/dropfile /etc/passwd", false},
  };
  for (const auto& [path, inside] : cases) {
    SCOPED_TRACE(path);
    EXPECT_EQ(access.IsInside(P(path), *share), inside);
  }
  for (std::u16string_view path : {u"share/a.txt", u"", u"/etc/passwd", u"../share/a.txt"}) {
    SCOPED_TRACE(Utf16ToUtf8(path));
    EXPECT_FALSE(access.IsInside(path, *share));
  }

  // A share reached through a link is the folder the link leads to.
  const auto linked = access.ResolveShare(P("share/abslink"));
  ASSERT_TRUE(linked);
  EXPECT_TRUE(access.IsInside(P("secret/s.txt"), *linked));
  EXPECT_FALSE(access.ResolveShare(u"Error"));
  EXPECT_FALSE(access.ResolveShare(u""));

  // Deeper than the platform's path limit: refused, not crashed.
  std::u16string deep = P("share");
  while (deep.size() < 40000) deep += u"/x";
  EXPECT_FALSE(access.IsInside(deep, *share));
}

}  // namespace
}  // namespace zuvo
