// Registry: the plug-in's only gateway to persistent storage. Each call opens
// the named key, reads or writes one text value and closes the key again;
// keys are never created. Values are UTF-16 text (REG_SZ). Reads never fail
// visibly: a key or value that cannot be read gives "Error". Writes fail
// silently, except that a value is never lost without a word: one too long
// for a read to give back, or one the store cannot hold exactly, is not
// stored, and the user is told.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/message_box.h"
#include "settings/registry_backend.h"

namespace zuvo {

inline constexpr RootKey kHkeyClassesRoot = 0x80000000;
inline constexpr RootKey kHkeyCurrentUser = 0x80000001;
inline constexpr RootKey kHkeyLocalMachine = 0x80000002;
inline constexpr RootKey kHkeyUsers = 0x80000003;
inline constexpr RootKey kHkeyPerformanceData = 0x80000004;
inline constexpr RootKey kHkeyCurrentConfig = 0x80000005;
inline constexpr RootKey kHkeyDynData = 0x80000006;

// What a read gives for a key or value that cannot be read.
inline constexpr std::u16string_view kRegistryReadFailed = u"Error";

// Size of the buffer a read hands to the platform, in UTF-16 units: a value
// of up to 254 characters (and its terminating NUL) can be read.
inline constexpr uint32_t kReadBufferSize = 255;

class Registry {
 public:
  Registry(RegistryBackend& backend, MessageBoxSeam& messageBox)
      : backend_(backend), messageBox_(messageBox) {}

  struct KeyPath {
    RootKey root = 0;  // 0: no root key (malformed path or unknown root name)
    std::u16string subKey;
  };

  // The predefined key for a root name ("HKEY_LOCAL_MACHINE" ...), matched
  // exactly; 0 for any other name.
  static RootKey RootKeyFromName(std::u16string_view name);

  // Checks the form of a full key path and splits it at its first backslash.
  // A malformed path shows the "Incorrect Format:" message and gives root 0.
  KeyPath SplitKeyPath(std::u16string_view path);

  std::u16string ReadValue(std::u16string_view keyPath, std::u16string_view valueName);
  // The same read for a host, which needs to tell a value that cannot be
  // read from one that reads "Error": nothing where ReadValue gives "Error"
  // (or, for a malformed path, the empty text).
  std::optional<std::u16string> ReadStoredValue(std::u16string_view keyPath,
                                                std::u16string_view valueName);

  // Stores |value| under |valueName| in the existing key. A value too long
  // for the read buffer (it would read as "Error") or that the store cannot
  // hold exactly is not stored: a message names the value and shows the
  // text instead, and the stored value stays as it was.
  void WriteValue(std::u16string_view keyPath, std::u16string_view valueName,
                  std::u16string_view value);

  // Whether ReadValue can give |value| back once it is stored (its leading
  // blanks aside, which a read trims).
  static bool FitsReadBuffer(std::u16string_view value) { return value.size() < kReadBufferSize; }

 private:
  std::optional<std::u16string> ReadKeyValue(const KeyPath& key, std::u16string_view valueName);

  RegistryBackend& backend_;
  MessageBoxSeam& messageBox_;
};

}  // namespace zuvo
