// The Windows registry behind the Registry module. Values are read and
// written with the wide calls (RegQueryValueExW, RegSetValueExW), so a
// folder outside the ANSI code page is stored as it is; the registry keeps
// REG_SZ text as UTF-16 whichever call wrote it, so values that the narrow
// calls of older versions wrote read back the same, and narrow readers
// still see the texts their code page can carry. Key paths and value names
// stay narrow (ANSI) text. Only generic Win32 code lives here.
#include <windows.h>

#include "settings/registry_backend.h"

namespace zuvo {
namespace {

// The predefined keys are sign-extended 32-bit values: on 64-bit Windows
// HKEY_LOCAL_MACHINE is 0xFFFFFFFF80000002.
HKEY PredefinedKey(RootKey root) {
  return reinterpret_cast<HKEY>(static_cast<intptr_t>(static_cast<int32_t>(root)));
}

HKEY ToHkey(KeyHandle key) { return reinterpret_cast<HKEY>(key); }

class Win32Registry : public RegistryBackend {
 public:
  long OpenKey(RootKey root, const std::string& subKey, KeyAccess access, KeyHandle& key) override {
    HKEY opened = nullptr;
    const LSTATUS status =
        RegOpenKeyExA(PredefinedKey(root), subKey.c_str(), 0,
                      access == KeyAccess::kRead ? KEY_READ : KEY_WRITE, &opened);
    if (status == ERROR_SUCCESS) key = reinterpret_cast<KeyHandle>(opened);
    return status;
  }

  long QueryValue(KeyHandle key, const std::string& valueName, char16_t* buffer,
                  uint32_t& size) override {
    const std::u16string name = FromNarrow(valueName);
    DWORD type = REG_SZ;
    DWORD bytes = size * sizeof(char16_t);
    const LSTATUS status =
        RegQueryValueExW(ToHkey(key), reinterpret_cast<const wchar_t*>(name.c_str()), nullptr,
                         &type, reinterpret_cast<BYTE*>(buffer), &bytes);
    if (status != ERROR_SUCCESS) return status;
    // An odd last byte (a value that is not text) counts as a whole unit.
    const uint32_t units = (bytes + 1) / sizeof(char16_t);
    // A value stored without its terminating NUL gets one when there is room,
    // so that every caller sees the same shape whatever wrote the value.
    if (units < size && (units == 0 || buffer[units - 1] != u'\0')) buffer[units] = u'\0';
    size = units;
    return status;
  }

  long SetValue(KeyHandle key, const std::string& valueName, std::u16string_view data) override {
    const std::u16string name = FromNarrow(valueName);
    return RegSetValueExW(ToHkey(key), reinterpret_cast<const wchar_t*>(name.c_str()), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(data.data()),
                          static_cast<DWORD>(data.size() * sizeof(char16_t)));
  }

  long CloseKey(KeyHandle key) override { return RegCloseKey(ToHkey(key)); }

  long CreateKey(RootKey root, const std::string& subKey) override {
    HKEY created = nullptr;
    const LSTATUS status = RegCreateKeyExA(PredefinedKey(root), subKey.c_str(), 0, nullptr, 0,
                                           KEY_WRITE, nullptr, &created, nullptr);
    if (status == ERROR_SUCCESS) RegCloseKey(created);
    return status;
  }

  // Characters the ANSI code page cannot hold become its default character;
  // no best-fit look-alikes (a best-fit could turn a character into "\" and
  // so change which key is meant).
  std::string ToNarrow(std::u16string_view text) const override {
    if (text.empty()) return {};
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int count = static_cast<int>(text.size());
    const int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, count, nullptr, 0,
                                          nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, count, out.data(), bytes, nullptr,
                        nullptr);
    return out;
  }

  std::u16string FromNarrow(std::string_view text) const override {
    if (text.empty()) return {};
    const int count = static_cast<int>(text.size());
    const int chars = MultiByteToWideChar(CP_ACP, 0, text.data(), count, nullptr, 0);
    std::u16string out(static_cast<size_t>(chars), u'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), count, reinterpret_cast<wchar_t*>(out.data()),
                        chars);
    return out;
  }
};

}  // namespace

std::unique_ptr<RegistryBackend> OpenPlatformRegistry(const std::string&) {
  return std::make_unique<Win32Registry>();
}

}  // namespace zuvo
