// The libpurple host's own part: the settings on preferences. What it
// decides with the plug-in is the session's (tests/host/plugin_session_test.cpp).
#include <gtest/gtest.h>

#include <map>

#include "base/message_box.h"
#include "base/text.h"
#include "purple/prefs_registry.h"
#include "settings/registry.h"
#include "settings/settings_store.h"

namespace zuvo::purple {
namespace {

class MapPrefs : public PrefsStore {
 public:
  bool Exists(const std::string& name) const override {
    return name == kPrefsRoot || strings.count(name) || flags.count(name);
  }
  std::string GetString(const std::string& name) const override { return strings.at(name); }
  void SetString(const std::string& name, const std::string& value) override {
    strings[name] = value;
  }
  bool GetBool(const std::string& name) const override { return flags.at(name); }
  void SetBool(const std::string& name, bool value) override { flags[name] = value; }

  std::map<std::string, std::string> strings;
  std::map<std::string, bool> flags;
};

class NoBox : public MessageBoxSeam {
 public:
  void Show(const std::u16string&, const std::u16string&) override {}
};

TEST(PrefsRegistry, TheThreeSettingsAreTypedPreferences) {
  MapPrefs prefs;
  prefs.strings[kPrefSharedFolder] = "/home/ann/Public";
  prefs.flags[kPrefStartOn] = true;
  std::unique_ptr<RegistryBackend> backend = CreatePrefsRegistry(prefs);
  NoBox box;
  Registry registry(*backend, box);

  EXPECT_EQ(registry.ReadValue(kSettingsKeyPath, kSharedFolderValue), u"/home/ann/Public");
  EXPECT_EQ(registry.ReadValue(kSettingsKeyPath, kStartOnValue), u"1");
  EXPECT_EQ(registry.ReadValue(kSettingsKeyPath, kSubFoldersValue), u"Error");  // not added
  EXPECT_EQ(registry.ReadValue(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Other", kStartOnValue), u"Error");

  registry.WriteValue(kSettingsKeyPath, kSharedFolderValue, u"/srv/caf\u00E9");
  registry.WriteValue(kSettingsKeyPath, kStartOnValue, u"0");
  registry.WriteValue(kSettingsKeyPath, kSubFoldersValue, u"Error");  // not a switch: refused
  registry.WriteValue(kSettingsKeyPath, u"Other", u"x");
  registry.WriteValue(kSettingsKeyPath, kSharedFolderValue, u"/lone\xD800");  // not kept
  EXPECT_EQ(prefs.strings[kPrefSharedFolder], "/srv/caf\xC3\xA9");
  EXPECT_FALSE(prefs.flags[kPrefStartOn]);
  EXPECT_EQ(prefs.flags.count(kPrefSubFolders), 0u);
  EXPECT_EQ(prefs.strings.size(), 1u);
  EXPECT_EQ(registry.ReadValue(kSettingsKeyPath, kSharedFolderValue), u"/srv/caf\u00E9");
}

}  // namespace
}  // namespace zuvo::purple
