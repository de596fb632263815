// The plug-in's settings key on libpurple's preferences: a registry back end
// beside the Windows registry and the POSIX store. The one key the plug-in
// opens (its settings key) is the preference folder
// "/plugins/core/zuvo-file-sharing", and its three values are preferences
// there:
//
//   "Shared Folder"  ->  "shared_folder"  string
//   "Start On"       ->  "start_on"       bool, read as "1" or "0"
//   "Sub Folders"    ->  "sub_folders"    bool, read as "1" or "0"
//
// A switch takes only "1" or "0"; any other text is refused as an invalid
// parameter (the registry's writer then keeps the stored value). Every other
// key or value does not exist. The preferences themselves sit behind
// PrefsStore, so this mapping is the same in the plug-in and in its tests.
#pragma once

#include <memory>
#include <string>

#include "settings/registry_backend.h"

namespace zuvo::purple {

inline constexpr char kPrefsRoot[] = "/plugins/core/zuvo-file-sharing";
inline constexpr char kPrefSharedFolder[] = "/plugins/core/zuvo-file-sharing/shared_folder";
inline constexpr char kPrefStartOn[] = "/plugins/core/zuvo-file-sharing/start_on";
inline constexpr char kPrefSubFolders[] = "/plugins/core/zuvo-file-sharing/sub_folders";
inline constexpr char kPrefDownloads[] = "/plugins/core/zuvo-file-sharing/downloads";
inline constexpr char kPrefMaxReplyLines[] = "/plugins/core/zuvo-file-sharing/max_reply_lines";
inline constexpr char kPrefAnswerEveryone[] = "/plugins/core/zuvo-file-sharing/answer_everyone";

// Typed preferences by full name (libpurple's purple_prefs_*).
class PrefsStore {
 public:
  virtual ~PrefsStore() = default;
  virtual bool Exists(const std::string& name) const = 0;
  virtual std::string GetString(const std::string& name) const = 0;
  virtual void SetString(const std::string& name, const std::string& value) = 0;
  virtual bool GetBool(const std::string& name) const = 0;
  virtual void SetBool(const std::string& name, bool value) = 0;
};

std::unique_ptr<RegistryBackend> CreatePrefsRegistry(PrefsStore& prefs);

}  // namespace zuvo::purple
