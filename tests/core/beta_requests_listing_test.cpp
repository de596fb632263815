// Remote requests answered from a real shared folder: the listings, the
// search, the failure rule and a request that arrives during a walk.
#include <gtest/gtest.h>

#include "base/plugin_error.h"
#include "core/beta_requests_fixture.h"

namespace zuvo {
namespace {

const std::u16string kOffering = u"Accepted Request, Offering...";

class ListingRequests : public BetaRequestsTest {
 protected:
  void SetUp() override {
    BetaRequestsTest::SetUp();
    MakeFile("share/a.txt");
    MakeFile("share/b.doc");
    MakeFile("share/.hidden.txt");
    MakeFile("share/sub1/d.txt");
    MakeFile("share/sub2/e.txt");
    MakeFile("share/sub2/deep/f.txt");
    MakeFile("secret/s.txt");
    MakeFile("other/x.txt");
    std::filesystem::create_directory_symlink("../secret", root_ / "share" / "outlink");
  }

  // The list reply for |entries|, each below the shared folder.
  std::u16string Offer(std::initializer_list<const char16_t*> entries) {
    std::u16string text = kOffering;
    for (const char16_t* entry : entries) text += u"\r" + Share() + u"/" + entry;
    return text;
  }

  std::u16string Ask(const std::u16string& code, const std::u16string& text) {
    std::u16string reply = u"untouched";
    EXPECT_TRUE(Notify(code, text, reply));
    return reply;
  }
};

TEST_F(ListingRequests, EveryReplyOfTheTable) {
  SetSubFolders(u"0");
  EXPECT_EQ(Ask(u"rlist", u"*.*"), Offer({u"a.txt", u"b.doc"}));
  EXPECT_EQ(Ask(u"rlist", u"*.zip"), kOffering);
  EXPECT_EQ(Ask(u"rlist", u"*.doc;*.txt"), Offer({u"b.doc", u"a.txt"}));
  SetSubFolders(u"1");
  EXPECT_EQ(Ask(u"rlist", u"*.*"),
            Offer({u"a.txt", u"b.doc", u"sub1/d.txt", u"sub2/e.txt", u"sub2/deep/f.txt"}));
  EXPECT_EQ(Ask(u"rlist", u"*.txt"),
            Offer({u"a.txt", u"sub1/d.txt", u"sub2/e.txt", u"sub2/deep/f.txt"}));
  for (std::u16string_view flag : {u"", u"Error", u"2", u"1 "}) {
    SetSubFolders(std::u16string(flag));
    EXPECT_EQ(Ask(u"rlist", u"*.*"), u"untouched");
  }

  // The folder requests ignore the sub-folders setting.
  SetSubFolders(u"1");
  EXPECT_EQ(Ask(u"rfldr", u"sub2"), Offer({u"sub2/e.txt"}));
  EXPECT_EQ(Ask(u"rfldr", u""), Offer({u"a.txt", u"b.doc"}));
  EXPECT_EQ(Ask(u"rfldr", u"missing"), kOffering);
  EXPECT_EQ(Ask(u"rflds", u""), Offer({u"sub1", u"sub2"}));
  EXPECT_EQ(Ask(u"rflds", u"sub2"), Offer({u"sub2/deep"}));
  EXPECT_EQ(Ask(u"rflds", u"sub1"), kOffering);
  EXPECT_EQ(Ask(u"rflds", u"sub2/../sub2"), Offer({u"sub2/../sub2/deep"}));

  // The search covers the whole tree whatever the setting; links are not
  // followed out of it.
  SetSubFolders(u"0");
  EXPECT_EQ(Ask(u"rsrch", u"f.txt"), kOffering + u"\r" + Share() + u"/sub2/deep/f.txt");
  EXPECT_EQ(Ask(u"rsrch", u"F.TXT"), kOffering + u"\r" + Share() + u"/sub2/deep/f.txt");
  EXPECT_EQ(Ask(u"rsrch", u"none.txt"), kOffering + u"\r");
  EXPECT_EQ(Ask(u"rsrch", u"s.txt"), kOffering + u"\r");
  EXPECT_EQ(Ask(u"rsrch", u"*.txt"), kOffering + u"\r");

  // What a list offers, a file request takes.
  const std::u16string path = Share() + u"/sub2/deep/f.txt";
  EXPECT_EQ(Ask(u"rfile", path),
            u"Accepted Request, Sending File " + path + u"...\n#/dropfile " + path);
}

TEST_F(ListingRequests, AFailingFolderOrSearchEndsTheCallWithWhatWasBuilt) {
  fileSystem_->failFolder = Share() + u"/sub2/";
  fileSystem_->failBelow = u"sub2";
  for (FsStatus failure : {FsStatus::kAccessDenied, FsStatus::kIoError, FsStatus::kBadPath}) {
    fileSystem_->failure = failure;
    std::u16string reply = u"untouched";
    bool result = true;
    CallStatus status = CallContract(
        [&] { return plugin().ReceiveNotify(u"rflds", u"sub2", u"c", nullptr, reply); }, result);
    EXPECT_TRUE(status.failed());
    EXPECT_EQ(reply, kOffering);
    EXPECT_EQ(State().sSharedFolder, Share() + u"/sub2");

    // The file listings absorb the same failure.
    EXPECT_EQ(Ask(u"rfldr", u"sub2"), kOffering);
    SetSubFolders(u"1");
    EXPECT_EQ(Ask(u"rlist", u"*.txt"), Offer({u"a.txt", u"sub1/d.txt"}));
    SetSubFolders(u"0");
  }
  // Out of memory or descriptors, a listing would lose part of the tree: the
  // call fails instead of answering with what it has.
  for (FsStatus failure : {FsStatus::kNoResources, FsStatus::kNoMemory}) {
    fileSystem_->failure = failure;
    for (const char16_t* code : {u"rfldr", u"rlist"}) {
      SetSubFolders(code == std::u16string(u"rlist") ? u"1" : u"0");
      std::u16string reply = u"untouched";
      bool result = true;
      const CallStatus status = CallContract(
          [&] { return plugin().ReceiveNotify(code, u"sub2", u"c", nullptr, reply); }, result);
      EXPECT_EQ(status.code, failure == FsStatus::kNoMemory ? hr::kOutOfMemory : hr::kTooManyFiles);
      EXPECT_EQ(reply, kOffering);
    }
  }
  fileSystem_->failFolder.clear();
  fileSystem_->failBelow.clear();

  fileSystem_->failSearch = true;
  fileSystem_->failure = FsStatus::kIoError;
  std::u16string reply = u"untouched";
  bool result = true;
  CallStatus status = CallContract(
      [&] { return plugin().ReceiveNotify(u"rsrch", u"f.txt", u"c", nullptr, reply); }, result);
  EXPECT_EQ(status.code, hr::kDeviceIOError);
  EXPECT_EQ(reply, kOffering);
  EXPECT_EQ(State().sFilesSent, u"0");
}

TEST_F(ListingRequests, ARequestDuringTheWalkLeavesTheOuterReplyItsOwn) {
  SetSubFolders(u"1");
  std::u16string nestedList, nestedFolder, swallowed = u"untouched";
  int pauses = 0;
  pump_.hook = [&] {
    if (++pauses != 2) return;
    // The host delivers three more notifications while the walk pauses: the
    // user changed the shared folder meanwhile, and the local user's own
    // request comes back.
    SetShare(At("other"));
    SetSubFolders(u"0");
    EXPECT_TRUE(Notify(u"rlist", u"*.*", nestedList));
    EXPECT_TRUE(Notify(u"rfldr", u"", nestedFolder));
    State().bOwnRequestPending = true;
    EXPECT_TRUE(Notify(u"rsrch", u"x.txt", swallowed));
  };
  const std::u16string outer = Ask(u"rlist", u"*.*");
  EXPECT_GE(pauses, 2);
  EXPECT_EQ(outer, Offer({u"a.txt", u"b.doc", u"sub1/d.txt", u"sub2/e.txt", u"sub2/deep/f.txt"}));
  EXPECT_EQ(nestedList, kOffering + u"\r" + At("other/x.txt"));
  EXPECT_EQ(nestedFolder, kOffering + u"\r" + At("other/x.txt"));
  EXPECT_EQ(swallowed, u"untouched");
  EXPECT_FALSE(State().bOwnRequestPending);
  EXPECT_EQ(State().sSharedFolder, At("other") + u"/");  // the nested call's, untouched since
}

TEST_F(ListingRequests, NamesThatWouldForgeAHostCommandAreNeverOffered) {
  MakeFile("share/evil\n#/dropfile " + (root_ / "secret" / "s.txt").string());
  MakeFile("share/cr\rline.txt");
  MakeDir("share/dir\nx");
  // DEL, NEL (a C1 control), the line and paragraph separators.
  for (const char* name :
       {"del\x7f.txt", "nel\xc2\x85.txt", "ls\xe2\x80\xa8.txt", "ps\xe2\x80\xa9.txt"}) {
    MakeFile(std::string("share/") + name);
  }
  MakeFile(
      "share/sep\xe2\x80\xa8"
      "dir/g.txt");
  SetSubFolders(u"1");
  const std::u16string all =
      Offer({u"a.txt", u"b.doc", u"sub1/d.txt", u"sub2/e.txt", u"sub2/deep/f.txt"});
  EXPECT_EQ(Ask(u"rlist", u"*.*"), all);
  EXPECT_EQ(Ask(u"rflds", u""), Offer({u"sub1", u"sub2"}));
  EXPECT_EQ(Ask(u"rsrch", u"cr\rline.txt"), kOffering + u"\r");
  EXPECT_EQ(Ask(u"rsrch", u"g.txt"), kOffering + u"\r");
  // A path holding one is not echoed next to the host's command.
  for (const char16_t* name : {u"/del\u007f.txt", u"/nel\u0085.txt", u"/ls\u2028.txt"}) {
    EXPECT_EQ(Ask(u"rfile", Share() + name),
              u"That file is not in the shared folder, you do not have access to it");
  }
}

}  // namespace
}  // namespace zuvo
