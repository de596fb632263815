// A request's cost is bounded by the share, not by its text: floods of
// pattern pieces, a reply past its size limit, and a walk that runs out of
// descriptors.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "base/plugin_error.h"
#include "core/beta_requests_fixture.h"
#include "files/wildcard.h"

namespace zuvo {
namespace {

const std::u16string kOffering = u"Accepted Request, Offering...";

class BoundedRequests : public BetaRequestsTest {
 protected:
  // 1,000 files with 250-character names.
  void MakeThousandFiles() {
    for (int i = 0; i < 1000; ++i) {
      std::string name = std::to_string(i) + "-";
      name.append(246 - name.size(), 'a');
      MakeFile("share/" + name + ".txt");
    }
  }
  std::u16string Ask(const std::u16string& code, const std::u16string& text) {
    std::u16string reply = u"untouched";
    EXPECT_TRUE(Notify(code, text, reply));
    return reply;
  }
  uint64_t Steps() { return server().files().match_steps(); }
};

std::u16string Joined(std::u16string_view piece, size_t count) {
  std::u16string text;
  for (size_t i = 0; i < count; ++i) (text += i ? u";" : u"") += piece;
  return text;
}

TEST_F(BoundedRequests, RepeatedPiecesListTheShareOnceAndMatchOnce) {
  MakeThousandFiles();
  SetSubFolders(u"1");
  const std::u16string all = Ask(u"rlist", u"*.*");
  ASSERT_EQ(std::count(all.begin(), all.end(), u'\r'), 1000);
  // 20,000 ";" used to list the share 20,001 times.
  EXPECT_EQ(Ask(u"rlist", std::u16string(20000, u';')), all);
  // 100,000 copies of a slow piece cost what one costs.
  uint64_t before = Steps();
  const std::u16string one = Ask(u"rlist", u"?*ab");
  const uint64_t oneSteps = Steps() - before;
  before = Steps();
  EXPECT_EQ(Ask(u"rlist", Joined(u"?*ab", 100000)), one);
  EXPECT_EQ(Steps() - before, oneSteps);
  // Within the bounds, the worst a list can cost: every name against every
  // pattern character.
  std::u16string worst;
  for (size_t i = 0; i < kMaxPatternPieces; ++i) {
    const std::u16string number = DecimalText(100 + i);
    worst += (i ? u";*" : u"*") + std::u16string(kMaxPatternChars / kMaxPatternPieces - 5, u'a') +
             u"?" + number;
  }
  ASSERT_TRUE(PatternListWithinBounds(worst));
  before = Steps();
  EXPECT_EQ(Ask(u"rlist", worst), kOffering);
  EXPECT_LE(Steps() - before, 2 * 1000u * 251 * (kMaxPatternChars + kMaxPatternPieces));
}

TEST_F(BoundedRequests, PatternListsPastTheBoundsAreRefusedVisibly) {
  MakeFile("share/a.txt");
  const std::u16string refused =
      u"Request Denied, too many file patterns: at most 32 different ones, of 256 characters in "
      u"all";
  std::u16string many;
  for (size_t i = 0; i <= kMaxPatternPieces; ++i) many += u"*." + DecimalText(i) + u";";
  EXPECT_EQ(Ask(u"rlist", many), refused);
  EXPECT_EQ(Ask(u"rlist", u"a.txt;" + std::u16string(kMaxPatternChars - 4, u'*')), refused);
  // Case variants and every form of "all files" are one piece each.
  std::u16string variants = u";*;*.*";
  for (int i = 0; i < 200; ++i) variants += i % 2 ? u";A.TXT" : u";a.txt";
  variants += u";A.txt;a.TXT";
  EXPECT_EQ(Ask(u"rlist", variants),
            kOffering + u"\r" + Share() + u"/a.txt" + u"\r" + Share() + u"/a.txt");
  // Sharing off still answers as it did.
  State().sSharingOn = u"0";
  EXPECT_EQ(Ask(u"rlist", many), u"Request Denied, File Sharing is Turned off");
}

TEST_F(BoundedRequests, AReplyPastItsLimitEndsWithALineSayingItWasCut) {
  MakeThousandFiles();
  BetaTestPeer::SetMaxReplyChars(plugin(), 10000);
  const std::u16string cutLine =
      u"\r... (list cut here: the reply reached its size limit; ask for fewer files)";
  for (const char16_t* code : {u"rlist", u"rfldr"}) {
    const std::u16string reply = Ask(code, code == std::u16string(u"rlist") ? u"*.*" : u"");
    EXPECT_LE(reply.size(), 10000u);
    ASSERT_GT(reply.size(), cutLine.size());
    EXPECT_EQ(reply.substr(reply.size() - cutLine.size()), cutLine);
    // Whole entries before it: each line a path of the share.
    const std::u16string entries = reply.substr(0, reply.size() - cutLine.size());
    const size_t line = 1 + Share().size() + 1 + 250;
    EXPECT_EQ(entries.size(),
              kOffering.size() + line * std::count(entries.begin(), entries.end(), u'\r'));
    EXPECT_GT(entries.size() + line + cutLine.size(), 10000u);  // no room for one more
  }
}

// A walk that runs out of descriptors half-way fails the call rather than
// answer with part of the share: tried in a child with a low descriptor limit.
TEST_F(BoundedRequests, AWalkOutOfDescriptorsFailsTheCall) {
  std::string deep = "share";
  for (int i = 0; i < 48; ++i) deep += "/d";
  MakeFile(deep + "/last.txt");
  SetSubFolders(u"1");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    struct rlimit limit = {128, 128};
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(10);
    // Leave 8 descriptors free, fewer than the walk keeps open at depth 48.
    std::vector<int> held;
    for (int fd; (fd = open("/dev/null", O_RDONLY)) >= 0;) held.push_back(fd);
    for (int i = 0; i < 8 && !held.empty(); ++i, held.pop_back()) close(held.back());
    std::u16string reply;
    bool result = true;
    const CallStatus status = CallContract(
        [&] { return plugin().ReceiveNotify(u"rlist", u"*.*", u"c", nullptr, reply); }, result);
    _exit(status.code == hr::kTooManyFiles && reply == kOffering ? 0 : 1);
  }
  int wstatus = 0;
  ASSERT_EQ(waitpid(child, &wstatus, 0), child);
  ASSERT_TRUE(WIFEXITED(wstatus));
  EXPECT_EQ(WEXITSTATUS(wstatus), 0);
  // With descriptors enough, the same walk lists the file.
  EXPECT_EQ(Ask(u"rlist", u"last.txt"), kOffering + u"\r" + At(deep + "/last.txt"));
}

}  // namespace
}  // namespace zuvo
