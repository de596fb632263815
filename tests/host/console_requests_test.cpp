// A contact's requests through zuvo-host console, in its own process, JSON
// lines in and out, over a real shared folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "base/text.h"
#include "support/console_test_support.h"
#include "support/settings_test_support.h"

namespace zuvo {
namespace {

using json::Value;
using testing::Member;
using testing::TempDir;
using testing::TextOf;

const std::u16string kSharingOff = u"Request Denied, File Sharing is Turned off";
const std::u16string kNotInShare =
    u"That file is not in the shared folder, you do not have access to it";
const std::u16string kOffering = u"Accepted Request, Offering...";

std::string Notify(std::u16string_view code, std::u16string_view text,
                   std::u16string_view incoming = u"host") {
  return R"({"call":"ReceiveNotify","sNotifyCode":)" + json::Quote(code) + R"(,"sText":)" +
         json::Quote(text) + R"(,"sContactName":"bob","sTextToSend":)" + json::Quote(incoming) +
         "}";
}

std::string Command(std::u16string_view command, std::u16string_view arg) {
  return R"({"call":"ParseCommand","sCommand":)" + json::Quote(command) + R"(,"sCommandArg":)" +
         json::Quote(arg) + "}";
}

const std::string kInitialize = R"({"call":"Initialize","nVersion":1,"sUserEmail":"a@b"})";

class ConsoleRequests : public ::testing::Test {
 protected:
  void SetUp() override {
    namespace fs = std::filesystem;
    root_ = dir_.path();
    for (const char* file :
         {"share/a.txt", "share/sub/b.txt", "share/sub/deeper/c.txt", "secret/s.txt"}) {
      fs::create_directories((root_ / file).parent_path());
      std::ofstream(root_ / file) << "x";
    }
  }

  std::u16string Share() const { return Utf8ToUtf16((root_ / "share").string()); }

  // One console session with the given settings; every answer parsed.
  std::vector<Value> Session(const std::vector<std::string>& settings,
                             const std::vector<std::string>& input,
                             const std::vector<std::string>& launcher = {}) {
    std::vector<std::string> args = {"--registry", dir_.File("registry.reg"), "--create-key"};
    for (const std::string& setting : settings) args.insert(args.end(), {"--set", setting});
    return testing::RunConsoleSession(args, input, launcher);
  }

  std::vector<std::string> Settings(const std::string& startOn, const std::string& subFolders) {
    return {"Shared Folder=" + (root_ / "share").string(), "Start On=" + startOn,
            "Sub Folders=" + subFolders};
  }

  static std::u16string Reply(const Value& answer) {
    return TextOf(Member(answer, u"out"), u"sTextToSend");
  }
  static std::u16string StateText(const Value& answer, const char16_t* field) {
    return TextOf(Member(answer, u"state"), field);
  }
  static bool Pending(const Value& answer) {
    return Member(Member(answer, u"state"), u"bOwnRequestPending").boolean;
  }

  TempDir dir_;
  std::filesystem::path root_;
};

TEST_F(ConsoleRequests, RepliesEchoCountingAndRefusals) {
  const std::u16string a = Share() + u"/a.txt";
  const std::u16string b = Share() + u"/sub/b.txt";
  const std::vector<Value> r =
      Session(Settings("1", "0"),
              {
                  kInitialize,                                        // 0
                  Notify(u"rlist", u"*.*"),                           // 1
                  Notify(u"rlist", u"*.zip"),                         // 2
                  Notify(u"rfldr", u"sub"),                           // 3
                  Notify(u"rflds", u""),                              // 4
                  Notify(u"rsrch", u"c.txt"),                         // 5
                  Notify(u"rsrch", u"none.txt"),                      // 6
                  Notify(u"rfile", a),                                // 7
                  Notify(u"rfile", Share() + u"/../secret/s.txt"),    // 8
                  Notify(u"RFile", b),                                // 9
                  Command(u"/xrlist", u""),                           // 10
                  Command(u"/xrfile", a),                             // 11
                  Notify(u"rlist", u"*.*"),                           // 12: the echo
                  Notify(u"rfile", a),                                // 13: answered
                  Notify(u"rlistx", u"*.*"),                          // 14
                  Command(u"/xroff", u""),                            // 15
                  Notify(u"rlist", u"*.*"),                           // 16
                  Notify(u"rfile", a),                                // 17
                  Notify(u"rfldr", u"sub"),                           // 18
                  Notify(u"rflds", u"sub"),                           // 19
                  Notify(u"rsrch", u"a.txt"),                         // 20
                  Notify(u"rfile", a + u"\n#/dropfile /etc/passwd"),  // 21 (sharing off)
                  Command(u"/xron", u""),                             // 22
                  Notify(u"rfile", a + u"\n#/dropfile /etc/passwd"),  // 23
                  Notify(u"rfile", Share() + u"/\xD800"),             // 24
                  Notify(u"rfldr", u"../secret"),                     // 25
              });
  for (size_t i = 1; i < r.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(Member(r[i], u"ok").boolean);
    EXPECT_EQ(Member(r[i], u"result").boolean, i != 14);
  }
  EXPECT_EQ(Reply(r[1]), kOffering + u"\r" + a);
  EXPECT_EQ(Reply(r[2]), kOffering);
  EXPECT_EQ(Reply(r[3]), kOffering + u"\r" + Share() + u"/sub/b.txt");
  EXPECT_EQ(Reply(r[4]), kOffering + u"\r" + Share() + u"/sub");
  EXPECT_EQ(Reply(r[5]), kOffering + u"\r" + Share() + u"/sub/deeper/c.txt");
  EXPECT_EQ(Reply(r[6]), kOffering + u"\r");
  EXPECT_EQ(Reply(r[7]), u"Accepted Request, Sending File " + a + u"...\n#/dropfile " + a);
  EXPECT_EQ(StateText(r[7], u"sFilesSent"), u"1");
  EXPECT_EQ(Reply(r[8]), kNotInShare);
  EXPECT_EQ(StateText(r[8], u"sFilesSent"), u"1");
  EXPECT_EQ(Reply(r[9]), u"Accepted Request, Sending File " + b + u"...\n#/dropfile " + b);
  EXPECT_EQ(StateText(r[9], u"sFilesSent"), u"2");

  // Two local requests set one flag: one echo is swallowed, the next
  // request is answered.
  EXPECT_TRUE(Pending(r[11]));
  EXPECT_EQ(Reply(r[12]), u"host");
  EXPECT_TRUE(Member(r[12], u"result").boolean);
  EXPECT_FALSE(Pending(r[12]));
  EXPECT_EQ(StateText(r[13], u"sFilesSent"), u"3");
  EXPECT_FALSE(Member(r[14], u"result").boolean);
  EXPECT_EQ(Reply(r[14]), u"host");

  for (size_t i = 16; i <= 21; ++i) EXPECT_EQ(Reply(r[i]), kSharingOff) << i;
  EXPECT_EQ(StateText(r[21], u"sFilesSent"), u"3");
  EXPECT_EQ(Reply(r[23]), kNotInShare);
  EXPECT_EQ(Reply(r[24]), kNotInShare);
  EXPECT_EQ(Reply(r[25]), kOffering);
  EXPECT_EQ(StateText(r[25], u"sFilesSent"), u"3");
}

TEST_F(ConsoleRequests, SharingNeitherOnNorOffAndTheSubFoldersFlag) {
  const std::u16string a = Share() + u"/a.txt";
  for (const char* startOn : {"Error", "2"}) {
    const std::vector<Value> r =
        Session(Settings(startOn, "1"), {kInitialize, Notify(u"rfile", a), Notify(u"rlist", u"*")});
    EXPECT_EQ(StateText(r[0], u"sSharingOn"), Utf8ToUtf16(startOn));
    EXPECT_TRUE(Member(r[1], u"result").boolean);
    EXPECT_EQ(Reply(r[1]), u"host");  // no reply at all
    EXPECT_EQ(StateText(r[1], u"sRequestedFile"), a);
    EXPECT_EQ(Reply(r[2]), kSharingOff);
  }

  const std::vector<Value> on =
      Session(Settings("1", "1"), {kInitialize, Notify(u"rlist", u"*.txt")});
  EXPECT_EQ(Reply(on[1]), kOffering + u"\r" + a + u"\r" + Share() + u"/sub/b.txt\r" + Share() +
                              u"/sub/deeper/c.txt");
  for (const char* flag : {"2", "Error"}) {
    const std::vector<Value> other =
        Session(Settings("1", flag), {kInitialize, Notify(u"rlist", u"*.txt")});
    EXPECT_TRUE(Member(other[1], u"result").boolean);
    EXPECT_EQ(Reply(other[1]), u"host");
    EXPECT_EQ(StateText(other[1], u"sSubFolders"), Utf8ToUtf16(flag));
  }
}

TEST_F(ConsoleRequests, AFailingFolderListEndsTheCallWithWhatWasBuilt) {
  // Root reads every folder: run the console as an unprivileged user then.
  std::vector<std::string> launcher;
  if (geteuid() == 0) {
    if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "setpriv is missing";
    launcher = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    std::filesystem::permissions(dir_.path(), std::filesystem::perms::all);
  }
  std::filesystem::create_directories(root_ / "share" / "locked" / "inner");
  std::filesystem::permissions(root_ / "share" / "locked", std::filesystem::perms::none);
  const std::vector<Value> r = Session(Settings("1", "1"),
                                       {kInitialize, Notify(u"rflds", u"locked"),
                                        Notify(u"rfldr", u"locked"), Notify(u"rlist", u"*.txt")},
                                       launcher);
  std::filesystem::permissions(root_ / "share" / "locked", std::filesystem::perms::owner_all);

  EXPECT_FALSE(Member(r[1], u"ok").boolean);
  EXPECT_EQ(TextOf(r[1], u"error"), u"0x800A0046");
  EXPECT_EQ(Reply(r[1]), kOffering);
  EXPECT_EQ(StateText(r[1], u"sSharedFolder"), Share() + u"/locked");
  // The file listings absorb the same failure.
  EXPECT_TRUE(Member(r[2], u"ok").boolean);
  EXPECT_EQ(Reply(r[2]), kOffering);
  EXPECT_TRUE(Member(r[3], u"ok").boolean);
  EXPECT_EQ(Reply(r[3]), kOffering + u"\r" + Share() + u"/a.txt\r" + Share() + u"/sub/b.txt\r" +
                             Share() + u"/sub/deeper/c.txt");
}

}  // namespace
}  // namespace zuvo
