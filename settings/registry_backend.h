// The registry seam: the four registry calls the Registry module makes, with
// the platform's own status codes. Key paths and value names cross it as
// narrow text (ToNarrow); value data crosses it as UTF-16 text, so that any
// text comes back exactly. The Win32 variant (registry_win32.cpp) forwards
// to RegOpenKeyExA, RegQueryValueExW, RegSetValueExW and RegCloseKey; the
// POSIX variant (registry_posix.cpp) is a registry stand-in kept in one text
// file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace zuvo {

// A predefined root key, by its platform handle value (0x80000000 ...).
using RootKey = uint32_t;
using KeyHandle = uintptr_t;

namespace reg {
inline constexpr long kSuccess = 0;            // ERROR_SUCCESS
inline constexpr long kFileNotFound = 2;       // ERROR_FILE_NOT_FOUND
inline constexpr long kAccessDenied = 5;       // ERROR_ACCESS_DENIED
inline constexpr long kInvalidHandle = 6;      // ERROR_INVALID_HANDLE
inline constexpr long kInvalidParameter = 87;  // ERROR_INVALID_PARAMETER
inline constexpr long kMoreData = 234;         // ERROR_MORE_DATA
inline constexpr long kWriteFault = 29;        // ERROR_WRITE_FAULT
inline constexpr long kBadDb = 1009;           // ERROR_BADDB: the store is corrupt
// ERROR_NO_UNICODE_TRANSLATION: the store cannot hold this text exactly
inline constexpr long kNoUnicodeTranslation = 1113;
inline constexpr uint32_t kRegSz = 1;  // REG_SZ
}  // namespace reg

enum class KeyAccess { kRead, kWrite };

class RegistryBackend {
 public:
  virtual ~RegistryBackend() = default;

  // RegOpenKeyExA: opens an existing key; never creates one.
  virtual long OpenKey(RootKey root, const std::string& subKey, KeyAccess access,
                       KeyHandle& key) = 0;
  // RegQueryValueExW: copies the value's text into |buffer| (capacity |size|
  // UTF-16 units), adding a terminating NUL when the stored text lacks one
  // and there is room; sets |size| to the unit count. kMoreData when it does
  // not fit. Values stored as narrow text (by older versions) read as their
  // UTF-16 text.
  virtual long QueryValue(KeyHandle key, const std::string& valueName, char16_t* buffer,
                          uint32_t& size) = 0;
  // RegSetValueExW with REG_SZ: stores exactly |data|, or nothing and
  // kNoUnicodeTranslation when the store cannot hold it exactly.
  virtual long SetValue(KeyHandle key, const std::string& valueName, std::u16string_view data) = 0;
  // RegCloseKey.
  virtual long CloseKey(KeyHandle key) = 0;

  // RegCreateKeyExA: creates the key (and its parents) when missing. The
  // plug-in itself never creates keys; this is for the host, which owns the
  // plug-in's settings key.
  virtual long CreateKey(RootKey root, const std::string& subKey) = 0;

  // The narrow code page of key paths and value names (the ANSI code page on
  // Windows, UTF-8 on POSIX).
  virtual std::string ToNarrow(std::u16string_view text) const = 0;
  virtual std::u16string FromNarrow(std::string_view text) const = 0;
};

// The platform's registry. On Windows the system registry (|storePath| is
// ignored); on POSIX the registry stand-in kept in the text file |storePath|,
// created empty when missing. Throws std::runtime_error when the store
// exists but cannot be read or parsed (it is then left untouched).
std::unique_ptr<RegistryBackend> OpenPlatformRegistry(const std::string& storePath);

}  // namespace zuvo
