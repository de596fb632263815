#include "host/common/settings_key.h"

#include "base/message_box.h"
#include "base/text.h"
#include "settings/registry.h"
#include "settings/settings_store.h"

namespace zuvo {
namespace {

// A silent message box for the host's own registry calls.
class NoMessageBox : public MessageBoxSeam {
 public:
  void Show(const std::u16string&, const std::u16string&) override {}
};

// The settings key below its root, in the registry's narrow text.
std::string SettingsSubKey(RegistryBackend& registry) {
  const std::u16string_view path = kSettingsKeyPath;
  return registry.ToNarrow(std::u16string(path.substr(path.find(u'\\') + 1)));
}

}  // namespace

long CreateSettingsKey(RegistryBackend& registry) {
  return registry.CreateKey(kHkeyLocalMachine, SettingsSubKey(registry));
}

long StoreSettingsText(RegistryBackend& registry, const std::string& name,
                       const std::string& value) {
  KeyHandle key = 0;
  long status =
      registry.OpenKey(kHkeyLocalMachine, SettingsSubKey(registry), KeyAccess::kWrite, key);
  if (status != reg::kSuccess) return status;
  std::u16string data = Utf8ToUtf16(value);
  data.push_back(u'\0');
  status = registry.SetValue(key, registry.ToNarrow(Utf8ToUtf16(name)), data);
  registry.CloseKey(key);
  return status;
}

std::string PrepareSettings(RegistryBackend& backend, const HostSettings& settings) {
  NoMessageBox box;
  Registry registry(backend, box);
  std::string done;
  KeyHandle handle = 0;
  if (backend.OpenKey(kHkeyLocalMachine, SettingsSubKey(backend), KeyAccess::kRead, handle) ==
      reg::kSuccess) {
    backend.CloseKey(handle);
  } else {
    CreateSettingsKey(backend);
    done += "created the settings key; ";
  }
  auto missing = [&](const char16_t* name) {
    return !registry.ReadStoredValue(kSettingsKeyPath, name).has_value();
  };
  if (settings.sharedFolder && missing(kSharedFolderValue)) {
    registry.WriteValue(kSettingsKeyPath, kSharedFolderValue, *settings.sharedFolder);
    done += "stored the shared folder; ";
  }
  for (const char16_t* name : {kStartOnValue, kSubFoldersValue}) {
    if (missing(name)) {
      registry.WriteValue(kSettingsKeyPath, name, u"1");
      done += "stored \"" + Utf16ToUtf8(name) + "\" = 1; ";
    }
  }
  return done;
}

std::optional<std::u16string> StoredSharedFolder(RegistryBackend& backend) {
  NoMessageBox box;
  Registry registry(backend, box);
  return registry.ReadStoredValue(kSettingsKeyPath, kSharedFolderValue);
}

}  // namespace zuvo
