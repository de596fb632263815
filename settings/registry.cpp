#include "settings/registry.h"

#include <array>

#include "base/text.h"

namespace zuvo {
namespace {

void ReportNotStored(MessageBoxSeam& messageBox, std::u16string_view valueName,
                     std::u16string_view value) {
  std::u16string text = u"\"";
  text += valueName;
  text += u"\" cannot be stored exactly, so it was not changed:";
  text += kLF;
  text += kLF;
  text += value;
  messageBox.Show(text, kDefaultMessageBoxTitle);
}

// Closes an opened key on every path out of a call.
class ScopedKey {
 public:
  explicit ScopedKey(RegistryBackend& backend) : backend_(backend) {}
  ~ScopedKey() {
    if (open_) backend_.CloseKey(key_);
  }
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;

  bool Open(RootKey root, const std::string& subKey, KeyAccess access) {
    open_ = backend_.OpenKey(root, subKey, access, key_) == reg::kSuccess;
    return open_;
  }
  KeyHandle get() const { return key_; }

 private:
  RegistryBackend& backend_;
  KeyHandle key_ = 0;
  bool open_ = false;
};

}  // namespace

RootKey Registry::RootKeyFromName(std::u16string_view name) {
  static constexpr std::pair<std::u16string_view, RootKey> kRoots[] = {
      {u"HKEY_CLASSES_ROOT", kHkeyClassesRoot},
      {u"HKEY_CURRENT_USER", kHkeyCurrentUser},
      {u"HKEY_LOCAL_MACHINE", kHkeyLocalMachine},
      {u"HKEY_USERS", kHkeyUsers},
      {u"HKEY_PERFORMANCE_DATA", kHkeyPerformanceData},
      {u"HKEY_CURRENT_CONFIG", kHkeyCurrentConfig},
      {u"HKEY_DYN_DATA", kHkeyDynData},
  };
  for (const auto& [rootName, key] : kRoots) {
    if (rootName == name) return key;
  }
  return 0;
}

Registry::KeyPath Registry::SplitKeyPath(std::u16string_view path) {
  KeyPath result;
  if (path.substr(0, 5) != u"HKEY_" || path.back() == u'\\') {
    std::u16string text = u"Incorrect Format:";
    text += kLF;
    text += kLF;
    text += path;
    messageBox_.Show(text, kDefaultMessageBoxTitle);
    return result;
  }
  const size_t slash = path.find(u'\\');
  if (slash == std::u16string_view::npos) {
    result.root = RootKeyFromName(path);
  } else {
    result.root = RootKeyFromName(path.substr(0, slash));
    result.subKey = path.substr(slash + 1);
  }
  return result;
}

std::u16string Registry::ReadValue(std::u16string_view keyPath, std::u16string_view valueName) {
  const KeyPath key = SplitKeyPath(keyPath);
  if (key.root == 0) return {};
  return ReadKeyValue(key, valueName).value_or(std::u16string(kRegistryReadFailed));
}

std::optional<std::u16string> Registry::ReadStoredValue(std::u16string_view keyPath,
                                                        std::u16string_view valueName) {
  const KeyPath key = SplitKeyPath(keyPath);
  if (key.root == 0) return std::nullopt;
  return ReadKeyValue(key, valueName);
}

std::optional<std::u16string> Registry::ReadKeyValue(const KeyPath& key,
                                                     std::u16string_view valueName) {
  ScopedKey opened(backend_);
  if (!opened.Open(key.root, backend_.ToNarrow(key.subKey), KeyAccess::kRead)) {
    return std::nullopt;
  }
  std::array<char16_t, kReadBufferSize> buffer;
  buffer.fill(u' ');
  uint32_t size = kReadBufferSize;
  const long status =
      backend_.QueryValue(opened.get(), backend_.ToNarrow(valueName), buffer.data(), size);
  if (status != reg::kSuccess) return std::nullopt;

  // The whole buffer is the text: the value's characters, its terminating NUL,
  // then the blanks the platform did not overwrite. Blanks are trimmed from
  // both ends, and the last character left, the NUL, is dropped.
  std::u16string_view text(buffer.data(), buffer.size());
  const size_t first = text.find_first_not_of(u' ');
  if (first == std::u16string_view::npos) return std::u16string();
  const size_t last = text.find_last_not_of(u' ');
  text = text.substr(first, last - first + 1);
  text.remove_suffix(1);
  return std::u16string(text);
}

void Registry::WriteValue(std::u16string_view keyPath, std::u16string_view valueName,
                          std::u16string_view value) {
  const KeyPath key = SplitKeyPath(keyPath);
  if (key.root == 0) return;
  if (!FitsReadBuffer(value)) {
    ReportNotStored(messageBox_, valueName, value);
    return;
  }

  ScopedKey opened(backend_);
  if (!opened.Open(key.root, backend_.ToNarrow(key.subKey), KeyAccess::kWrite)) return;
  // The value is stored with its terminating NUL, as a registry editor
  // stores text: a read then returns every character of it, also when it
  // fills the read buffer.
  std::u16string data(value);
  data.push_back(u'\0');
  if (backend_.SetValue(opened.get(), backend_.ToNarrow(valueName), data) ==
      reg::kNoUnicodeTranslation) {
    ReportNotStored(messageBox_, valueName, value);
  }
}

}  // namespace zuvo
