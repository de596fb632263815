#include <gtest/gtest.h>

#include <climits>

#include "base/text.h"
#include "core/beta.h"
#include "support/plugin_test_support.h"

namespace zuvo {
namespace {

using testing::TestServer;

TEST(BetaPublish, CommandTableByIndexLeavesMissingHelpAndOtherIndexesUntouched) {
  struct Row {
    int32_t index;
    const char16_t* name;  // null: nothing assigned
    const char16_t* value;
    const char16_t* help;  // null: sHelp keeps the host's text
  };
  const Row rows[] = {
      {1, u"Request List", u"xrlist", nullptr},
      {2, u"Request File", u"xrfile", u"File Path"},
      {3, u"Turn Sharing On", u"xron", nullptr},
      {4, u"Turn Sharing Off", u"xroff", nullptr},
      {5, u"Options", u"xroptions", nullptr},
      {6, u"Search For File", u"xrsearch", u"Filename"},
      {7, u"Get Folder Contents", u"xrfolder", u"Folder Path"},
      {8, u"Get Folder List", u"xrfolders", u"Folder Path"},
      {9, u"Status", u"xrstatus", nullptr},
      {10, u"Statistics", u"xrstats", nullptr},
      {0, nullptr, nullptr, nullptr},
      {11, nullptr, nullptr, nullptr},
      {-1, nullptr, nullptr, nullptr},
      {INT32_MIN, nullptr, nullptr, nullptr},
      {INT32_MAX, nullptr, nullptr, nullptr},
  };
  TestServer t;
  beta plugin(t.server);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.index);
    std::u16string sName = u"host name", sValue = u"host value", sHelp = u"host help";
    plugin.GetPublishCommandInfo(row.index, sName, sValue, sHelp);
    EXPECT_EQ(sName, row.name ? row.name : u"host name");
    EXPECT_EQ(sValue, row.value ? row.value : u"host value");
    EXPECT_EQ(sHelp, row.help ? row.help : u"host help");
  }
  // Asking for the table neither loads the settings nor touches the registry.
  EXPECT_FALSE(t.server.HolderLoaded());
  EXPECT_EQ(t.store.backend.calls, 0);
}

TEST(BetaPublish, NameCountsTagsAndUninitialize) {
  TestServer t;
  beta plugin(t.server);
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round == 0 ? "before Uninitialize" : "after Uninitialize");
    std::u16string sPluginName = u"x";
    int32_t nCommandCount = -5, nTagCount = 99;
    EXPECT_TRUE(plugin.GetPublishInfo(sPluginName, nCommandCount, nTagCount));
    EXPECT_EQ(sPluginName, u"Zuvo File Sharing");
    EXPECT_EQ(nCommandCount, 10);
    EXPECT_EQ(nTagCount, 0);

    for (int32_t index : {-1, 0, 1, 5}) {
      std::u16string sName = u"n", sValue = u"v";
      plugin.GetPublishTagInfo(index, sName, sValue);
      EXPECT_EQ(sName, u"n");
      EXPECT_EQ(sValue, u"v");
    }
    std::u16string sResult = u"kept";
    EXPECT_FALSE(plugin.ParseTag(u"tag", nullptr, sResult));
    EXPECT_EQ(sResult, u"kept");
    plugin.Uninitialize();
  }
}

TEST(BetaInitialize, TakesTheStoredSettingsIntoHolderAndState) {
  TestServer t;
  t.store.CreateSettingsKey();
  t.store.PutRaw("Shared Folder", std::string("  /srv/share  \0", 15));
  t.store.PutRaw("Start On", std::string("1\0", 2));
  t.store.PutRaw("Sub Folders", std::string("0\0", 2));
  beta plugin(t.server);
  EXPECT_EQ(plugin.state().sSharingOn, u"");
  EXPECT_EQ(plugin.state().sFilesSent, u"");
  EXPECT_FALSE(plugin.state().bOwnRequestPending);

  EXPECT_TRUE(plugin.Initialize(7, u"me@example.org", nullptr));
  auto holder = t.server.Holder();
  EXPECT_EQ(holder->Text1, u"/srv/share  ");
  EXPECT_EQ(holder->Text2, u"1");
  EXPECT_EQ(holder->Text3, u"0");
  EXPECT_EQ(holder->Check1, 1);
  EXPECT_EQ(holder->Check2, 0);
  EXPECT_EQ(plugin.state().sSharingOn, u"1");
  EXPECT_EQ(plugin.state().sFilesSent, u"0");
  EXPECT_EQ(plugin.state().sRequestedFile, u"");
  EXPECT_EQ(t.store.backend.openKeys, 0);

  // "Apply" with "Start On" cleared changes the setting, not the running state.
  holder->Check1 = 0;
  holder->Command2_Click();
  EXPECT_EQ(holder->Text2, u"0");
  EXPECT_EQ(plugin.state().sSharingOn, u"1");

  // A second Initialize takes the stored value again, on the same holder.
  EXPECT_TRUE(plugin.Initialize(0, u"", nullptr));
  EXPECT_EQ(plugin.state().sSharingOn, u"0");
  EXPECT_EQ(plugin.state().sFilesSent, u"0");
  EXPECT_EQ(t.server.Holder(), holder);
}

TEST(BetaInitialize, UnreadableSettingsArriveAsError) {
  struct Case {
    const char* what;
    bool key;
    const char* startOn;  // null: value missing
  };
  const Case cases[] = {
      {"key missing", false, nullptr},
      {"values missing", true, nullptr},
      {"Start On not a flag", true, "2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestServer t;
    if (c.key) t.store.CreateSettingsKey();
    if (c.startOn) t.store.PutRaw("Start On", std::string(c.startOn) + '\0');
    beta plugin(t.server);
    EXPECT_TRUE(plugin.Initialize(0, u"", nullptr));
    auto holder = t.server.Holder();
    const std::u16string startOn = c.startOn ? Ascii(c.startOn) : u"Error";
    EXPECT_EQ(holder->Text1, u"Error");
    EXPECT_EQ(holder->Text2, startOn);
    EXPECT_EQ(holder->Text3, u"Error");
    EXPECT_EQ(holder->Check1, 0);
    EXPECT_EQ(plugin.state().sSharingOn, startOn);
    EXPECT_EQ(plugin.state().sFilesSent, u"0");
    EXPECT_TRUE(t.store.messageBox.shown.empty());
  }
}

TEST(PluginServerHolder, OneHolderPerServerLoadedAfreshAfterItsWindowCloses) {
  TestServer t;
  t.store.CreateSettingsKey();
  t.store.PutRaw("Shared Folder", std::string("/a\0", 3));
  EXPECT_FALSE(t.server.HolderLoaded());
  auto first = t.server.Holder();
  EXPECT_EQ(t.server.Holder(), first);
  first->Text1 = u"/edited";
  EXPECT_EQ(t.server.Holder()->Text1, u"/edited");

  t.view.script = [](frmOptions& form) { form.Form_Close(); };
  first->ShowModal();
  EXPECT_FALSE(t.server.HolderLoaded());
  auto second = t.server.Holder();
  EXPECT_NE(second, first);
  EXPECT_EQ(second->Text1, u"/a");

  // Another server has its own holder.
  TestServer other;
  EXPECT_NE(other.server.Holder(), second);
}

}  // namespace
}  // namespace zuvo
