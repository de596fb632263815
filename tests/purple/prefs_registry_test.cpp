// The libpurple host's own rules: the reply limit, who may ask and how
// often, which transfers are taken without asking, and the settings on
// preferences.
#include <gtest/gtest.h>

#include <map>

#include "base/message_box.h"
#include "base/text.h"
#include "purple/awaited_files.h"
#include "purple/prefs_registry.h"
#include "purple/reply_limit.h"
#include "purple/request_gate.h"
#include "settings/registry.h"
#include "settings/settings_store.h"

namespace zuvo::purple {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

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
  using V = RequestGate::Verdict;

  EXPECT_EQ(gate.Admit("eve", false, false, t0).verdict, V::kStranger);

  // One listing at a time; other requests go on meanwhile.
  EXPECT_EQ(gate.Admit("bob", true, true, t0).verdict, V::kAnswer);
  const RequestGate::Decision busy = gate.Admit("bob", true, true, t0);
  EXPECT_EQ(busy.verdict, V::kBusy);
  EXPECT_TRUE(busy.first);
  EXPECT_EQ(gate.Admit("bob", true, false, t0).verdict, V::kAnswer);
  gate.ListingDone("bob");

  // The bucket is empty now: turned away, told once, then refilled.
  const RequestGate::Decision fast = gate.Admit("bob", true, true, t0);
  EXPECT_EQ(fast.verdict, V::kTooFast);
  EXPECT_TRUE(fast.first);
  EXPECT_FALSE(gate.Admit("bob", true, true, t0).first);
  EXPECT_EQ(gate.Admit("bob", true, true, t0 + 1s).verdict, V::kAnswer);

  // Many senders keep a bounded state.
  for (int i = 0; i < 100; ++i) gate.Admit("s" + std::to_string(i), true, false, t0 + 2s);
  EXPECT_LE(gate.senders(), limits.maxSenders);
}

TEST(AwaitedFiles, OnlyTheFileAskedForFromThatContactRecently) {
  AwaitedFiles awaited;
  const Clock::time_point t0 = Clock::now();
  EXPECT_EQ(AwaitedFiles::FileNameOf(u"C:\\share\\a.txt"), u"a.txt");
  awaited.Expect("bob", u"/home/bob/Public/docs/notes.txt", t0);
  awaited.Expect("bob", u"/home/bob/Public/old.txt", t0);
  EXPECT_FALSE(awaited.Take("eve", u"notes.txt", t0));
  EXPECT_FALSE(awaited.Take("bob", u"other.txt", t0));
  EXPECT_TRUE(awaited.Take("bob", u"NOTES.txt", t0 + 1min));
  EXPECT_FALSE(awaited.Take("bob", u"notes.txt", t0 + 1min));  // used up
  EXPECT_FALSE(awaited.Take("bob", u"old.txt", t0 + 11min));   // too late
  for (int i = 0; i < 200; ++i) awaited.Expect("bob", u"/x" + DecimalText(i), t0);
  EXPECT_LE(awaited.size(), AwaitedFiles::kMaxAwaited);
}

// ---- Settings on preferences --------------------------------------------------

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
