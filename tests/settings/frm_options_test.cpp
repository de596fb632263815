#include "settings/frm_options.h"

#include <gtest/gtest.h>

#include "base/text.h"
#include "settings/settings_store.h"
#include "support/settings_test_support.h"

namespace zuvo {
namespace {

using testing::FakeFormView;
using testing::TestRegistry;

std::string Stored(const char* text) { return std::string(text) + '\0'; }

struct FormFixture {
  TestRegistry t;
  FakeFormView view;
  void Store(const char* name, const char* text) { t.PutRaw(name, Stored(text)); }
};

TEST(FrmOptionsLoad, MissingValuesBecomeErrorAndLeaveTheChecksAlone) {
  for (bool keyExists : {false, true}) {
    SCOPED_TRACE(keyExists ? "empty key" : "no key");
    FormFixture f;
    if (keyExists) f.t.CreateSettingsKey();
    frmOptions form(f.t.registry, f.view);
    EXPECT_EQ(form.Text1, u"Error");
    EXPECT_EQ(form.Text2, u"Error");
    EXPECT_EQ(form.Text3, u"Error");
    EXPECT_EQ(form.Check1, 0);
    EXPECT_EQ(form.Check2, 0);
    EXPECT_TRUE(f.t.messageBox.shown.empty());
    EXPECT_EQ(f.t.backend.openKeys, 0);
  }
}

TEST(FrmOptionsLoad, ChecksFollowOnlyTheTextsOneAndZero) {
  struct Case {
    const char* stored;
    int before;
    int after;
  };
  const Case cases[] = {{"1", 0, 1},     {"0", 1, 0},  {"2", 1, 1},  {"2", 0, 0},
                        {"Error", 1, 1}, {" 1", 0, 1}, {"1 ", 0, 0}, {"", 1, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("\"") + c.stored + "\" from " + std::to_string(c.before));
    FormFixture f;
    f.t.CreateSettingsKey();
    frmOptions form(f.t.registry, f.view);
    f.Store("Start On", c.stored);
    f.Store("Sub Folders", c.stored);
    form.Check1 = c.before;
    form.Check2 = c.before;
    form.LoadSettings();
    EXPECT_EQ(form.Check1, c.after);
    EXPECT_EQ(form.Check2, c.after);
    // The text reaches the holder as read (leading blanks trimmed).
    EXPECT_EQ(form.Text2, f.t.registry.ReadValue(kSettingsKeyPath, u"Start On"));
  }
}

TEST(FrmOptionsSave, StoresFolderAndSwitchesAndUpdatesTheHolder) {
  FormFixture f;
  f.t.CreateSettingsKey();
  f.Store("Shared Folder", "/old");
  frmOptions form(f.t.registry, f.view);
  form.Text1 = u"";
  form.Check1 = 1;
  form.Check2 = 0;
  form.Text2 = u"x";
  form.SaveSettings();
  EXPECT_EQ(f.t.GetRaw("Shared Folder"), std::string(1, '\0'));
  EXPECT_EQ(f.t.GetRaw("Start On"), Stored("1"));
  EXPECT_EQ(f.t.GetRaw("Sub Folders"), Stored("0"));
  EXPECT_EQ(form.Text2, u"1");
  EXPECT_EQ(form.Text3, u"0");
  form.LoadSettings();
  EXPECT_EQ(form.Text1, u"");

  // A folder is stored exactly as typed, "Error" included.
  for (const char16_t* folder : {u"  /srv/with blanks  ", u"Error", u"C:\\", u"\u00e9\u20ac"}) {
    form.Text1 = folder;
    form.SaveSettings();
    EXPECT_EQ(f.t.GetRaw("Shared Folder"), Utf16ToUtf8(folder) + '\0');
  }
}

TEST(FrmOptionsSave, WithoutWriteAccessTheHolderKeepsTheNewChoicesUntilTheNextLoad) {
  FormFixture f;
  f.t.CreateSettingsKey();
  f.Store("Shared Folder", "/old");
  f.Store("Start On", "0");
  frmOptions form(f.t.registry, f.view);
  f.t.backend.refuseWrites = true;
  f.view.script = [](frmOptions& shown) {
    shown.Text1 = u"/new";
    shown.Check1 = 1;
    shown.Command2_Click();
  };
  form.ShowModal();
  EXPECT_EQ(form.Text1, u"/new");
  EXPECT_EQ(form.Text2, u"1");
  EXPECT_EQ(f.t.GetRaw("Shared Folder"), Stored("/old"));
  // Showing the form again reloads what the key holds.
  f.view.script = nullptr;
  form.ShowModal();
  EXPECT_EQ(form.Text1, u"/old");
  EXPECT_EQ(form.Check1, 0);
}

TEST(FrmOptionsEvents, CancelBrowseAndCloseStoreNothing) {
  FormFixture f;
  f.t.CreateSettingsKey();
  f.Store("Shared Folder", "/stored");
  f.Store("Start On", "1");
  f.Store("Sub Folders", "0");
  frmOptions form(f.t.registry, f.view);
  const std::string before = testing::ReadFileBytes(f.t.storePath());

  // Browse then Cancel.
  f.view.browseResult = u"/picked";
  f.view.script = [](frmOptions& shown) {
    shown.Command3_Click();
    EXPECT_EQ(shown.Text1, u"/picked");
    shown.Check2 = 1;
    shown.Command1_Click();
  };
  form.ShowModal();
  EXPECT_EQ(form.Text1, u"/stored");
  EXPECT_EQ(form.Check2, 0);
  EXPECT_FALSE(form.visible());

  // A cancelled browser leaves the folder box as it was.
  f.view.browseResult = u"";
  f.view.script = [](frmOptions& shown) {
    shown.Text1 = u"/typed";
    shown.Command3_Click();
    EXPECT_EQ(shown.Text1, u"/typed");
    shown.Form_Close();
  };
  form.ShowModal();
  EXPECT_TRUE(form.unloaded());
  EXPECT_EQ(f.view.browses, 2);

  // An unapplied edit is gone the next time the form is shown.
  frmOptions again(f.t.registry, f.view);
  f.view.script = [](frmOptions& shown) { shown.Text1 = u"/unapplied"; };
  again.ShowModal();
  f.view.script = [](frmOptions& shown) { EXPECT_EQ(shown.Text1, u"/stored"); };
  again.ShowModal();
  EXPECT_EQ(testing::ReadFileBytes(f.t.storePath()), before);
}

}  // namespace
}  // namespace zuvo
