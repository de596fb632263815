#include "purple/prefs_registry.h"

#include <cstring>

#include "base/text.h"
#include "settings/registry.h"
#include "settings/settings_store.h"

namespace zuvo::purple {
namespace {

constexpr KeyHandle kSettingsKey = 1;

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

class PrefsRegistry : public RegistryBackend {
 public:
  explicit PrefsRegistry(PrefsStore& prefs) : prefs_(prefs) {}

  long OpenKey(RootKey root, const std::string& subKey, KeyAccess, KeyHandle& key) override {
    if (!IsSettingsKey(root, subKey)) return reg::kFileNotFound;
    if (!prefs_.Exists(kPrefsRoot)) return reg::kFileNotFound;
    key = kSettingsKey;
    return reg::kSuccess;
  }

  long QueryValue(KeyHandle key, const std::string& valueName, char* buffer,
                  uint32_t& size) override {
    if (key != kSettingsKey) return reg::kInvalidHandle;
    const Value value = Find(valueName);
    if (!value.pref || !prefs_.Exists(value.pref)) return reg::kFileNotFound;
    std::string data = value.flag ? std::string(prefs_.GetBool(value.pref) ? "1" : "0")
                                  : prefs_.GetString(value.pref);
    data.push_back('\0');
    if (data.size() > size || buffer == nullptr) {
      const bool fits = data.size() <= size;
      size = static_cast<uint32_t>(data.size());
      return fits ? reg::kSuccess : reg::kMoreData;
    }
    std::memcpy(buffer, data.data(), data.size());
    size = static_cast<uint32_t>(data.size());
    return reg::kSuccess;
  }

  long SetValue(KeyHandle key, const std::string& valueName, std::string_view data) override {
    if (key != kSettingsKey) return reg::kInvalidHandle;
    const Value value = Find(valueName);
    if (!value.pref) return reg::kAccessDenied;  // no other values live here
    if (!data.empty() && data.back() == '\0') data.remove_suffix(1);
    if (data.find('\0') != std::string_view::npos) return reg::kInvalidParameter;
    if (value.flag) {
      if (data != "1" && data != "0") return reg::kInvalidParameter;
      prefs_.SetBool(value.pref, data == "1");
    } else {
      prefs_.SetString(value.pref, std::string(data));
    }
    return reg::kSuccess;
  }

  long CloseKey(KeyHandle key) override {
    return key == kSettingsKey ? reg::kSuccess : reg::kInvalidHandle;
  }

  long CreateKey(RootKey root, const std::string& subKey) override {
    // The plug-in adds its preference folder when it loads.
    return IsSettingsKey(root, subKey) && prefs_.Exists(kPrefsRoot) ? reg::kSuccess
                                                                    : reg::kAccessDenied;
  }

  std::string ToNarrow(std::u16string_view text) const override { return Utf16ToUtf8(text); }
  std::u16string FromNarrow(std::string_view text) const override { return Utf8ToUtf16(text); }

 private:
  struct Value {
    const char* pref = nullptr;
    bool flag = false;
  };

  static bool IsSettingsKey(RootKey root, const std::string& subKey) {
    const std::u16string_view path = kSettingsKeyPath;
    const std::u16string_view sub = path.substr(path.find(u'\\') + 1);
    return root == kHkeyLocalMachine && SameIgnoringCase(subKey, Utf16ToUtf8(sub));
  }

  static Value Find(const std::string& name) {
    if (SameIgnoringCase(name, Utf16ToUtf8(kSharedFolderValue))) return {kPrefSharedFolder, false};
    if (SameIgnoringCase(name, Utf16ToUtf8(kStartOnValue))) return {kPrefStartOn, true};
    if (SameIgnoringCase(name, Utf16ToUtf8(kSubFoldersValue))) return {kPrefSubFolders, true};
    return {};
  }

  PrefsStore& prefs_;
};

}  // namespace

std::unique_ptr<RegistryBackend> CreatePrefsRegistry(PrefsStore& prefs) {
  return std::make_unique<PrefsRegistry>(prefs);
}

}  // namespace zuvo::purple
