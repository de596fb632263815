// The local commands as the outside checks drive them: zuvo-host console in
// its own process, one JSON line per call, with a fresh settings store.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/text.h"
#include "support/console_test_support.h"
#include "support/settings_test_support.h"

namespace zuvo {
namespace {

using json::Value;
using testing::Member;
using testing::RunConsoleSessionIn;
using testing::TempDir;
using testing::TextOf;

std::vector<std::string> Settings(const std::string& folder, const std::string& startOn,
                                  const std::string& subFolders) {
  return {"--create-key",        "--set", "Shared Folder=" + folder,  "--set",
          "Start On=" + startOn, "--set", "Sub Folders=" + subFolders};
}

std::string Command(const std::string& command, const std::string& arg,
                    const std::string& extra = "") {
  return "{\"call\":\"ParseCommand\",\"sCommand\":" + json::Quote(Utf8ToUtf16(command)) +
         ",\"sCommandArg\":" + json::Quote(Utf8ToUtf16(arg)) + ",\"sResult\":\"host\"" + extra +
         "}";
}

std::u16string SResult(const Value& answer) { return TextOf(Member(answer, u"out"), u"sResult"); }
std::u16string State(const Value& answer, const char16_t* field) {
  return TextOf(Member(answer, u"state"), field);
}
bool Pending(const Value& answer) {
  return Member(Member(answer, u"state"), u"bOwnRequestPending").boolean;
}
std::vector<std::u16string> ToastTexts(const Value& answer) {
  std::vector<std::u16string> texts;
  for (const Value& toast : Member(answer, u"toasts").array) {
    EXPECT_EQ(TextOf(toast, u"title"), u"Zuvo File Sharing");
    EXPECT_EQ(TextOf(toast, u"link"), u"http://www.parlix.example/");
    EXPECT_EQ(Member(toast, u"flag").AsInt32(), -1);
    texts.push_back(TextOf(toast, u"message"));
  }
  return texts;
}
std::u16string Lines(std::u16string_view first, std::u16string_view second) {
  return std::u16string(first) + char16_t(13) + std::u16string(second);
}
std::u16string Note(std::u16string_view codeAndArg) {
  return char16_t(18) + std::u16string(codeAndArg);
}

TEST(ConsoleLocalCommands, TheTenCommandsTheirTextsToastsAndBoxes) {
  TempDir dir;
  const std::vector<Value> a =
      RunConsoleSessionIn(dir, Settings("/srv/share", "0", "0"),
                          {
                              R"({"call":"Initialize"})",
                              Command("/xrlist ", ""),
                              Command("/XRLISTS", ""),
                              Command("/xrstats", ""),
                              Command("/XrOn", ""),
                              Command("/xrstatus", ""),
                              Command("/xroff", ""),
                              Command("/xrStatus", ""),
                              Command("/xrOptions", "", R"(,"formActions":[])"),
                              Command("/XRLIST", ""),
                              Command("/xrlist", "*.txt;*.doc"),
                              Command("/xrfile", "<File Path>"),
                              Command("/xrfile", "<file path>"),
                              Command("/xrfolder", ""),
                              Command("/xrfolders", "<Folder Path>"),
                              Command("/xrsearch", "<FILENAME>"),
                              Command("/xrsearch", ""),
                          });
  // Not commands: False, the host's text and the state kept.
  for (int i : {1, 2}) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(Member(a[i], u"ok").boolean);
    EXPECT_FALSE(Member(a[i], u"result").boolean);
    EXPECT_EQ(SResult(a[i]), u"host");
    EXPECT_FALSE(Pending(a[i]));
  }
  // The local commands: empty sResult, no request pending.
  const std::u16string toasts[] = {
      Lines(u"You have accepted and sent", u"0 files"),
      Lines(u"Zuvo File Sharing has been", u"turned on"),
      Lines(u"Zuvo File Sharing is...", u"on"),
      Lines(u"Zuvo File Sharing has been", u"turned off"),
      Lines(u"Zuvo File Sharing is...", u"off"),
  };
  for (int i = 3; i <= 8; ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(Member(a[i], u"result").boolean);
    EXPECT_EQ(SResult(a[i]), u"");
    EXPECT_FALSE(Pending(a[i]));
    if (i <= 7) {
      EXPECT_EQ(ToastTexts(a[i]), std::vector<std::u16string>{toasts[i - 3]});
    }
  }
  EXPECT_EQ(State(a[4], u"sSharingOn"), u"1");
  EXPECT_EQ(State(a[6], u"sSharingOn"), u"0");
  EXPECT_TRUE(ToastTexts(a[8]).empty());

  // The requests.
  const std::u16string requests[] = {
      Note(u"rlist*.*"),
      Note(u"rlist*.txt;*.doc"),
      u"",
      Note(u"rfile<file path>"),
      Note(u"rfldr"),
      u"",
      Note(u"rsrch<FILENAME>"),
      Note(u"rsrch"),
  };
  for (int i = 9; i <= 16; ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(Member(a[i], u"result").boolean);
    EXPECT_EQ(SResult(a[i]), requests[i - 9]);
    EXPECT_TRUE(Pending(a[i]));
    EXPECT_TRUE(Member(a[i], u"toasts").array.empty());
  }
  const Value& boxes = Member(a[16], u"messageBoxes");
  ASSERT_EQ(boxes.array.size(), 1u);
  EXPECT_EQ(TextOf(boxes.array[0], u"text"), u"You must use at least 1 keyword");
  EXPECT_EQ(TextOf(boxes.array[0], u"title"), u"Zuvo File Sharing");
  EXPECT_TRUE(Member(a[15], u"messageBoxes").array.empty());
}

TEST(ConsoleLocalCommands, StatusReadsTheStateAsANumber) {
  struct Case {
    const char* startOn;
    const char16_t* toast;  // nullptr: none
    bool fails;
  };
  const Case cases[] = {
      {"1", u"on", false},   {"0", u"off", false},     {" 1 ", u"on", false}, {"1.0", u"on", false},
      {"2", nullptr, false}, {"Error", nullptr, true}, {"", nullptr, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.startOn);
    TempDir dir;
    const std::vector<Value> a =
        RunConsoleSessionIn(dir, Settings("/srv", c.startOn, "0"),
                            {R"({"call":"Initialize"})", Command("/xrstatus", "")});
    EXPECT_EQ(Member(a[1], u"ok").boolean, !c.fails);
    if (c.fails) {
      EXPECT_EQ(TextOf(a[1], u"error"), u"0x800A000D");
      EXPECT_FALSE(Member(a[1], u"result").boolean);
      EXPECT_EQ(SResult(a[1]), u"host");
      EXPECT_TRUE(Member(a[1], u"toasts").array.empty());
    } else {
      EXPECT_TRUE(Member(a[1], u"result").boolean);
      EXPECT_EQ(SResult(a[1]), u"");
      std::vector<std::u16string> expected;
      if (c.toast) expected.push_back(Lines(u"Zuvo File Sharing is...", c.toast));
      EXPECT_EQ(ToastTexts(a[1]), expected);
    }
  }

  // Before Initialize the state is empty, no number: the same failure.
  TempDir dir;
  const std::vector<Value> a =
      RunConsoleSessionIn(dir, Settings("/srv", "1", "0"), {Command("/xrstatus", "")});
  EXPECT_EQ(TextOf(a[0], u"error"), u"0x800A000D");
  EXPECT_EQ(SResult(a[0]), u"host");

  // "/xron" then "/xrstatus": on, while the form still shows the stored off.
  const std::vector<Value> b =
      RunConsoleSessionIn(dir, Settings("/srv", "0", "0"),
                          {R"({"call":"Initialize"})", Command("/xron", ""),
                           Command("/xrstatus", ""), R"({"holder":"read"})"});
  EXPECT_EQ(ToastTexts(b[2]),
            std::vector<std::u16string>{Lines(u"Zuvo File Sharing is...", u"on")});
  EXPECT_EQ(TextOf(b[3], u"Text2"), u"0");
  EXPECT_EQ(Member(b[3], u"Check1").AsInt32(), 0);
}

TEST(ConsoleLocalCommands, OptionsFormAppliesCancelsClosesAndBrowses) {
  TempDir dir;
  namespace fs = std::filesystem;
  const std::string first = dir.File("first"), second = dir.File("second");
  fs::create_directories(first);
  fs::create_directories(second);
  testing::WriteFileBytes(first + "/one.txt", "1");
  testing::WriteFileBytes(second + "/two.txt", "2");
  const std::string list = R"({"call":"ReceiveNotify","sNotifyCode":"rlist","sText":"*.*"})";
  const std::string read = R"({"holder":"read"})";
  const std::string qFirst = json::Quote(Utf8ToUtf16(first));
  const std::string qSecond = json::Quote(Utf8ToUtf16(second));
  const std::vector<Value> a = RunConsoleSessionIn(
      dir, Settings(first, "0", "0"),
      {
          R"({"call":"Initialize"})",
          Command("/xron", ""),
          // 2: type the second folder, a cancelled browse, Start On, Apply.
          Command("/xroptions", "",
                  R"(,"formActions":[{"set":"Text1","value":)" + qSecond +
                      R"(},{"click":"..."},{"set":"Check1","value":1},{"click":"Apply"}])"),
          read,
          list,
          // 5: browse to the first folder, then Cancel.
          Command(
              "/xroptions", "",
              R"(,"formActions":[{"click":"...","browse":)" + qFirst + R"(},{"click":"Cancel"}])"),
          read,
          list,
          // 8: browse to the first folder, then the close command.
          Command(
              "/xroptions", "",
              R"(,"formActions":[{"click":"...","browse":)" + qFirst + R"(},{"click":"Close"}])"),
          read,
          // 10: Apply with the browsed folder; then /xroff and a new start.
          Command(
              "/xroptions", "",
              R"(,"formActions":[{"click":"...","browse":)" + qFirst + R"(},{"click":"Apply"}])"),
          list,
          Command("/xroff", ""),
          R"({"call":"Initialize"})",
      });
  for (size_t i = 0; i < a.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(Member(a[i], u"ok").boolean);
  }
  const std::u16string offerFirst =
      Lines(u"Accepted Request, Offering...", Utf8ToUtf16(first + "/one.txt"));
  const std::u16string offerSecond =
      Lines(u"Accepted Request, Offering...", Utf8ToUtf16(second + "/two.txt"));

  // Apply stored the typed folder and Start On, kept the running state.
  EXPECT_EQ(SResult(a[2]), u"");
  EXPECT_EQ(TextOf(a[3], u"Text1"), Utf8ToUtf16(second));
  EXPECT_EQ(TextOf(a[3], u"Text2"), u"1");
  EXPECT_EQ(Member(a[3], u"Check1").AsInt32(), 1);
  EXPECT_EQ(State(a[2], u"sSharingOn"), u"1");
  EXPECT_EQ(TextOf(Member(a[4], u"out"), u"sTextToSend"), offerSecond);

  // Cancel after browsing: holder and requests keep the applied folder.
  EXPECT_EQ(TextOf(a[6], u"Text1"), Utf8ToUtf16(second));
  EXPECT_EQ(TextOf(Member(a[7], u"out"), u"sTextToSend"), offerSecond);

  // Close: the next read loads a fresh form from the store.
  EXPECT_EQ(TextOf(a[9], u"Text1"), Utf8ToUtf16(second));
  EXPECT_EQ(Member(a[9], u"Check1").AsInt32(), 1);

  // Apply with the browsed folder serves the next request from it.
  EXPECT_EQ(TextOf(Member(a[11], u"out"), u"sTextToSend"), offerFirst);

  // A new start takes the stored Start On, whatever /xroff said.
  EXPECT_EQ(State(a[12], u"sSharingOn"), u"0");
  EXPECT_EQ(State(a[13], u"sSharingOn"), u"1");
  EXPECT_EQ(State(a[13], u"sFilesSent"), u"0");

  // The store outlives the session.
  const std::vector<Value> b = RunConsoleSessionIn(dir, {}, {read});
  EXPECT_EQ(TextOf(b[0], u"Text1"), Utf8ToUtf16(first));
  EXPECT_EQ(TextOf(b[0], u"Text2"), u"1");
  EXPECT_EQ(TextOf(b[0], u"Text3"), u"0");
}

}  // namespace
}  // namespace zuvo
