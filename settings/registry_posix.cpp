// POSIX registry stand-in. (Placeholder: an in-memory store until the file
// store lands.)
#include <map>
#include <set>

#include "base/text.h"
#include "settings/registry_backend.h"

namespace zuvo {
namespace {

class MemoryRegistry : public RegistryBackend {
 public:
  long OpenKey(RootKey root, const std::string& subKey, KeyAccess, KeyHandle& key) override {
    auto it = keys_.find({root, subKey});
    if (it == keys_.end()) return reg::kFileNotFound;
    key = reinterpret_cast<KeyHandle>(&*it);
    return reg::kSuccess;
  }
  long QueryValue(KeyHandle key, const std::string& name, char* buffer, uint32_t& size) override {
    auto& k = *reinterpret_cast<const std::pair<RootKey, std::string>*>(key);
    auto it = values_.find({k, name});
    if (it == values_.end()) return reg::kFileNotFound;
    const std::string& data = it->second;
    const bool addNul = data.empty() || data.back() != '\0';
    if (data.size() > size) return reg::kMoreData;
    data.copy(buffer, data.size());
    if (addNul && data.size() < size) buffer[data.size()] = '\0';
    size = static_cast<uint32_t>(data.size());
    return reg::kSuccess;
  }
  long SetValue(KeyHandle key, const std::string& name, std::string_view data) override {
    auto& k = *reinterpret_cast<const std::pair<RootKey, std::string>*>(key);
    values_[{k, name}] = std::string(data);
    return reg::kSuccess;
  }
  long CloseKey(KeyHandle) override { return reg::kSuccess; }
  long CreateKey(RootKey root, const std::string& subKey) override {
    keys_.insert({root, subKey});
    return reg::kSuccess;
  }
  std::string ToNarrow(std::u16string_view text) const override { return Utf16ToUtf8(text); }
  std::u16string FromNarrow(std::string_view text) const override { return Utf8ToUtf16(text); }

 private:
  std::set<std::pair<RootKey, std::string>> keys_;
  std::map<std::pair<std::pair<RootKey, std::string>, std::string>, std::string> values_;
};

}  // namespace

std::unique_ptr<RegistryBackend> OpenPlatformRegistry(const std::string&) {
  return std::make_unique<MemoryRegistry>();
}

}  // namespace zuvo
