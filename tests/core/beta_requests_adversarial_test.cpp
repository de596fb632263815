// A contact's hostile requests: none may offer or send anything outside the
// shared folder, forge a host command line, or crash the plug-in.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "core/beta_requests_fixture.h"

namespace zuvo {
namespace {

const std::u16string kNotInShare =
    u"That file is not in the shared folder, you do not have access to it";
const std::u16string kOffering = u"Accepted Request, Offering...";

struct Request {
  std::u16string code;
  std::u16string text;
};

class AdversarialRequests : public BetaRequestsTest {
 protected:
  void SetUp() override {
    BetaRequestsTest::SetUp();
    namespace fs = std::filesystem;
    MakeFile("share/a.txt");
    MakeFile("share/sub/b.txt");
    MakeFile("share/sub/deeper/c.txt");
    MakeFile("secret/s.txt");
    MakeFile("secret/inner/t.txt");
    MakeFile("share2/x.txt");
    fs::create_directory_symlink("sub", root_ / "share" / "inlink");
    fs::create_directory_symlink("../secret", root_ / "share" / "outlink");
    fs::create_directory_symlink("..", root_ / "share" / "uplink");
    fs::create_directory_symlink(root_ / "secret", root_ / "share" / "sub" / "abslink");
    fs::create_symlink(root_ / "secret" / "s.txt", root_ / "share" / "s-link.txt");
    // Names that a listing must never put on a line of their own.
    MakeFile("share/evil\n#/dropfile " + (root_ / "secret" / "s.txt").string());
    MakeFile("share/cr\rname.txt");
    shareCanonical_ = fs::canonical(root_ / "share");
  }

  // The oracle: the path as the file system resolves it, links included,
  // lies in the shared folder.
  bool Inside(const std::u16string& path) {
    bool valid = false;
    const std::string narrow = Utf16ToUtf8(path, &valid);
    if (!valid || narrow.empty() || narrow[0] != '/') return false;
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(narrow, error);
    if (error) return false;
    const std::filesystem::path relative = resolved.lexically_relative(shareCanonical_);
    return !relative.empty() && *relative.begin() != "..";
  }

  void Check(const Request& request, const std::u16string& reply) {
    ASSERT_FALSE(!reply.empty() && reply[0] == kMarker);
    if (request.code == u"rfile") {
      if (reply == kNotInShare) return;
      accepted_.push_back(request.text);
      ASSERT_EQ(reply, u"Accepted Request, Sending File " + request.text + u"...\n#/dropfile " +
                           request.text);
      EXPECT_TRUE(Inside(request.text));
      EXPECT_FALSE(
          std::any_of(request.text.begin(), request.text.end(), [](char16_t c) { return c < 32; }));
      return;
    }
    ASSERT_EQ(reply.substr(0, kOffering.size()), kOffering);
    const std::u16string rest = reply.substr(kOffering.size());
    EXPECT_EQ(rest.find(kLF), std::u16string::npos);
    if (request.code == u"rsrch") {
      EXPECT_EQ(std::count(rest.begin(), rest.end(), kCR), 1);
    }
    size_t start = 0;
    while (start < rest.size()) {
      EXPECT_EQ(rest[start], kCR);
      size_t end = rest.find(kCR, start + 1);
      if (end == std::u16string::npos) end = rest.size();
      const std::u16string entry = rest.substr(start + 1, end - start - 1);
      if (!entry.empty()) {
        ++offered_;
        EXPECT_TRUE(Inside(entry)) << Utf16ToUtf8(entry);
        EXPECT_EQ(entry.find(u"secret"), std::u16string::npos) << Utf16ToUtf8(entry);
      }
      start = end;
    }
  }

  std::filesystem::path shareCanonical_;
  std::vector<std::u16string> accepted_;
  int offered_ = 0;
};

TEST_F(AdversarialRequests, NothingOutsideTheShareIsOfferedOrSent) {
  const std::u16string share = Share();
  const std::u16string root = At("");  // ends with "/"
  const std::u16string secret = At("secret/s.txt");
  std::vector<Request> requests;
  auto add = [&](std::u16string_view code, const std::u16string& text) {
    requests.push_back({std::u16string(code), text});
  };

  // Files: traversal, links, absolute and relative paths, prefix tricks.
  for (const std::u16string& tail :
       std::vector<std::u16string>{u"/../secret/s.txt",
                                   u"/./../secret/s.txt",
                                   u"/sub/../../secret/s.txt",
                                   u"//..//secret/s.txt",
                                   u"/outlink/s.txt",
                                   u"/outlink",
                                   u"/outlink/inner/t.txt",
                                   u"/uplink/secret/s.txt",
                                   u"/sub/abslink/s.txt",
                                   u"/s-link.txt",
                                   u"/outlink/../secret/s.txt",
                                   u"/inlink/../../secret/s.txt",
                                   u"/not-there/../../secret/s.txt",
                                   u"/a.txt/../../secret/s.txt",
                                   u"2/x.txt",
                                   u"2",
                                   u"/..",
                                   u"/sub/..\\..\\..",
                                   u"/..%2fsecret%2fs.txt",
                                   u"/%2e%2e/secret/s.txt",
                                   u"/\uFF0E\uFF0E/secret/s.txt",
                                   u"/\u2025/secret/s.txt",
                                   u"/CON",
                                   u"/nul.txt",
                                   u"/a.txt::$DATA",
                                   u"/a.txt:secret",
                                   u"/a.txt\n#/dropfile " + secret,
                                   u"/a.txt\r\n#/dropfile " + secret,
                                   u"/a.txt\x12rfile",
                                   std::u16string(u"/a.txt\0x", 8),
                                   u"/a\tb",
                                   u"/\x1f",
                                   u"/\xD800",
                                   u"/\xDC00/a.txt",
                                   u"/a.txt\xD83D",
                                   u"/" + std::u16string(40000, u'a'),
                                   u"/sub" + std::u16string(33000, u'/'),
                                   [] {
                                     std::u16string deep;
                                     for (int i = 0; i < 12000; ++i) deep += u"/..";
                                     return deep + u"/etc/passwd";
                                   }(),
                                   [] {
                                     std::u16string deep;
                                     for (int i = 0; i < 3000; ++i) deep += u"/sub/..";
                                     return deep + u"/../secret/s.txt";
                                   }(),
                                   u"/a.txt",
                                   u"/sub/b.txt",
                                   u"/sub/../a.txt",
                                   u""}) {
    add(u"rfile", share + tail);
  }
  for (const std::u16string& path : std::vector<std::u16string>{
           secret, u"/etc/passwd", u"/", u"//etc/passwd", u"", u"secret/s.txt", u"../secret/s.txt",
           u"~/s.txt", u"share/a.txt", root + u"share\\..\\secret\\s.txt", u"C:\\share\\a.txt",
           u"\\\\?\\" + secret, u"file://" + secret}) {
    add(u"rfile", path);
  }

  // Folders, relative to the share, for both folder requests.
  for (const std::u16string& argument : std::vector<std::u16string>{u"..",
                                                                    u"../secret",
                                                                    u"../secret/",
                                                                    u"sub/../..",
                                                                    u"sub/../../secret",
                                                                    u"/",
                                                                    u"/etc",
                                                                    secret,
                                                                    u"outlink",
                                                                    u"outlink/inner",
                                                                    u"uplink",
                                                                    u"uplink/secret",
                                                                    u"sub/abslink",
                                                                    u"inlink/../..",
                                                                    u"not-there/../../secret",
                                                                    u"..\\secret",
                                                                    u"./../secret",
                                                                    u"\uFF0E\uFF0E",
                                                                    u"sub\n#/dropfile " + secret,
                                                                    u"sub\r" + secret,
                                                                    u"\x12..",
                                                                    u"\xD800",
                                                                    u"s-link.txt",
                                                                    std::u16string(40000, u'x'),
                                                                    u"",
                                                                    u"sub",
                                                                    u"inlink"}) {
    add(u"rfldr", argument);
    add(u"rflds", argument);
  }

  // Searches: names that would reach outside, or through links.
  for (const std::u16string& name : std::vector<std::u16string>{
           u"s.txt", u"t.txt", u"../secret/s.txt", u"secret/s.txt", u"..", u".", u"/etc/passwd",
           u"outlink", u"..\\s.txt", u"s.txt\n#/dropfile /etc/passwd", u"\xDFFF", u"*", u"a.txt",
           u"b.txt"}) {
    add(u"rsrch", name);
  }

  // Pattern lists for the file list, with and without sub-folders.
  for (const std::u16string& patterns : std::vector<std::u16string>{
           u"../secret/*", u"*/../../secret/*", u"/etc/*", u"..", u"outlink/*", u"*.*;../*",
           u"..\\*", u"\uFF0E\uFF0E/*", u"*\n#/dropfile /etc/passwd", u"\xD800*", u"*.*"}) {
    add(u"rlist", patterns);
    requests.push_back({u"RLIST", patterns});
  }
  ASSERT_GE(requests.size(), 60u);

  for (size_t i = 0; i < requests.size(); ++i) {
    const Request& request = requests[i];
    SCOPED_TRACE(Utf16ToUtf8(request.code + u" " + request.text.substr(0, 100)));
    SetSubFolders(request.code == u"RLIST" ? u"1" : u"0");
    std::u16string reply = u"untouched";
    EXPECT_TRUE(Notify(request.code, request.text, reply));
    Check({request.code == u"RLIST" ? u"rlist" : request.code, request.text}, reply);
  }
  // The legitimate requests among them are answered.
  for (std::u16string_view tail : {u"/a.txt", u"/sub/b.txt", u"/sub/../a.txt", u""}) {
    EXPECT_NE(std::find(accepted_.begin(), accepted_.end(), share + std::u16string(tail)),
              accepted_.end());
  }
}

}  // namespace
}  // namespace zuvo
