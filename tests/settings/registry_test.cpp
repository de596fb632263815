#include <gtest/gtest.h>

#include "base/text.h"
#include "settings/registry.h"
#include "settings/settings_store.h"
#include "support/settings_test_support.h"

namespace zuvo {
namespace {

using testing::TestRegistry;

TEST(RegistryRootKey, ExactNamesOnly) {
  EXPECT_EQ(Registry::RootKeyFromName(u"HKEY_CLASSES_ROOT"), 0x80000000u);
  EXPECT_EQ(Registry::RootKeyFromName(u"HKEY_CURRENT_USER"), 0x80000001u);
  EXPECT_EQ(Registry::RootKeyFromName(u"HKEY_LOCAL_MACHINE"), 0x80000002u);
  EXPECT_EQ(Registry::RootKeyFromName(u"HKEY_USERS"), 0x80000003u);
  EXPECT_EQ(Registry::RootKeyFromName(u"HKEY_PERFORMANCE_DATA"), 0x80000004u);
  EXPECT_EQ(Registry::RootKeyFromName(u"HKEY_CURRENT_CONFIG"), 0x80000005u);
  EXPECT_EQ(Registry::RootKeyFromName(u"HKEY_DYN_DATA"), 0x80000006u);
  for (const char16_t* name : {u"", u"HKEY_", u"hkey_local_machine", u"HKEY_Local_Machine",
                               u"HKEY_LOCAL_MACHINE ", u"HKLM"}) {
    EXPECT_EQ(Registry::RootKeyFromName(name), 0u) << Utf16ToUtf8(name);
  }
}

TEST(RegistrySplitKeyPath, SplitsAtFirstBackslashAndReportsMalformedPaths) {
  struct Case {
    std::u16string path;
    RootKey root;
    std::u16string subKey;
    bool message;
  };
  const Case cases[] = {
      {u"HKEY_LOCAL_MACHINE\\SOFTWARE\\A\\B", kHkeyLocalMachine, u"SOFTWARE\\A\\B", false},
      {u"HKEY_LOCAL_MACHINE", kHkeyLocalMachine, u"", false},
      {u"HKEY_CURRENT_USER\\x", kHkeyCurrentUser, u"x", false},
      {u"HKEY_LOCAL_MACHINE\\\\A", kHkeyLocalMachine, u"\\A", false},
      // Mixed case after an exact prefix: no root key, but no message.
      {u"HKEY_Local_Machine\\SOFTWARE", 0, u"SOFTWARE", false},
      {u"HKEY_", 0, u"", false},
      // Malformed: message, no root key.
      {u"HKEY_LOCAL_MACHINE\\SOFTWARE\\", 0, u"", true},
      {u"SOFTWARE\\A", 0, u"", true},
      {u"hkey_local_machine\\SOFTWARE", 0, u"", true},
      {u"", 0, u"", true},
      {u"HKEY", 0, u"", true},
      {u"HKEY_\\", 0, u"", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.path));
    TestRegistry t;
    const Registry::KeyPath split = t.registry.SplitKeyPath(c.path);
    EXPECT_EQ(split.root, c.root);
    if (c.root != 0) {
      EXPECT_EQ(split.subKey, c.subKey);
    }
    ASSERT_EQ(t.messageBox.shown.size(), c.message ? 1u : 0u);
    if (c.message) {
      EXPECT_EQ(t.messageBox.shown[0].text, u"Incorrect Format:\n\n" + c.path);
      EXPECT_EQ(t.messageBox.shown[0].title, kDefaultMessageBoxTitle);
    }
  }
}

TEST(RegistryReadValue, TrimsBlanksAndDropsTheTerminatingNul) {
  struct Case {
    const char* what;
    std::string stored;
    std::u16string expected;
  };
  const Case cases[] = {
      {"blanks around", std::string("  abc  \0", 8), u"abc  "},
      {"empty with NUL", std::string("\0", 1), u""},
      {"empty without NUL", "", u""},
      {"without NUL", "abc", u"abc"},
      {"blanks only", std::string("   \0", 4), u""},
      {"254 characters", std::string(254, 'x') + '\0', std::u16string(254, u'x')},
      {"254 without NUL", std::string(254, 'y'), std::u16string(254, u'y')},
      {"255 characters", std::string(255, 'x') + '\0', u"Error"},
      {"UTF-8", std::string("\xc3\xa9t\xc3\xa9\0", 6), u"\u00e9t\u00e9"},
      {"127 two-byte characters",
       [] {
         std::string s;
         for (int i = 0; i < 127; ++i) s += "\xc3\xa9";
         return s + '\0';
       }(),
       std::u16string(127, u'\u00e9')},
      {"stored text Error", std::string("Error\0", 6), u"Error"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestRegistry t;
    t.CreateSettingsKey();
    t.PutRaw("V", c.stored);
    EXPECT_EQ(t.registry.ReadValue(kSettingsKeyPath, u"V"), c.expected);
    EXPECT_EQ(t.backend.openKeys, 0);
    EXPECT_TRUE(t.messageBox.shown.empty());
  }
}

TEST(RegistryReadValue, FailuresGiveErrorOrEmptyAndCloseTheKey) {
  TestRegistry t;
  // Key missing.
  EXPECT_EQ(t.registry.ReadValue(kSettingsKeyPath, u"Start On"), u"Error");
  t.CreateSettingsKey();
  // Value missing under an existing key.
  EXPECT_EQ(t.registry.ReadValue(kSettingsKeyPath, u"Start On"), u"Error");
  EXPECT_EQ(t.backend.openKeys, 0);
  // Unknown root: empty, no message, registry untouched.
  const int calls = t.backend.calls;
  EXPECT_EQ(t.registry.ReadValue(u"HKEY_Local_Machine\\SOFTWARE", u"x"), u"");
  EXPECT_TRUE(t.messageBox.shown.empty());
  // Malformed: message, empty, registry untouched.
  EXPECT_EQ(t.registry.ReadValue(u"SOFTWARE\\A", u"x"), u"");
  EXPECT_EQ(t.backend.calls, calls);
  ASSERT_EQ(t.messageBox.shown.size(), 1u);
  EXPECT_EQ(t.messageBox.shown[0].text, u"Incorrect Format:\n\nSOFTWARE\\A");
}

TEST(RegistryWriteValue, StoresTextWithItsNulAndReadsItBackWhole) {
  TestRegistry t;
  t.CreateSettingsKey();
  const std::u16string values[] = {
      u"",
      u"C:\\Share",
      u"abc  ",
      std::u16string(254, u'z'),
      std::u16string(84, u'\u20ac'),
      u"\U0001F600 smile",
      u"line\nbreak\r\"quoted\"\\",
      u"C:\\\u65e5\u672c\u8a9e",
  };
  for (const std::u16string& value : values) {
    SCOPED_TRACE(Utf16ToUtf8(value));
    t.registry.WriteValue(kSettingsKeyPath, u"Shared Folder", value);
    EXPECT_EQ(t.GetRaw("Shared Folder"), Utf16ToUtf8(value) + '\0');
    EXPECT_EQ(t.registry.ReadValue(kSettingsKeyPath, u"Shared Folder"), value);
    EXPECT_EQ(t.backend.openKeys, 0);
  }
  // Leading blanks are lost on the way back.
  t.registry.WriteValue(kSettingsKeyPath, u"Shared Folder", u"  abc  ");
  EXPECT_EQ(t.registry.ReadValue(kSettingsKeyPath, u"Shared Folder"), u"abc  ");
  EXPECT_TRUE(t.messageBox.shown.empty());
}

TEST(RegistryWriteValue, NeverStoresAnotherText) {
  // Texts a read could not give back, or the store cannot hold: nothing is
  // stored, the old value stays, and the message names value and text.
  const std::u16string texts[] = {
      std::u16string(255, u'z'),                    // too long for the read buffer
      std::u16string(u"C:\\x") + char16_t(0xDC00),  // a lone surrogate (the POSIX store)
  };
  for (const std::u16string& text : texts) {
    SCOPED_TRACE(Utf16ToUtf8(text));
    TestRegistry t;
    t.CreateSettingsKey();
    t.registry.WriteValue(kSettingsKeyPath, u"Shared Folder", u"C:\\old");
    t.registry.WriteValue(kSettingsKeyPath, u"Shared Folder", text);
    EXPECT_EQ(t.registry.ReadValue(kSettingsKeyPath, u"Shared Folder"), u"C:\\old");
    EXPECT_EQ(t.backend.openKeys, 0);
    ASSERT_EQ(t.messageBox.shown.size(), 1u);
    EXPECT_EQ(t.messageBox.shown[0].text,
              u"\"Shared Folder\" cannot be stored exactly, so it was not changed:\n\n" + text);
  }
}

TEST(RegistryWriteValue, NeverCreatesKeysAndFailsSilently) {
  TestRegistry t;
  const std::string before = testing::ReadFileBytes(t.storePath());
  t.registry.WriteValue(kSettingsKeyPath, u"Start On", u"1");
  EXPECT_EQ(testing::ReadFileBytes(t.storePath()), before);
  EXPECT_EQ(t.registry.ReadValue(kSettingsKeyPath, u"Start On"), u"Error");

  t.CreateSettingsKey();
  t.backend.refuseWrites = true;
  t.registry.WriteValue(kSettingsKeyPath, u"Start On", u"1");
  EXPECT_EQ(t.GetRaw("Start On"), std::nullopt);

  t.backend.refuseWrites = false;
  const int calls = t.backend.calls;
  t.registry.WriteValue(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\", u"Start On", u"1");
  t.registry.WriteValue(u"HKEY_Local_Machine\\SOFTWARE", u"Start On", u"1");
  EXPECT_EQ(t.backend.calls, calls);
  EXPECT_EQ(t.messageBox.shown.size(), 1u);
  EXPECT_EQ(t.GetRaw("Start On"), std::nullopt);
  EXPECT_EQ(t.backend.openKeys, 0);
}

}  // namespace
}  // namespace zuvo
