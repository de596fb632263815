// The plug-in session every host drives, with a plug-in whose answers the
// test chooses and no chat server: the command table, a typed command and
// its echo, who may ask and how often, which answers are shown, what an
// answer sends, and which offered file is taken. What the libpurple plug-in
// decides is decided here, with its rules.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "base/text.h"
#include "host/common/host_notice.h"
#include "host/common/path_text.h"
#include "host/common/plugin_session.h"
#include "host/common/reply_limit.h"
#include "host/common/session_words.h"
#include "support/settings_test_support.h"

namespace zuvo {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using zuvo::testing::TempDir;
using Kind = PluginSession::Heard::Kind;
using Verdict = RequestGate::Verdict;

// A plug-in that publishes |rows|, turns "/xr<code> arg" into the request
// "<marker>r<code>arg", takes the first notification after a command as its
// echo, and answers the others with what |answer| gives.
class ScriptedPlugin : public PXPluginDef {
 public:
  bool Initialize(int32_t, const std::u16string&, HostObject*) override { return initialized; }
  bool GetPublishInfo(std::u16string& name, int32_t& commands, int32_t& tags) override {
    name = u"Scripted";
    commands = publish;
    tags = 0;
    return true;
  }
  Variant GetPublishCommandInfo(int32_t i, std::u16string& name, std::u16string& value,
                                std::u16string& help) override {
    if (i == 2) throw PluginError(hr::kUnexpected, "row 2 fails");
    name = u"Row " + DecimalText(i);
    value = i == 3 ? u"" : i == 1 ? u"xrfile" : u"xr" + DecimalText(i);
    help = u"";
    ++rowsAsked;
    return {};
  }
  bool ParseCommand(const std::u16string& word, const std::u16string& arg, HostObject*,
                    std::u16string& sResult) override {
    if (word == u"/fail") throw PluginError(hr::kTypeMismatch, "Type mismatch");
    echoPending = word.starts_with(u"/xr");
    // The three words whose codes are not "r" and the rest of the word.
    static const std::map<std::u16string, std::u16string> codes = {
        {u"/xrfolder", u"rfldr"}, {u"/xrfolders", u"rflds"}, {u"/xrsearch", u"rsrch"}};
    const auto known = codes.find(word);
    const std::u16string code = known != codes.end() ? known->second : u"r" + word.substr(3);
    sResult = echoPending ? std::u16string(1, kMarker) + code + arg : arg;
    if (arg == u"<File Path>") sResult.clear();  // a placeholder: no request, the flag stays
    return true;
  }
  bool ReceiveNotify(const std::u16string& code, const std::u16string& text,
                     const std::u16string& contact, HostObject*, std::u16string& reply) override {
    notified.push_back(code + u"|" + text + u"|" + contact);
    if (std::exchange(echoPending, false)) {
      reply = echoReply;
      return true;
    }
    if (!answer) return false;
    reply = answer(code, text);
    return true;
  }

  bool initialized = true;
  int32_t publish = 1000;
  int rowsAsked = 0;
  bool echoPending = false;
  std::u16string echoReply;
  std::function<std::u16string(const std::u16string&, const std::u16string&)> answer;
  std::vector<std::u16string> notified;
};

class ScriptedDriver : public PluginDriver {
 public:
  PXPluginDef& plugin() override { return plugin_; }
  void SetFormActions(std::vector<FormAction>) override {}
  std::vector<ToastSeen> TakeToasts() override { return std::exchange(toasts, {}); }
  std::vector<MessageBoxSeen> TakeMessageBoxes() override { return {}; }
  std::optional<BetaState> State() override { return state; }
  HolderFields ReadHolder() override { return holder; }
  std::optional<BetaState> state;
  HolderFields holder;
  ScriptedPlugin plugin_;
  std::vector<ToastSeen> toasts;
};

// The libpurple plug-in's rules.
SessionRules PurpleRules() {
  SessionRules rules;
  rules.gateRequests = true;
  rules.replyWindow = PluginSession::kReplyWindow;
  return rules;
}

Notification Request(std::u16string code, std::u16string argument = u"") {
  return {std::move(code), std::move(argument)};
}

TEST(PluginSession, StartReadsOneBoundedCommandTable) {
  ScriptedDriver driver;
  driver.toasts.push_back({u"t", u"started", u"", 0});
  PluginSession session(driver);
  const PluginSession::Started started = session.Start(u"ann");
  EXPECT_EQ(started.failure, PluginSession::Started::Failure::kNone);
  ASSERT_EQ(started.raised.toasts.size(), 1u);
  // 1,000 rows published: the first 100 are read; a row that fails or has
  // no command word is left out.
  EXPECT_EQ(driver.plugin_.rowsAsked, PluginSession::kMaxCommands - 1);
  EXPECT_EQ(session.commands().size(), size_t(PluginSession::kMaxCommands - 2));
  EXPECT_EQ(session.pluginName(), u"Scripted");
  EXPECT_TRUE(session.Publishes(u"/XRFILE"));
  EXPECT_FALSE(session.Publishes(u"xrfile"));
  EXPECT_FALSE(session.Publishes(u"/xr3"));

  ScriptedDriver refusing;
  refusing.plugin_.initialized = false;
  EXPECT_EQ(PluginSession(refusing).Start(u"").failure,
            PluginSession::Started::Failure::kInitialize);
}

TEST(PluginSession, ACommandSendsItsRequestAndTheEchoIsNeverSent) {
  ScriptedDriver driver;
  PluginSession session(driver);
  const Clock::time_point t0 = Clock::now();
  driver.plugin_.echoReply = u"an answer to itself";
  const PluginSession::Typed typed = session.Command("bob", u"Bob", u"/xrfile", u"/s/a.txt", t0);
  EXPECT_EQ(typed.send, u"\x12rfile/s/a.txt");
  ASSERT_TRUE(typed.request);
  EXPECT_EQ(typed.request->code, u"rfile");
  EXPECT_EQ(typed.request->argument, u"/s/a.txt");
  EXPECT_TRUE(typed.echoAnswered);
  EXPECT_EQ(driver.plugin_.notified, std::vector<std::u16string>{u"rfile|/s/a.txt|Bob"});

  // A text that is no request is sent as it is, with no echo.
  const PluginSession::Typed plain = session.Command("bob", u"Bob", u"/say", u"hi", t0);
  EXPECT_EQ(plain.send, u"hi");
  EXPECT_FALSE(plain.request);
  EXPECT_EQ(driver.plugin_.notified.size(), 1u);

  const PluginSession::Typed failed = session.Command("bob", u"Bob", u"/fail", u"", t0);
  EXPECT_EQ(failed.status.code, hr::kTypeMismatch);
  EXPECT_TRUE(failed.send.empty());

  // A placeholder left unfilled sends nothing; the plug-in takes its echo
  // now, so the contact's next request is answered, not swallowed.
  driver.plugin_.answer = [](const std::u16string&, const std::u16string&) { return u"an answer"; };
  const PluginSession::Typed unfilled =
      session.Command("bob", u"Bob", u"/xrfile", u"<File Path>", t0);
  EXPECT_TRUE(unfilled.send.empty());
  EXPECT_FALSE(driver.plugin_.echoPending);
  EXPECT_EQ(driver.plugin_.notified.back(), u"rfile|<File Path>|Bob");
  EXPECT_EQ(session.Answer(Request(u"rlist"), u"Bob", 0).text, u"an answer");
}

TEST(PluginSession, WhoMayAskHowOftenAndOneListingAtATime) {
  ScriptedDriver driver;
  PluginSession session(driver, PurpleRules());
  const Clock::time_point t0 = Clock::now();
  struct Step {
    const char* what;
    std::string contact;
    bool known;
    const char16_t* code;
    Verdict verdict;
    std::u16string_view reply;
    bool done = true;  // the request is over before the next one
  } steps[] = {
      {"a stranger is not answered, nor told", "eve", false, u"rlist", Verdict::kStranger, u""},
      {"a buddy's listing", "bob", true, u"rlist", Verdict::kAnswer, u"", false},
      {"a second listing meanwhile", "bob", true, u"rfldr", Verdict::kBusy, kBusyText},
      {"told once only", "bob", true, u"rsrch", Verdict::kBusy, u""},
      {"a file request meanwhile", "bob", true, u"rfile", Verdict::kAnswer, u""},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    const Notification request = Request(s.code);
    const PluginSession::Admission a = session.Admit(s.contact, s.known, request, t0);
    EXPECT_EQ(a.verdict, s.verdict);
    EXPECT_EQ(a.reply, s.reply);
    if (s.done && a.verdict == Verdict::kAnswer) session.Done(s.contact, request);
  }
  session.Done("bob", Request(u"rlist"));
  {
    SCOPED_TRACE("over the rate: a buddy is told once, a stranger never");
    for (int i = 0; i < 20; ++i) {
      session.Admit("bob", true, Request(u"rfile"), t0);
      session.Admit("eve", false, Request(u"rfile"), t0);
    }
    const PluginSession::Admission bob = session.Admit("bob", true, Request(u"rfile"), t0);
    EXPECT_EQ(bob.verdict, Verdict::kTooFast);
    EXPECT_TRUE(bob.reply.empty());  // told already, during the burst
    EXPECT_EQ(session.Admit("bob", true, Request(u"rfile"), t0 + 2s).verdict, Verdict::kAnswer);
    ScriptedDriver other;
    PluginSession fresh(other, PurpleRules());
    std::u16string told;
    for (int i = 0; i < 12; ++i) told += fresh.Admit("bob", true, Request(u"rfile"), t0).reply;
    EXPECT_EQ(told, kTooManyRequestsText);
    for (int i = 0; i < 12; ++i)
      EXPECT_TRUE(fresh.Admit("eve", false, Request(u"rfile"), t0).reply.empty());
  }
  {
    SCOPED_TRACE("a host without the gate answers everything");
    PluginSession chat(driver);
    for (int i = 0; i < 100; ++i) {
      EXPECT_EQ(chat.Admit("c", false, Request(u"rlist"), t0).verdict, Verdict::kAnswer);
    }
  }
}

TEST(PluginSession, AnswersAreShownToWhoAskedLately) {
  ScriptedDriver driver;
  PluginSession session(driver, PurpleRules());
  const Clock::time_point t0 = Clock::now();
  const PluginSession::Heard request = session.Hear("bob", u"\x12rlist*.txt", t0);
  EXPECT_EQ(request.kind, Kind::kRequest);
  EXPECT_EQ(request.request.code, u"rlist");
  EXPECT_EQ(request.request.argument, u"*.txt");

  EXPECT_EQ(session.Hear("bob", u"Accepted Request, Offering...", t0).kind, Kind::kUnasked);
  session.Command("bob", u"bob", u"/xrlist", u"", t0);
  struct Step {
    std::string contact;
    Clock::duration at;
    Kind kind;
  } steps[] = {
      {"bob", 1min, Kind::kAnswer},    // asked a minute ago
      {"eve", 1min, Kind::kUnasked},   // eve was not asked
      {"bob", 9min, Kind::kAnswer},    // each answer shown starts the window again
      {"bob", 18min, Kind::kAnswer},   //
      {"bob", 29min, Kind::kUnasked},  // 11 minutes after the last
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.contact + " " + std::to_string(s.at / 1min));
    EXPECT_EQ(session.Hear(s.contact, u"x", t0 + s.at).kind, s.kind);
  }
  PluginSession chat(driver);
  EXPECT_EQ(chat.Hear("c", u"hello", t0).kind, Kind::kAnswer);
}

TEST(PluginSession, AnAnswerSendsItsTextAndFilesApart) {
  ScriptedDriver driver;
  PluginSession session(driver);
  std::u16string listing = u"Accepted Request, Offering...";
  for (int i = 0; i < 300; ++i) listing += u"\r/s/f" + DecimalText(i);
  driver.plugin_.answer = [&](const std::u16string& code, const std::u16string& arg) {
    if (code == u"rfile")
      return u"Accepted Request, Sending File " + arg + u"...\n#/dropfile " + arg;
    return listing;
  };
  const PluginSession::Answered file = session.Answer(Request(u"rfile", u"/s/a"), u"Bob", 200);
  EXPECT_EQ(file.text, u"Accepted Request, Sending File /s/a...");
  EXPECT_EQ(file.files, std::vector<std::u16string>{u"/s/a"});
  EXPECT_EQ(session.Answer(Request(u"rlist"), u"Bob", 0).text, listing);
  EXPECT_EQ(session.Answer(Request(u"rlist"), u"Bob", 200).text, LimitReplyLines(listing, 200));
  driver.plugin_.answer = nullptr;
  EXPECT_FALSE(session.Answer(Request(u"xxxxx"), u"Bob", 0).result);
}

// ---- What the user reads ----------------------------------------------------

// The lines a session shows for |answer| from bob, who was asked |word| |arg|
// after his host's notice named |folder| (none when nullopt).
std::vector<std::u16string> Shown(const std::u16string& word, const std::u16string& arg,
                                  std::optional<std::u16string> folder,
                                  const std::u16string& answer) {
  ScriptedDriver driver;
  PluginSession session(driver, PurpleRules());
  const Clock::time_point t0 = Clock::now();
  session.Command("bob", u"bob", word, arg, t0);
  if (folder) {
    EXPECT_TRUE(
        session.HearNotice("bob", EncodeNotice(AnsweringNotice(u"x", *folder)), u"bob").empty());
  }
  const PluginSession::Heard heard = session.Hear("bob", answer, t0, u"bob");
  EXPECT_EQ(heard.kind, Kind::kAnswer);
  return heard.lines;
}

TEST(PluginSession, ListingsAreShownRelativeToTheSharedFolderAndEmptyOnesInWords) {
  using Lines = std::vector<std::u16string>;
  const std::u16string offering = u"Accepted Request, Offering...";
  struct Case {
    const char* what;
    std::u16string word, arg;
    std::optional<std::u16string> folder;
    std::u16string answer;
    Lines lines;
  } cases[] = {
      {"a listing under its folder", u"/xrlist", u"", u"/s/",
       offering + u"\r/s/a.txt\r/s/docs/n.md",
       Lines{u"bob shares /s:", u"  a.txt", u"  docs/n.md"}},
      {"no notice: the folder all paths share", u"/xrlist", u"", std::nullopt,
       offering + u"\r/s/d/a\r/s/d/e/b", Lines{u"bob shares /s/d:", u"  a", u"  e/b"}},
      {"a notice that does not fit is not believed", u"/xrlist", u"", u"/t",
       offering + u"\r/s/a\r/s/b", Lines{u"bob shares /s:", u"  a", u"  b"}},
      {"Windows paths", u"/xrfolders", u"", u"C:\\Share", offering + u"\rC:\\Share\\old",
       Lines{u"bob shares C:\\Share:", u"  old"}},
      {"a note of a cut list follows after the name", u"/xrlist", u"", u"/s",
       offering + u"\r/s/a\r... (9 more lines not shown)",
       Lines{u"bob shares /s:", u"  a", u"bob: ... (9 more lines not shown)"}},
      {"an empty listing", u"/xrlist", u"*.txt", u"/s", offering,
       Lines{u"bob shares no files matching *.txt"}},
      {"an empty folder", u"/xrfolder", u"docs", u"/s", offering,
       Lines{u"bob shares no files in docs"}},
      {"no sub-folders at the top", u"/xrfolders", u"", u"/s", offering,
       Lines{u"bob shares no folders in the top of the shared folder"}},
      {"a search that finds nothing", u"/xrsearch", u"x.bin", u"/s", offering + u"\r",
       Lines{u"bob shares no file named x.bin"}},
      {"a file on its way: the transfer's lines follow", u"/xrfile", u"/s/a", std::nullopt,
       u"Accepted Request, Sending File /s/a...", Lines{}},
      {"a refusal after the name", u"/xrlist", u"", std::nullopt, std::u16string(kSharingOffReply),
       Lines{u"bob: " + std::u16string(kSharingOffReply)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Shown(c.word, c.arg, c.folder, c.answer), c.lines);
  }
}

TEST(PluginSession, AFileOrFolderIsAskedForAsTheLastListingShowedIt) {
  ScriptedDriver driver;
  PluginSession session(driver, PurpleRules());
  const Clock::time_point t0 = Clock::now();
  session.Command("bob", u"bob", u"/xrlist", u"", t0);
  session.HearNotice("bob", EncodeNotice(AnsweringNotice(u"rlist", u"/s")), u"bob");
  session.Hear("bob",
               u"Accepted Request, Offering...\r/s/a.txt\r/s/docs/notes.md\r/s/old/notes.md"
               u"\r/s/docs/deep/x.bin",
               t0, u"bob");
  struct Case {
    std::string contact;
    std::u16string word, typed;
    std::u16string sent;  // empty: nothing sent
    std::u16string note;  // a part of the line shown instead
  } cases[] = {
      {"bob", u"/xrfile", u"a.txt", u"\x12rfile/s/a.txt", u""},
      {"bob", u"/xrfile", u"docs/notes.md", u"\x12rfile/s/docs/notes.md", u""},
      // Any letter case (this scripted plug-in sends such a word's argument
      // as plain text).
      {"bob", u"/XRFILE", u"x.bin", u"/s/docs/deep/x.bin", u""},
      {"bob", u"/xrfile", u"/elsewhere/y", u"\x12rfile/elsewhere/y", u""},
      {"bob", u"/xrfile", u"notes.md", u"", u"names 2 files in bob's last listing"},
      {"bob", u"/xrfile", u"nope.txt", u"", u"No file nope.txt in bob's last listing"},
      {"carol", u"/xrfile", u"a.txt", u"", u"Nothing listed by carol yet"},
      {"bob", u"/xrfolder", u"docs", u"\x12rfldrdocs", u""},
      {"bob", u"/xrfolder", u"deep", u"\x12rfldrdocs/deep", u""},
      {"bob", u"/xrfolder", u"/s/docs/deep", u"\x12rfldrdocs/deep", u""},
      {"bob", u"/xrfolder", u"unlisted", u"\x12rfldrunlisted", u""},
      {"carol", u"/xrfolder", u"docs", u"\x12rfldrdocs", u""},
      {"dave", u"/xrfolder", u"x", u"", u"x names more than 3 folders in dave's last listing"},
      {"dave", u"/xrfolder", u"b/x", u"\x12rfldrb/x", u""},
  };
  session.Command("dave", u"dave", u"/xrlist", u"", t0);
  session.Hear("dave", u"Accepted Request, Offering...\r/d/a/x/f\r/d/b/x/f\r/d/c/x/f\r/d/e/x/f", t0,
               u"dave");
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.word + u" " + c.typed) + " to " + c.contact);
    const size_t notified = driver.plugin_.notified.size();
    const PluginSession::Typed typed =
        session.Command(c.contact, Utf8ToUtf16(c.contact), c.word, c.typed, t0);
    EXPECT_EQ(typed.send, c.sent);
    if (c.note.empty()) {
      EXPECT_TRUE(typed.notes.empty());
    } else {
      ASSERT_EQ(typed.notes.size(), 1u);
      EXPECT_NE(typed.notes[0].find(c.note), std::u16string::npos) << Utf16ToUtf8(typed.notes[0]);
      // Nothing reached the plug-in: no request is pending there.
      EXPECT_EQ(driver.plugin_.notified.size(), notified);
    }
  }

  // A search for no keyword: the plug-in is asked (it says so itself) and
  // takes its echo, and nothing is sent.
  const PluginSession::Typed search = session.Command("bob", u"bob", u"/xrsearch", u"", t0);
  EXPECT_TRUE(search.send.empty());
  EXPECT_FALSE(search.request);
  EXPECT_FALSE(driver.plugin_.echoPending);
  EXPECT_EQ(search.typed, "/xrsearch");
}

TEST(PluginSession, TheContactsHostSaysWhyAFileDidNotCome) {
  ScriptedDriver driver;
  PluginSession session(driver);
  struct Case {
    std::u16string notice;
    std::vector<std::u16string> lines;
  } cases[] = {
      {EncodeNotice(NotSentNotice(HostErrorKind::kNotFound, u"/s/docs/notes.md")),
       {u"bob could not send notes.md: " +
        Utf8ToUtf16(Describe(Failure(HostErrorKind::kNotFound)))}},
      {u"not sent\ndenied\nC:\\s\\a.txt", {u"bob could not send a.txt: permission denied"}},
      {u"not sent\nnew-word\na", {u"bob could not send a: the system failed"}},
      // Ignored: too few fields, no name, a name that forges a line, too long.
      {u"not sent\nmissing", {}},
      {u"not sent\nmissing\n", {}},
      {u"not sent\nmissing\na\rb", {}},
      {u"not sent\nmissing\n" + std::u16string(kMaxNoticeUnits, u'a'), {}},
      {u"answering\nrlist\n/s", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(PrintableText(c.notice));
    EXPECT_EQ(session.HearNotice("bob", c.notice, u"bob"), c.lines);
  }
}

TEST(PluginSession, OnAndStatusWarnWhenSharingSharesNothing) {
  TempDir dir;
  struct Case {
    const char* what;
    std::optional<std::u16string> sharingOn;  // none: the state cannot be read
    std::u16string folder;
    std::string warning;  // a part of it; empty: none
  } cases[] = {
      {"on, no folder", u"1", u"", "is on, but no folder is shared"},
      {"on, a folder that does not exist", u"1", TextFromPath(dir.path() / "gone"),
       "does not exist"},
      {"on, a folder", u"1", TextFromPath(dir.path()), ""},
      {"off", u"0", u"", ""},
      {"no state to read", std::nullopt, u"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedDriver driver;
    if (c.sharingOn) {
      driver.state.emplace();
      driver.state->sSharingOn = *c.sharingOn;
    }
    driver.holder.sharedFolder = c.folder;
    PluginSession session(driver);
    for (const char16_t* word : {u"/xron", u"/XRSTATUS"}) {
      const PluginSession::Typed typed = session.Command("bob", u"bob", word, u"", Clock::now());
      if (c.warning.empty()) {
        EXPECT_TRUE(typed.notes.empty());
      } else {
        ASSERT_EQ(typed.notes.size(), 1u);
        EXPECT_NE(Utf16ToUtf8(typed.notes[0]).find(c.warning), std::string::npos);
      }
    }
  }
}

TEST(SessionWords, CommandsAsTypedToastsOnceAndAFetchInItsOwnWords) {
  EXPECT_EQ(TypedRequest(Request(u"RSRCH", u"a.txt")), "/xrsearch a.txt");
  EXPECT_EQ(TypedRequest(Request(u"rlist")), "/xrlist");
  EXPECT_EQ(HelpFor(u"XRFILE", u"Request File", u"File Path").usage, "<path or name>");
  EXPECT_EQ(HelpFor(u"xr99", u"Row", u"Thing").usage, "<Thing>");  // not ours: the plug-in's row

  struct Toast {
    std::u16string message;
    std::string line;
  } toasts[] = {
      {u"Zuvo File Sharing is...\ron", "Zuvo File Sharing is... on"},
      {u"You have accepted and sent\r2 files",
       "Zuvo File Sharing: You have accepted and sent 2 files"},
  };
  for (const Toast& t : toasts) {
    EXPECT_EQ(ToastLine({u"Zuvo File Sharing", t.message, u"", -1}, "Zuvo File Sharing"), t.line);
  }
  EXPECT_EQ(ReceivingLine(u"notes.md", 2150, "bob"), "Receiving notes.md (2.1 KiB) from bob...");
  EXPECT_EQ(SavedFileLine("/home/ann/Downloads/notes (1).md", 2150, false, "/home/ann/"),
            "Saved notes (1).md in ~/Downloads (2.1 KiB)");
  EXPECT_EQ(SavedFileLine("/srv/in/a", 10, true, "/home/ann"),
            "Saved a in /srv/in (10 bytes, SHA-256 verified)");
  EXPECT_EQ(NotSavedLine(u"a", "bob", "the transfer did not finish"),
            "Could not save a from bob: the transfer did not finish");
}

// ---- Files offered ----------------------------------------------------------

TEST(PluginSession, AFileIsTakenOnlyAsTheAcceptedAnswerToOwnRequestOnceInTime) {
  TempDir downloads;
  const Clock::time_point t0 = Clock::now();
  const std::u16string accepted = u"Accepted Request, Sending File /s/docs/notes.txt...";
  struct Case {
    const char* what;
    std::u16string asked;                 // the user's "/xrfile" to bob, at t0
    std::vector<std::u16string> answers;  // bob's texts, at t0 + 1 min
    std::string from;                     // who offers, at t0 + |at|
    std::u16string offered;
    Clock::duration at;
    uint64_t size;
    HostErrorKind kind;
  } cases[] = {
      {"the accepted file",
       u"/s/docs/notes.txt",
       {accepted},
       "bob",
       u"notes.txt",
       2min,
       9,
       HostErrorKind::kNone},
      {"its name in other letter case",
       u"/s/docs/notes.txt",
       {accepted},
       "bob",
       u"NOTES.TXT",
       2min,
       9,
       HostErrorKind::kNone},
      {"a Windows path asked for",
       u"C:\\s\\notes.txt",
       {u"Accepted Request, Sending File C:\\s\\notes.txt...\n#/dropfile x"},
       "bob",
       u"notes.txt",
       2min,
       9,
       HostErrorKind::kNone},
      {"nothing asked", u"", {accepted}, "bob", u"notes.txt", 2min, 9, HostErrorKind::kNotAsked},
      {"asked, not accepted",
       u"/s/docs/notes.txt",
       {},
       "bob",
       u"notes.txt",
       2min,
       9,
       HostErrorKind::kNotAccepted},
      {"asked, refused",
       u"/s/docs/notes.txt",
       {u"That file is not in the shared folder, you do not have access to it"},
       "bob",
       u"notes.txt",
       2min,
       9,
       HostErrorKind::kNotAccepted},
      {"the answer names another path",
       u"/s/docs/notes.txt",
       {u"Accepted Request, Sending File /s/other/notes.txt..."},
       "bob",
       u"notes.txt",
       2min,
       9,
       HostErrorKind::kNotAccepted},
      {"another name",
       u"/s/docs/notes.txt",
       {accepted},
       "bob",
       u"notes.txt.exe",
       2min,
       9,
       HostErrorKind::kNotAsked},
      {"another contact",
       u"/s/docs/notes.txt",
       {accepted},
       "eve",
       u"notes.txt",
       2min,
       9,
       HostErrorKind::kNotAsked},
      {"later than 10 minutes after the answer",
       u"/s/docs/notes.txt",
       {accepted},
       "bob",
       u"notes.txt",
       12min,
       9,
       HostErrorKind::kNotAsked},
      {"more than the free space less the margin",
       u"/s/docs/notes.txt",
       {accepted},
       "bob",
       u"notes.txt",
       2min,
       ~uint64_t{0} - kFreeSpaceMargin,
       HostErrorKind::kNoRoom},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedDriver driver;
    PluginSession session(driver, PurpleRules());
    if (!c.asked.empty()) session.Command("bob", u"bob", u"/xrfile", c.asked, t0);
    for (const std::u16string& answer : c.answers) session.Hear("bob", answer, t0 + 1min);
    EXPECT_EQ(session.AdmitOffer(c.from, c.offered, c.size, downloads.path(), t0 + c.at).kind,
              c.kind);
  }
  {
    SCOPED_TRACE("each request lets one file in; an answer counts once");
    ScriptedDriver driver;
    PluginSession session(driver, PurpleRules());
    session.Command("bob", u"bob", u"/xrfile", u"/s/docs/notes.txt", t0);
    session.Hear("bob", accepted, t0);
    session.Hear("bob", accepted, t0);
    AwaitedFiles::Awaited taken;
    EXPECT_FALSE(session.AdmitOffer("bob", u"notes.txt", 9, downloads.path(), t0, &taken).failed());
    EXPECT_EQ(taken.path, u"/s/docs/notes.txt");
    EXPECT_EQ(session.AdmitOffer("bob", u"notes.txt", 9, downloads.path(), t0).kind,
              HostErrorKind::kNotAsked);
  }
  {
    SCOPED_TRACE("an answer after the request's time is up lets nothing in");
    ScriptedDriver driver;
    PluginSession session(driver, PurpleRules());
    session.Command("bob", u"bob", u"/xrfile", u"/s/docs/notes.txt", t0);
    session.Hear("bob", accepted, t0 + 11min);
    EXPECT_EQ(session.AdmitOffer("bob", u"notes.txt", 9, downloads.path(), t0 + 11min).kind,
              HostErrorKind::kNotAsked);
  }
  {
    SCOPED_TRACE("where answers need proof, only an answer with the file's facts lets it in");
    ScriptedDriver driver;
    SessionRules rules = PurpleRules();
    rules.fileAnswersNeedProof = true;
    PluginSession session(driver, rules);
    session.Command("bob", u"bob", u"/xrfile", u"/s/docs/notes.txt", t0);
    session.Hear("bob", accepted, t0);
    EXPECT_EQ(session.AdmitOffer("bob", u"notes.txt", 9, downloads.path(), t0).kind,
              HostErrorKind::kNotAccepted);
    Announced offer;
    offer.size = 9;
    offer.sha256 = Digest{};
    offer.sha256->fill(7);
    session.Hear("bob", accepted, t0, u"bob", offer);
    AwaitedFiles::Awaited taken;
    EXPECT_FALSE(session.AdmitOffer("bob", u"notes.txt", 9, downloads.path(), t0, &taken).failed());
    EXPECT_EQ(taken.announced.size, offer.size);
    EXPECT_EQ(taken.announced.sha256, offer.sha256);
  }
}

// ---- The parts the session is made of --------------------------------------

std::u16string Listing(size_t paths) {
  std::u16string text = u"Accepted Request, Offering...";
  for (size_t i = 0; i < paths; ++i) text += kCR + Ascii("/s/f" + std::to_string(i));
  return text;
}

TEST(ReplyLimit, CutsWithOneClearLineAndNeverSilently) {
  EXPECT_EQ(LimitReplyLines(Listing(199), 200), Listing(199));  // 200 lines: whole
  EXPECT_EQ(LimitReplyLines(Listing(10000), 0), Listing(10000));

  const std::u16string cut = LimitReplyLines(Listing(10000), 200);
  EXPECT_EQ(cut.substr(0, Listing(199).size()), Listing(199));
  EXPECT_EQ(cut.substr(Listing(199).size()),
            u"\r... 9801 more lines not sent (10001 in all). Ask with a pattern to narrow the "
            u"list, e.g. /xrlist *.txt");

  // LF and CR LF end lines as CR does.
  EXPECT_EQ(LimitReplyLines(u"a\r\nb\nc", 2),
            u"a\r\nb\r... 1 more line not sent (3 in all). Ask with a pattern to narrow the "
            u"list, e.g. /xrlist *.txt");
}

TEST(RequestGate, StrangersRateAndOneListingAtATime) {
  RequestGate::Limits limits;
  limits.burst = 3;
  limits.perSecond = 1;
  limits.maxSenders = 4;
  RequestGate gate(limits);
  const Clock::time_point t0 = Clock::now();

  EXPECT_EQ(gate.Admit("eve", false, false, t0).verdict, Verdict::kStranger);

  // One listing at a time; other requests go on meanwhile.
  EXPECT_EQ(gate.Admit("bob", true, true, t0).verdict, Verdict::kAnswer);
  const RequestGate::Decision busy = gate.Admit("bob", true, true, t0);
  EXPECT_EQ(busy.verdict, Verdict::kBusy);
  EXPECT_TRUE(busy.first);
  EXPECT_EQ(gate.Admit("bob", true, false, t0).verdict, Verdict::kAnswer);
  gate.ListingDone("bob");

  // The bucket is empty now: turned away, told once, then refilled.
  const RequestGate::Decision fast = gate.Admit("bob", true, true, t0);
  EXPECT_EQ(fast.verdict, Verdict::kTooFast);
  EXPECT_TRUE(fast.first);
  EXPECT_FALSE(gate.Admit("bob", true, true, t0).first);
  EXPECT_EQ(gate.Admit("bob", true, true, t0 + 1s).verdict, Verdict::kAnswer);

  // Many senders keep a bounded state.
  for (int i = 0; i < 100; ++i) gate.Admit("s" + std::to_string(i), true, false, t0 + 2s);
  EXPECT_LE(gate.senders(), limits.maxSenders);
}

}  // namespace
}  // namespace zuvo
