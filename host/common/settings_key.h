// The plug-in's settings key as a host prepares it before it starts the
// plug-in: the add-on owns the key and creates it; the plug-in only reads
// and writes values in it.
#pragma once

#include <optional>
#include <string>

#include "settings/registry_backend.h"

namespace zuvo {

// The settings store every host command opens unless told otherwise.
inline constexpr char kDefaultSettingsStore[] = "zuvo-settings.reg";

// Creates the plug-in's settings key (kept as it is when it exists); the
// registry's status.
long CreateSettingsKey(RegistryBackend& registry);

// Stores |value| (UTF-8) as the settings value |name|, with its terminating
// NUL as a registry editor stores text; the registry's status
// (reg::kFileNotFound when the key does not exist).
long StoreSettingsText(RegistryBackend& registry, const std::string& name,
                       const std::string& value);

// The values a host stores for a user before the first start.
struct HostSettings {
  std::optional<std::u16string> sharedFolder;  // stored unless one is stored already
};

// Creates the settings key when missing and stores the shared folder and
// the two switches ("1") when they are missing. Returns a line describing
// what was done.
std::string PrepareSettings(RegistryBackend& registry, const HostSettings& settings);

// The stored "Shared Folder" value as the plug-in reads it; nothing when it
// cannot be read.
std::optional<std::u16string> StoredSharedFolder(RegistryBackend& registry);

}  // namespace zuvo
