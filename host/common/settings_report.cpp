#include "host/common/settings_report.h"

#include <filesystem>
#include <system_error>

#include "base/text.h"

namespace zuvo {
namespace {

constexpr char kChoose[] = ": choose one with /xroptions.";

// The folder as one line: a stored text may hold anything.
std::string Shown(const std::string& folder) { return PrintableText(Utf8ToUtf16(folder)); }

}  // namespace

FolderProblem CheckSharedFolder(const std::string& folder) {
  if (folder.empty()) return FolderProblem::kEmpty;
  const std::filesystem::path path(Utf8ToUtf16(folder));
  if (!path.is_absolute()) return FolderProblem::kRelative;
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (status.type() == std::filesystem::file_type::not_found) return FolderProblem::kMissing;
  // A folder that cannot be looked at (no permission on the way) is left to
  // the listings, which say nothing worse than an empty share.
  if (error) return FolderProblem::kNone;
  return std::filesystem::is_directory(status) ? FolderProblem::kNone : FolderProblem::kNotFolder;
}

std::string SavedLine(const SharingSettings& settings) {
  std::string line = "Zuvo File Sharing settings saved: ";
  if (settings.folder.empty()) {
    line += "no shared folder";
  } else {
    line += "shared folder " + Shown(settings.folder) +
            (settings.subFolders ? ", with its sub-folders" : ", without its sub-folders");
  }
  return line + (settings.startOn ? "; sharing on at start." : "; sharing off at start.");
}

std::optional<std::string> SharingWarning(bool onNow, const SharingSettings& settings,
                                          FolderProblem problem) {
  if (problem == FolderProblem::kNone || (!onNow && !settings.startOn)) return std::nullopt;
  std::string line = onNow ? "Zuvo File Sharing is on, but " : "Zuvo File Sharing starts on, but ";
  const std::string folder = Shown(settings.folder);
  switch (problem) {
    case FolderProblem::kEmpty:
      return line + "no folder is shared" + kChoose;
    case FolderProblem::kRelative:
      return line + "the shared folder \"" + folder +
             "\" is not a full path, so nothing is shared" + kChoose;
    case FolderProblem::kMissing:
      return line + "the shared folder " + folder + " does not exist, so nothing is shared" +
             kChoose;
    case FolderProblem::kNotFolder:
      return line + "the shared folder " + folder + " is not a folder, so nothing is shared" +
             kChoose;
    case FolderProblem::kNone:
      break;
  }
  return std::nullopt;
}

}  // namespace zuvo
