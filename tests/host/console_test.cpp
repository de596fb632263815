// The console as the outside checks drive it: zuvo-host console in its own
// process, JSON lines in and out, with its registry store in a fresh folder.
#include <gtest/gtest.h>

#include "base/text.h"
#include "support/console_test_support.h"
#include "support/settings_test_support.h"

namespace zuvo {
namespace {

using namespace std::string_view_literals;

using json::Value;
using testing::ConsoleRun;
using testing::Member;
using testing::ReadFileBytes;
using testing::RunConsole;
using testing::RunConsoleSessionIn;
using testing::TempDir;
using testing::TextOf;

std::string CommandInfo(int index) {
  return "{\"call\":\"GetPublishCommandInfo\",\"nCommandIdx\":" + std::to_string(index) +
         ",\"sName\":\"n\",\"sValue\":\"v\",\"sHelp\":\"h\"}";
}

TEST(ConsolePublish, AnswersNameTableAndTagsWithInOutParameters) {
  TempDir dir;
  std::vector<std::string> input = {
      R"({"call":"GetPublishInfo","sPluginName":"x","nCommandCount":-3,"nTagCount":9})",
      R"({"call":"GetPublishTagInfo","nTagIdx":1,"sName":"n","sValue":"v"})",
      R"({"call":"ParseTag","sTag":"t","sResult":"kept"})",
      R"({"call":"Uninitialize"})",
  };
  for (int index : {0, 1, 2, 10, 11, -1}) input.push_back(CommandInfo(index));
  const std::vector<Value> a = RunConsoleSessionIn(dir, {}, input);

  EXPECT_TRUE(Member(a[0], u"ok").boolean);
  EXPECT_TRUE(Member(a[0], u"result").boolean);
  EXPECT_EQ(Member(a[0], u"error").type, Value::Type::kNull);
  const Value& info = Member(a[0], u"out");
  EXPECT_EQ(TextOf(info, u"sPluginName"), u"Zuvo File Sharing");
  EXPECT_EQ(Member(info, u"nCommandCount").AsInt32(), 10);
  EXPECT_EQ(Member(info, u"nTagCount").AsInt32(), 0);
  // Before Initialize the state is empty.
  EXPECT_EQ(TextOf(Member(a[0], u"state"), u"sSharingOn"), u"");
  EXPECT_EQ(TextOf(Member(a[0], u"state"), u"sFilesSent"), u"");
  EXPECT_FALSE(Member(Member(a[0], u"state"), u"bOwnRequestPending").boolean);

  EXPECT_EQ(Member(a[1], u"result").type, Value::Type::kNull);
  EXPECT_EQ(TextOf(Member(a[1], u"out"), u"sName"), u"n");
  EXPECT_EQ(TextOf(Member(a[1], u"out"), u"sValue"), u"v");
  EXPECT_TRUE(Member(a[2], u"ok").boolean);
  EXPECT_FALSE(Member(a[2], u"result").boolean);
  EXPECT_EQ(TextOf(Member(a[2], u"out"), u"sResult"), u"kept");
  EXPECT_EQ(Member(a[3], u"result").type, Value::Type::kNull);
  EXPECT_TRUE(Member(a[3], u"out").object.empty());

  const struct {
    const char16_t* name;
    const char16_t* value;
    const char16_t* help;
  } rows[] = {{u"n", u"v", u"h"},
              {u"Request List", u"xrlist", u"h"},
              {u"Request File", u"xrfile", u"File Path"},
              {u"Statistics", u"xrstats", u"h"},
              {u"n", u"v", u"h"},
              {u"n", u"v", u"h"}};
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(input[4 + i]);
    const Value& answer = a[4 + i];
    EXPECT_TRUE(Member(answer, u"ok").boolean);
    EXPECT_EQ(Member(answer, u"result").type, Value::Type::kNull);
    const Value& out = Member(answer, u"out");
    EXPECT_EQ(TextOf(out, u"sName"), rows[i].name);
    EXPECT_EQ(TextOf(out, u"sValue"), rows[i].value);
    EXPECT_EQ(TextOf(out, u"sHelp"), rows[i].help);
    EXPECT_TRUE(Member(answer, u"toasts").array.empty());
    EXPECT_TRUE(Member(answer, u"messageBoxes").array.empty());
  }
  // The store was created empty; nothing was written to it.
  EXPECT_EQ(ReadFileBytes(dir.File("registry.reg")), "REGEDIT4\n");
}

TEST(ConsoleInitialize, TakesStoredSettingsOrErrorEverywhere) {
  struct Case {
    const char* what;
    std::vector<std::string> args;
    std::u16string folder, startOn, subFolders;
    int check1;
  };
  const Case cases[] = {
      {"key and values",
       {"--create-key", "--set", "Shared Folder=  /srv/a b  ", "--set", "Start On=1", "--set",
        "Sub Folders=0"},
       u"/srv/a b  ",
       u"1",
       u"0",
       1},
      {"values missing", {"--create-key"}, u"Error", u"Error", u"Error", 0},
      {"key missing", {}, u"Error", u"Error", u"Error", 0},
      {"Start On not a flag", {"--create-key", "--set", "Start On=2"}, u"Error", u"2", u"Error", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::vector<Value> a = RunConsoleSessionIn(
        dir, c.args,
        {R"({"holder":"read"})", R"({"call":"Initialize","nVersion":3,"sUserEmail":"me"})",
         R"({"holder":"read"})", R"({"call":"Initialize"})"});
    for (size_t i : {0u, 2u}) {
      EXPECT_TRUE(Member(a[i], u"ok").boolean);
      EXPECT_EQ(TextOf(a[i], u"Text1"), c.folder);
      EXPECT_EQ(TextOf(a[i], u"Text2"), c.startOn);
      EXPECT_EQ(TextOf(a[i], u"Text3"), c.subFolders);
      EXPECT_EQ(Member(a[i], u"Check1").AsInt32(), c.check1);
      EXPECT_EQ(Member(a[i], u"Check2").AsInt32(), 0);
    }
    for (size_t i : {1u, 3u}) {
      EXPECT_TRUE(Member(a[i], u"result").boolean);
      EXPECT_TRUE(Member(a[i], u"out").object.empty());
      const Value& state = Member(a[i], u"state");
      EXPECT_EQ(TextOf(state, u"sSharingOn"), c.startOn);
      EXPECT_EQ(TextOf(state, u"sFilesSent"), u"0");
      EXPECT_EQ(TextOf(state, u"sRequestedFile"), u"");
      EXPECT_EQ(TextOf(state, u"sSharedFolder"), u"");
      EXPECT_EQ(TextOf(state, u"sSubFolders"), u"");
      EXPECT_TRUE(Member(a[i], u"messageBoxes").array.empty());
    }
  }
}

TEST(ConsoleBadRequests, AreAnsweredAndTheSessionGoesOn) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "not valid JSON"},
      {"not json", "not valid JSON"},
      {"{\"call\":\"GetPublishInfo\"", "not valid JSON"},
      {"{\"call\":\"GetPublishInfo\",\"sPluginName\":\"\xff\"}", "not valid JSON"},
      {"[1,2]", "not a JSON object"},
      {"{}", "no \"call\""},
      {R"({"call":"getpublishinfo"})", "unknown call"},
      {R"({"call":7})", "\"call\" must be a string"},
      {R"({"call":"GetPublishCommandInfo","nCommandIdx":2.5})", "nCommandIdx"},
      {R"({"call":"GetPublishCommandInfo","nCommandIdx":"2"})", "nCommandIdx"},
      {R"({"call":"GetPublishCommandInfo","nCommandIdx":4294967298})", "nCommandIdx"},
      {R"({"call":"GetPublishInfo","sPluginName":5})", "sPluginName"},
      {R"({"call":"ParseCommand","sCommand":"/xroptions","formActions":{}})", "formActions"},
      {R"({"call":"ParseCommand","formActions":[{"set":"Text4","value":"x"}]})", "Text4"},
      {R"({"call":"ParseCommand","formActions":[{"set":"Check1","value":2}]})", "Check1"},
      {R"({"call":"ParseCommand","formActions":[{"click":"OK"}]})", "OK"},
      {R"({"call":"ParseCommand","formActions":[{"click":"Apply","browse":"/x"}]})", "browse"},
      {R"({"holder":"write"})", "holder"},
  };
  std::vector<std::string> input;
  for (const auto& [line, why] : cases) {
    input.push_back(line);
    input.push_back(R"({"call":"GetPublishInfo"})");
  }
  TempDir dir;
  const std::vector<Value> a = RunConsoleSessionIn(dir, {"--create-key"}, input);
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].first);
    const Value& bad = a[2 * i];
    EXPECT_FALSE(Member(bad, u"ok").boolean);
    const std::string error = Utf16ToUtf8(TextOf(bad, u"error"));
    EXPECT_EQ(error.rfind("bad request: ", 0), 0u) << error;
    EXPECT_NE(error.find(cases[i].second), std::string::npos) << error;
    EXPECT_EQ(bad.object.size(), 2u);
    EXPECT_TRUE(Member(a[2 * i + 1], u"result").boolean);
  }
  // A bad request calls nothing: the holder was never loaded, so the store
  // is as the session found it.
  EXPECT_EQ(ReadFileBytes(dir.File("registry.reg")).find("Shared Folder"), std::string::npos);
}

TEST(ConsoleTexts, AnyUtf16TextComesBackUnchanged) {
  TempDir dir;
  const std::vector<Value> a = RunConsoleSessionIn(
      dir, {},
      {R"({"call":"GetPublishCommandInfo","nCommandIdx":1,"sHelp":"\ud800 \u2028 \u0085 \u0000 )"
       "\xc3\xa9 \xf0\x9f\x98\x80 \\\" \\\\ \\udc00\"}"});
  EXPECT_EQ(TextOf(Member(a[0], u"out"), u"sHelp"),
            std::u16string(u"\xd800 \u2028 \u0085 \0 \u00e9 \U0001F600 \" \\ \xdc00"sv));
}

TEST(ConsoleOptionsForm, FormActionsApplyCancelBrowseAndClose) {
  TempDir dir;
  const std::vector<Value> a = RunConsoleSessionIn(
      dir, {"--create-key", "--set", "Shared Folder=/old", "--set", "Start On=0"},
      {R"({"call":"Initialize"})",
       R"({"call":"ParseCommand","sCommand":"/xroptions","sResult":"r","formActions":[)"
       R"({"set":"Text1","value":"/typed"},{"click":"...","browse":"/picked"},{"click":"Cancel"}]})",
       R"({"holder":"read"})",
       R"({"call":"ParseCommand","sCommand":"/xroptions","formActions":[)"
       R"({"set":"Text1","value":"/new \u00e9"},{"set":"Check1","value":1},{"set":"Check2","value":true},)"
       R"({"click":"Apply"},{"set":"Text1","value":"/after hiding"}]})",
       R"({"holder":"read"})",
       R"({"call":"ParseCommand","sCommand":"/xroptions","formActions":[{"set":"Text1","value":"/closed"}]})",
       R"({"holder":"read"})"});
  EXPECT_TRUE(Member(a[1], u"ok").boolean);
  EXPECT_EQ(TextOf(a[2], u"Text1"), u"/old");
  EXPECT_EQ(TextOf(a[4], u"Text1"), u"/new \u00e9");
  EXPECT_EQ(Member(a[4], u"Check1").AsInt32(), 1);
  EXPECT_EQ(Member(a[4], u"Check2").AsInt32(), 1);
  EXPECT_EQ(TextOf(a[4], u"Text2"), u"1");
  // "Apply" does not change the running state.
  EXPECT_EQ(TextOf(Member(a[3], u"state"), u"sSharingOn"), u"0");
  // Left open, the form is closed with the window's close command: nothing
  // stored, and the next read loads the stored values afresh.
  EXPECT_EQ(TextOf(a[6], u"Text1"), u"/new \u00e9");

  // Another session sees what was applied.
  const std::vector<Value> b = RunConsoleSessionIn(dir, {}, {R"({"holder":"read"})"});
  EXPECT_EQ(TextOf(b[0], u"Text1"), u"/new \u00e9");
  EXPECT_EQ(TextOf(b[0], u"Text3"), u"1");
}

TEST(ConsoleEffects, ToastsMessageBoxesAndFailedCalls) {
  TempDir dir;
  const std::vector<Value> a = RunConsoleSessionIn(
      dir, {"--create-key"},
      {R"({"call":"Initialize"})", R"({"call":"ParseCommand","sCommand":"/xrstats"})",
       R"({"call":"ParseCommand","sCommand":"/xrsearch","sCommandArg":"","sResult":"r"})",
       R"({"call":"ParseCommand","sCommand":"/xrstatus","sResult":"r"})"});
  const Value& toasts = Member(a[1], u"toasts");
  ASSERT_EQ(toasts.array.size(), 1u);
  EXPECT_EQ(TextOf(toasts.array[0], u"title"), u"Zuvo File Sharing");
  EXPECT_NE(TextOf(toasts.array[0], u"message").find(u"0"), std::u16string::npos);
  EXPECT_TRUE(Member(toasts.array[0], u"flag").AsInt32().has_value());

  const Value& boxes = Member(a[2], u"messageBoxes");
  ASSERT_EQ(boxes.array.size(), 1u);
  EXPECT_EQ(TextOf(boxes.array[0], u"text"), u"You must use at least 1 keyword");

  // "Error" as the sharing state is no number: the status command fails,
  // and the failure reaches the host as a code, sResult untouched.
  EXPECT_FALSE(Member(a[3], u"ok").boolean);
  EXPECT_FALSE(Member(a[3], u"result").boolean);
  EXPECT_EQ(TextOf(a[3], u"error"), u"0x800A000D");
  EXPECT_EQ(TextOf(Member(a[3], u"out"), u"sResult"), u"r");
}

TEST(ConsoleStore, MalformedStoreAndBadOptionsStopTheConsole) {
  TempDir dir;
  const std::string path = dir.File("registry.reg");
  const std::string broken = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\nbroken line\n";
  testing::WriteFileBytes(path, broken);
  ConsoleRun run = RunConsole({"--registry", path, "--create-key", "--set", "Start On=1"}, {"{}"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.errors.find(path + ":3"), std::string::npos) << run.errors;
  EXPECT_TRUE(run.lines.empty());
  EXPECT_EQ(ReadFileBytes(path), broken);

  // --set needs the key.
  run = RunConsole({"--registry", dir.File("other.reg"), "--set", "Start On=1"}, {});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.errors.find("Start On"), std::string::npos) << run.errors;

  run = RunConsole({"--bogus"}, {});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.errors.find("usage"), std::string::npos);
  EXPECT_NE(run.errors.find("--bogus"), std::string::npos) << run.errors;
  run = RunConsole({"--registry"}, {});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.errors.find("--registry needs a value"), std::string::npos) << run.errors;
}

}  // namespace
}  // namespace zuvo
