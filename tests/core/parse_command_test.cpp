#include <gtest/gtest.h>

#include "core/local_commands_fixture.h"

namespace zuvo {
namespace {

const std::u16string kHostValue = u"host's text";

std::u16string Note(std::u16string_view codeAndArg) {
  return std::u16string(1, kMarker) + std::u16string(codeAndArg);
}

TEST_F(LocalCommandsTest, OnlyTheTenWholeCommandTextsAreRecognised) {
  StoreSettings(u"/srv/share", u"1", u"0");
  ASSERT_TRUE(plugin->Initialize(0, u"", nullptr));
  const std::u16string notCommands[] = {
      u"/xrlist ", u" /xrlist",  u"/xrlis",   u"/xrlistx", u"xrlist", u"",  u"/xrfolderz",
      u"/xrstat",  u"/xrlist\t", u"/xr list", u"/xron\n",  u"/xr",    u"/", u"/xrfil\u0130",
  };
  for (const std::u16string& command : notCommands) {
    SCOPED_TRACE(Utf16ToUtf8(command));
    std::u16string sResult = kHostValue;
    const auto outcome = Parse(command, u"arg", sResult);
    EXPECT_FALSE(outcome.status.failed());
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(sResult, kHostValue);
    EXPECT_FALSE(plugin->state().bOwnRequestPending);
    EXPECT_EQ(plugin->state().sSharingOn, u"1");
  }
  EXPECT_TRUE(host.toasts.empty());
  EXPECT_TRUE(boxes.shown.empty());

  // Any mix of case selects the command; "/xrfolders" is never "/xrfolder".
  struct Case {
    std::u16string command;
    std::u16string expected;
  };
  const Case cases[] = {
      {u"/XRLIST", Note(u"rlist") + u"a"},      {u"/XrLiSt", Note(u"rlist") + u"a"},
      {u"/xRfIlE", Note(u"rfile") + u"a"},      {u"/XRFOLDER", Note(u"rfldr") + u"a"},
      {u"/XRFOLDERS", Note(u"rflds") + u"a"},   {u"/xrSearch", Note(u"rsrch") + u"a"},
      {u"/xrl\u0130st", Note(u"rlist") + u"a"},  // capital I with dot lower-cases to "i"
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.command));
    std::u16string sResult = kHostValue;
    const auto outcome = Parse(c.command, u"a", sResult);
    EXPECT_TRUE(outcome.result);
    EXPECT_EQ(sResult, c.expected);
  }
}

TEST_F(LocalCommandsTest, RequestCommandsBuildTheNotificationText) {
  StoreSettings(u"/srv/share", u"1", u"0");
  ASSERT_TRUE(plugin->Initialize(0, u"", nullptr));
  struct Case {
    std::u16string command;
    std::u16string arg;
    std::u16string expected;
    bool keywordBox = false;
  };
  const Case cases[] = {
      {u"/xrlist", u"", Note(u"rlist*.*")},
      {u"/xrlist", u"*.txt;*.doc", Note(u"rlist*.txt;*.doc")},
      {u"/xrlist", u" *.txt ", Note(u"rlist *.txt ")},
      {u"/xrlist", u"<File Path>", Note(u"rlist<File Path>")},
      {u"/xrfile", u"C:\\share\\a.txt", Note(u"rfileC:\\share\\a.txt")},
      {u"/xrfile", u"<File Path>", u""},
      {u"/xrfile", u"<file path>", Note(u"rfile<file path>")},
      {u"/xrfile", u"<File Path> ", Note(u"rfile<File Path> ")},
      {u"/xrfile", u"", Note(u"rfile")},
      {u"/xrfolder", u"docs", Note(u"rfldrdocs")},
      {u"/xrfolder", u"<Folder Path>", u""},
      {u"/xrfolder", u"<FOLDER PATH>", Note(u"rfldr<FOLDER PATH>")},
      {u"/xrfolder", u"", Note(u"rfldr")},
      {u"/xrfolders", u"docs\\old", Note(u"rfldsdocs\\old")},
      {u"/xrfolders", u"<Folder Path>", u""},
      {u"/xrfolders", u"", Note(u"rflds")},
      {u"/xrsearch", u"a.txt", Note(u"rsrcha.txt")},
      {u"/xrsearch", u"<Filename>", u""},
      {u"/xrsearch", u"<filename>", Note(u"rsrch<filename>")},
      {u"/xrsearch", u"", Note(u"rsrch"), true},
      {u"/xrsearch", u" ", Note(u"rsrch ")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.command + u" [" + c.arg + u"]"));
    // A fresh object each time: the flag must be set by this very call.
    plugin = std::make_unique<beta>(*server);
    boxes.shown.clear();
    std::u16string sResult = kHostValue;
    const auto outcome = Parse(c.command, c.arg, sResult);
    EXPECT_FALSE(outcome.status.failed());
    EXPECT_TRUE(outcome.result);
    EXPECT_EQ(sResult, c.expected);
    EXPECT_TRUE(plugin->state().bOwnRequestPending);
    if (c.keywordBox) {
      ASSERT_EQ(boxes.shown.size(), 1u);
      EXPECT_EQ(boxes.shown[0].text, u"You must use at least 1 keyword");
      EXPECT_EQ(boxes.shown[0].title, u"Zuvo File Sharing");
    } else {
      EXPECT_TRUE(boxes.shown.empty());
    }
  }
  EXPECT_TRUE(host.toasts.empty());
}

TEST_F(LocalCommandsTest, OnOffAndStatsToastAndChangeOnlyTheRunningState) {
  StoreSettings(u"/srv/share", u"0", u"1");
  ASSERT_TRUE(plugin->Initialize(0, u"", nullptr));

  std::u16string sResult = kHostValue;
  EXPECT_TRUE(Parse(u"/xrstats", u"ignored", sResult).result);
  EXPECT_EQ(sResult, u"");

  sResult = kHostValue;
  EXPECT_TRUE(Parse(u"/XRON", u"", sResult).result);
  EXPECT_EQ(sResult, u"");
  EXPECT_EQ(plugin->state().sSharingOn, u"1");

  sResult = kHostValue;
  EXPECT_TRUE(Parse(u"/xrstatus", u"", sResult).result);
  EXPECT_EQ(sResult, u"");

  sResult = kHostValue;
  EXPECT_TRUE(Parse(u"/xroff", u"", sResult).result);
  EXPECT_EQ(plugin->state().sSharingOn, u"0");
  EXPECT_EQ(sResult, u"");

  const std::u16string expected[] = {
      Lines(u"You have accepted and sent", u"0 files"),
      Lines(u"Zuvo File Sharing has been", u"turned on"),
      Lines(u"Zuvo File Sharing is...", u"on"),
      Lines(u"Zuvo File Sharing has been", u"turned off"),
  };
  ASSERT_EQ(host.toasts.size(), std::size(expected));
  for (size_t i = 0; i < host.toasts.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(host.toasts[i].text, expected[i]);
    EXPECT_EQ(host.toasts[i].title, std::u16string(u"Zuvo File Sharing"));
    EXPECT_EQ(host.toasts[i].link, std::u16string(kAddOnWebSite));
    EXPECT_EQ(host.toasts[i].flag, -1);
    EXPECT_EQ(host.toasts[i].lParam, 1);
  }
  EXPECT_FALSE(plugin->state().bOwnRequestPending);

  // The stored setting and the holder never followed the commands...
  EXPECT_EQ(Stored(kStartOnValue), u"0");
  EXPECT_EQ(server->Holder()->Text2, u"0");
  EXPECT_EQ(server->Holder()->Check1, 0);

  // ...so the next start begins again from the stored "Start On".
  ASSERT_TRUE(Parse(u"/xron", u"", sResult).result);
  ASSERT_TRUE(plugin->Initialize(0, u"", nullptr));
  EXPECT_EQ(plugin->state().sSharingOn, u"0");
  EXPECT_EQ(plugin->state().sFilesSent, u"0");
}

TEST_F(LocalCommandsTest, StatusReadsTheSharingStateAsANumber) {
  struct Case {
    std::u16string startOn;
    const char16_t* toast;  // nullptr: no toast
    bool mismatch = false;
  };
  const Case cases[] = {
      {u"1", u"on"},        {u"0", u"off"},         {u" 1 ", u"on"},      {u"\t0  ", u"off"},
      {u"\t 1 ", u"on"},    {u"1.0", u"on"},        {u"+1", u"on"},       {u"1e0", u"on"},
      {u"0.1E1", u"on"},    {u"-0", u"off"},        {u".0", u"off"},      {u"0e999999", u"off"},
      {u"2", nullptr},      {u"-1", nullptr},       {u"0.5", nullptr},    {u"1e999", nullptr},
      {u"1e-999", nullptr}, {u"Error", nullptr, 1}, {u"", nullptr, 1},    {u" ", nullptr, 1},
      {u"1x", nullptr, 1},  {u"1 1", nullptr, 1},   {u".", nullptr, 1},   {u"e1", nullptr, 1},
      {u"1e", nullptr, 1},  {u"--1", nullptr, 1},   {u"0x1", nullptr, 1}, {u"\uFF11", nullptr, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("Start On [" + Utf16ToUtf8(c.startOn) + "]");
    StoreSettings(u"/srv/share", c.startOn, u"0");
    ASSERT_TRUE(plugin->Initialize(0, u"", nullptr));
    // The store's reader trims leading spaces; the state is what it read.
    ASSERT_EQ(plugin->state().sSharingOn, Stored(kStartOnValue));
    host.toasts.clear();
    std::u16string sResult = kHostValue;
    const auto outcome = Parse(u"/xrstatus", u"", sResult);
    if (c.mismatch) {
      EXPECT_EQ(outcome.status.code, hr::kTypeMismatch);
      EXPECT_EQ(outcome.status.description, "Type mismatch");
      EXPECT_FALSE(outcome.result);
      EXPECT_EQ(sResult, kHostValue);
    } else {
      EXPECT_FALSE(outcome.status.failed());
      EXPECT_TRUE(outcome.result);
      EXPECT_EQ(sResult, u"");
    }
    if (c.toast) {
      ASSERT_EQ(host.toasts.size(), 1u);
      EXPECT_EQ(host.toasts[0].text, Lines(u"Zuvo File Sharing is...", c.toast));
    } else {
      EXPECT_TRUE(host.toasts.empty());
    }
  }

  // Before Initialize the state is empty: no number either.
  plugin = std::make_unique<beta>(*server);
  std::u16string sResult = kHostValue;
  EXPECT_EQ(Parse(u"/xrstatus", u"", sResult).status.code, hr::kTypeMismatch);
  EXPECT_EQ(sResult, kHostValue);
}

TEST_F(LocalCommandsTest, OptionsShowsTheHolderAndAppliesOrDiscards) {
  StoreSettings(u"/srv/share", u"0", u"1");
  ASSERT_TRUE(plugin->Initialize(0, u"", nullptr));

  // Apply: the edits are stored and live, but sharing does not start now.
  std::u16string liveDuringShow;
  view.script = [&](frmOptions& form) {
    EXPECT_TRUE(form.visible());
    EXPECT_EQ(form.Text1, u"/srv/share");
    form.Text1 = u"/srv/other";
    // A remote request while the form is open sees the unapplied edit.
    liveDuringShow = server->Holder()->Text1;
    form.Check1 = 1;
    form.Check2 = 0;
    form.Command2_Click();
  };
  std::u16string sResult = kHostValue;
  EXPECT_TRUE(Parse(u"/xroptions", u"", sResult).result);
  EXPECT_EQ(sResult, u"");
  EXPECT_EQ(liveDuringShow, u"/srv/other");
  EXPECT_EQ(Stored(kSharedFolderValue), u"/srv/other");
  EXPECT_EQ(Stored(kStartOnValue), u"1");
  EXPECT_EQ(Stored(kSubFoldersValue), u"0");
  EXPECT_FALSE(server->Holder()->visible());
  EXPECT_EQ(server->Holder()->Text2, u"1");
  EXPECT_EQ(server->Holder()->Text3, u"0");
  EXPECT_EQ(plugin->state().sSharingOn, u"0");

  // "..." with a chosen folder, then Cancel: nothing changes.
  view.browseResult = u"/picked";
  view.script = [&](frmOptions& form) {
    form.Command3_Click();
    EXPECT_EQ(form.Text1, u"/picked");
    form.Check2 = 1;
    form.Command1_Click();
  };
  EXPECT_TRUE(Parse(u"/xroptions", u"", sResult).result);
  EXPECT_EQ(server->Holder()->Text1, u"/srv/other");
  EXPECT_EQ(server->Holder()->Check2, 0);
  EXPECT_EQ(Stored(kSharedFolderValue), u"/srv/other");

  // A cancelled browse leaves the box; the browsed folder is applied.
  view.script = [&](frmOptions& form) {
    view.browseResult = u"";
    form.Command3_Click();
    EXPECT_EQ(form.Text1, u"/srv/other");
    view.browseResult = u"/picked";
    form.Command3_Click();
    form.Command2_Click();
  };
  EXPECT_TRUE(Parse(u"/xroptions", u"", sResult).result);
  EXPECT_EQ(Stored(kSharedFolderValue), u"/picked");
  EXPECT_EQ(server->Holder()->Text1, u"/picked");
  EXPECT_EQ(view.browses, 3);

  // An edit left open (the view returns without a button) is live until
  // the next showing, which starts again from the stored values.
  view.script = [&](frmOptions& form) { form.Text1 = u"/unapplied"; };
  EXPECT_TRUE(Parse(u"/xroptions", u"", sResult).result);
  EXPECT_EQ(server->Holder()->Text1, u"/unapplied");
  view.script = [&](frmOptions& form) {
    EXPECT_EQ(form.Text1, u"/picked");
    form.Command1_Click();
  };
  EXPECT_TRUE(Parse(u"/xroptions", u"", sResult).result);
  EXPECT_EQ(view.shows, 5);
}

TEST_F(LocalCommandsTest, ClosingTheOptionsWindowDiscardsTheFormAndItsEdits) {
  StoreSettings(u"/srv/share", u"1", u"1");
  ASSERT_TRUE(plugin->Initialize(0, u"", nullptr));
  view.script = [&](frmOptions& form) {
    form.Text1 = u"/typed";
    form.Check1 = 0;
    form.Form_Close();
    EXPECT_TRUE(form.unloaded());
    EXPECT_FALSE(form.visible());
  };
  const std::weak_ptr<frmOptions> before = server->Holder();
  std::u16string sResult = kHostValue;
  EXPECT_TRUE(Parse(u"/xroptions", u"", sResult).result);
  EXPECT_EQ(sResult, u"");
  EXPECT_EQ(Stored(kSharedFolderValue), u"/srv/share");
  EXPECT_EQ(Stored(kStartOnValue), u"1");

  // The next read of the holder drops the closed form and loads a fresh one
  // from the store.
  EXPECT_FALSE(server->HolderLoaded());
  const std::shared_ptr<frmOptions> fresh = server->Holder();
  EXPECT_TRUE(before.expired());
  EXPECT_EQ(fresh->Text1, u"/srv/share");
  EXPECT_EQ(fresh->Check1, 1);
  EXPECT_FALSE(fresh->unloaded());

  // The fresh form is the one the next "/xroptions" shows.
  view.script = [&](frmOptions& form) {
    EXPECT_EQ(&form, fresh.get());
    form.Command1_Click();
  };
  EXPECT_TRUE(Parse(u"/xroptions", u"", sResult).result);
}

TEST_F(LocalCommandsTest, OptionsCreatesTheHolderWhenNoneIsLoadedYet) {
  StoreSettings(u"/srv/share", u"1", u"0");
  EXPECT_FALSE(server->HolderLoaded());
  view.script = [&](frmOptions& form) {
    EXPECT_EQ(form.Text1, u"/srv/share");
    EXPECT_EQ(form.Check1, 1);
    form.Command1_Click();
  };
  std::u16string sResult = kHostValue;
  EXPECT_TRUE(Parse(u"/xroptions", u"", sResult).result);
  EXPECT_TRUE(server->HolderLoaded());
  EXPECT_EQ(view.shows, 1);
}

}  // namespace
}  // namespace zuvo
