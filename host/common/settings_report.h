// What the stored sharing settings mean for the user, in words. The
// libpurple host shows these texts when the plug-in starts and when the
// settings are applied (purple/settings_notices.h); every host's session
// shows the warning after /xron and /xrstatus (plugin_session.h):
//
//   - the line that confirms what is now stored, e.g.
//     "Zuvo File Sharing settings saved: sharing /home/bob/Public and its
//     sub-folders; sharing is on when the plug-in starts.";
//   - the warning when sharing is on (now, or from the next start) but
//     shares nothing: no folder, a folder that is not a full path, a folder
//     that does not exist, or a path that is not a folder. The plug-in's
//     access rules share nothing in each of these cases, and its answers
//     do not say why, so this warning is where the user learns it.
//
// The folder is judged as the file system sees it now (links followed).
#pragma once

#include <optional>
#include <string>

namespace zuvo {

struct SharingSettings {
  std::string folder;  // "Shared Folder", UTF-8
  bool startOn = false;
  bool subFolders = false;

  bool operator==(const SharingSettings&) const = default;
};

enum class FolderProblem {
  kNone,       // a full path to a folder
  kEmpty,      // no folder chosen
  kRelative,   // not a full path: shares nothing
  kMissing,    // nothing there
  kNotFolder,  // something that is not a folder
};

FolderProblem CheckSharedFolder(const std::string& folder);

// "Zuvo File Sharing settings saved: ..." in one line.
std::string SavedLine(const SharingSettings& settings);

// The warning, when sharing is on now (|onNow|) or starts on and the folder
// has |problem|; nothing otherwise.
std::optional<std::string> SharingWarning(bool onNow, const SharingSettings& settings,
                                          FolderProblem problem);

}  // namespace zuvo
