#include <gtest/gtest.h>

#include "core/beta_requests_fixture.h"

namespace zuvo {
namespace {

const std::u16string kSharingOff = u"Request Denied, File Sharing is Turned off";
const std::u16string kNotInShare =
    u"That file is not in the shared folder, you do not have access to it";
const std::u16string kOffering = u"Accepted Request, Offering...";
const std::u16string kUntouched = u"host's text";

std::u16string FileReply(const std::u16string& path) {
  return u"Accepted Request, Sending File " + path + u"...\n#/dropfile " + path;
}

bool SameState(const BetaState& a, const BetaState& b) {
  return a.sRequestedFile == b.sRequestedFile && a.sSharedFolder == b.sSharedFolder &&
         a.sSharingOn == b.sSharingOn && a.sSubFolders == b.sSubFolders &&
         a.sFilesSent == b.sFilesSent && a.bOwnRequestPending == b.bOwnRequestPending;
}

const std::u16string kCodes[] = {u"rlist", u"rfile", u"rfldr", u"rflds", u"rsrch"};

TEST_F(BetaRequestsTest, OnlyTheFiveCodesAreAnsweredWhateverTheirCase) {
  State().bOwnRequestPending = true;
  for (std::u16string_view code : {u"", u"rlis", u"rlistx", u" rlist", u"rfile ", u"xrfile",
                                   u"r\x0130st", u"rfi\0le", u"RFLDRS", u"\x12rsrch"}) {
    SCOPED_TRACE(Utf16ToUtf8(code));
    const BetaState before = State();
    std::u16string reply = kUntouched;
    EXPECT_FALSE(Notify(std::u16string(code), Share() + u"/a.txt", reply));
    EXPECT_EQ(reply, kUntouched);
    EXPECT_TRUE(SameState(State(), before));
  }
  State().bOwnRequestPending = false;
  MakeFile("share/a.txt");
  for (std::u16string_view code : {u"RFILE", u"RfIlE", u"rFILE"}) {
    std::u16string reply;
    EXPECT_TRUE(Notify(std::u16string(code), Share() + u"/a.txt", reply));
    EXPECT_EQ(reply, FileReply(Share() + u"/a.txt"));
  }
  for (std::u16string_view code : {u"RLIST", u"Rfldr", u"rFLDs", u"RSRCH"}) {
    std::u16string reply;
    EXPECT_TRUE(Notify(std::u16string(code), u"nothing-matches", reply));
    EXPECT_EQ(reply.substr(0, kOffering.size()), kOffering) << Utf16ToUtf8(code);
  }
}

TEST_F(BetaRequestsTest, TheOwnRequestEchoIsOneFlagNotACount) {
  for (const std::u16string& code : kCodes) {
    SCOPED_TRACE(Utf16ToUtf8(code));
    for (std::u16string_view sharing : {u"1", u"0", u"Error"}) {
      State().sSharingOn = sharing;
      State().bOwnRequestPending = true;
      State().sRequestedFile = u"old";
      std::u16string reply = kUntouched;
      EXPECT_TRUE(Notify(code, Share() + u"/a.txt", reply));
      EXPECT_EQ(reply, kUntouched);
      EXPECT_FALSE(State().bOwnRequestPending);
      EXPECT_EQ(State().sFilesSent, u"0");
      // The file request's path is taken even when the request is swallowed.
      EXPECT_EQ(State().sRequestedFile, code == u"rfile" ? Share() + u"/a.txt" : u"old");
    }
  }
  // Two local requests in a row leave one flag: only the first returning
  // notification is swallowed, the second is answered.
  State().sSharingOn = u"1";
  std::u16string sent;
  ASSERT_TRUE(plugin().ParseCommand(u"/xrfile", Share() + u"/a.txt", nullptr, sent));
  ASSERT_TRUE(plugin().ParseCommand(u"/xrlist", u"*.txt", nullptr, sent));
  ASSERT_TRUE(State().bOwnRequestPending);
  std::u16string first = kUntouched, second = kUntouched;
  EXPECT_TRUE(Notify(u"rfile", Share() + u"/a.txt", first));
  EXPECT_TRUE(Notify(u"rfile", Share() + u"/a.txt", second));
  EXPECT_EQ(first, kUntouched);
  EXPECT_EQ(second, FileReply(Share() + u"/a.txt"));
  EXPECT_EQ(State().sFilesSent, u"1");

  // Any other code leaves the flag as it is.
  State().bOwnRequestPending = true;
  std::u16string reply;
  EXPECT_FALSE(Notify(u"other", u"", reply));
  EXPECT_TRUE(State().bOwnRequestPending);
}

TEST_F(BetaRequestsTest, RefusalsWhileSharingIsNotOn) {
  for (const std::u16string& code : kCodes) {
    SCOPED_TRACE(Utf16ToUtf8(code));
    State().sSharingOn = u"0";
    std::u16string reply = kUntouched;
    EXPECT_TRUE(Notify(code, Share() + u"/a.txt", reply));
    EXPECT_EQ(reply, kSharingOff);
    // Neither "1" nor "0": the file request gets no reply at all.
    for (std::u16string_view sharing : {u"Error", u"", u"2", u" 1", u"1 "}) {
      State().sSharingOn = sharing;
      reply = kUntouched;
      EXPECT_TRUE(Notify(code, Share() + u"/a.txt", reply));
      EXPECT_EQ(reply, code == u"rfile" ? kUntouched : kSharingOff);
    }
  }
  EXPECT_EQ(State().sFilesSent, u"0");
  EXPECT_EQ(State().sRequestedFile, Share() + u"/a.txt");
}

TEST_F(BetaRequestsTest, FileRequestsInsideTheShareAreSentAndCounted) {
  MakeFile("share/a.txt");
  MakeFile("share/sub/b.txt");
  MakeFile("share2/x.txt");
  MakeFile("secret.txt");
  const std::u16string accepted[] = {
      Share() + u"/a.txt",     Share(),
      Share() + u"/",          Share() + u"/sub/../a.txt",
      Share() + u"/sub/b.txt", Share() + u"/not-there.txt",  // existence is not tested
  };
  int count = 0;
  for (const std::u16string& path : accepted) {
    SCOPED_TRACE(Utf16ToUtf8(path));
    std::u16string reply = kUntouched;
    EXPECT_TRUE(Notify(u"rfile", path, reply));
    EXPECT_EQ(reply, FileReply(path));  // the path exactly as sent, twice
    EXPECT_EQ(State().sFilesSent, Utf8ToUtf16(std::to_string(++count)));
    EXPECT_EQ(State().sRequestedFile, path);
  }
  const std::u16string refused[] = {
      Share() + u"/../secret.txt",
      At("share2/x.txt"),
      At("share2"),
      At("SHARE/a.txt"),  // letter case is kept
      u"share/a.txt",
      u"/etc/passwd",
  };
  const BetaState before = State();
  for (const std::u16string& path : refused) {
    SCOPED_TRACE(Utf16ToUtf8(path));
    std::u16string reply = kUntouched;
    EXPECT_TRUE(Notify(u"rfile", path, reply));
    EXPECT_EQ(reply, kNotInShare);
    EXPECT_EQ(State().sFilesSent, before.sFilesSent);
    EXPECT_EQ(State().sSharedFolder, before.sSharedFolder);  // not touched by file requests
  }

  // The count is decimal text that carries.
  for (const auto& [from, to] : {std::pair<std::u16string, std::u16string>{u"9", u"10"},
                                 {u"99", u"100"},
                                 {u"129", u"130"},
                                 {u"", u"1"},
                                 {u"18446744073709551615", u"18446744073709551616"}}) {
    State().sFilesSent = from;
    std::u16string reply;
    EXPECT_TRUE(Notify(u"rfile", Share() + u"/a.txt", reply));
    EXPECT_EQ(State().sFilesSent, to);
  }
}

TEST_F(BetaRequestsTest, AShareThatIsEmptyOrNotAbsoluteSharesNothing) {
  MakeFile("share/a.txt");
  for (std::u16string_view folder : {u"", u"Error", u"share", u"./share"}) {
    SCOPED_TRACE(Utf16ToUtf8(folder));
    SetShare(std::u16string(folder));
    SetSubFolders(u"1");
    std::u16string reply = kUntouched;
    EXPECT_TRUE(Notify(u"rfile", Share() + u"/a.txt", reply));
    EXPECT_EQ(reply, kNotInShare);
    EXPECT_TRUE(Notify(u"rfile", u"a.txt", reply));
    EXPECT_EQ(reply, kNotInShare);
    for (std::u16string_view code : {u"rlist", u"rfldr", u"rflds"}) {
      reply = kUntouched;
      EXPECT_TRUE(Notify(std::u16string(code), u"", reply));
      EXPECT_EQ(reply, kOffering);
    }
    reply = kUntouched;
    EXPECT_TRUE(Notify(u"rsrch", u"a.txt", reply));
    EXPECT_EQ(reply, kOffering + u"\r");
  }
  EXPECT_EQ(State().sFilesSent, u"0");
}

TEST_F(BetaRequestsTest, WorkingFieldsFollowEachRequest) {
  SetSubFolders(u"0");
  std::u16string reply;
  EXPECT_TRUE(Notify(u"rfldr", u"sub/x", reply));
  EXPECT_EQ(State().sSharedFolder, Share() + u"/sub/x");
  EXPECT_EQ(State().sSubFolders, u"0");
  SetSubFolders(u"1");
  EXPECT_TRUE(Notify(u"rflds", u"", reply));
  EXPECT_EQ(State().sSharedFolder, Share() + u"/");
  EXPECT_EQ(State().sSubFolders, u"1");
  SetSubFolders(u"maybe");
  reply = kUntouched;
  EXPECT_TRUE(Notify(u"rlist", u"*.*", reply));
  EXPECT_EQ(reply, kUntouched);  // neither "0" nor "1": no reply
  EXPECT_EQ(State().sSharedFolder, Share());
  EXPECT_EQ(State().sSubFolders, u"maybe");
  // The live settings are read at each request.
  SetShare(At("elsewhere"));
  EXPECT_TRUE(Notify(u"rsrch", u"a.txt", reply));
  EXPECT_EQ(State().sSharedFolder, At("elsewhere"));
}

}  // namespace
}  // namespace zuvo
