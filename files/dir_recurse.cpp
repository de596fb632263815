#include "files/dir_recurse.h"

namespace zuvo {

// Placeholder bodies until the folder walk lands.
std::u16string DirRecurse::NormalizePath(std::u16string_view path) const {
  return std::u16string(path);
}
void DirRecurse::ListFiles(PathList&, std::u16string_view, std::u16string_view) {}
void DirRecurse::ListFilesRecursive(PathList&, std::u16string_view, std::u16string_view) {}
void DirRecurse::ListSubFolders(PathList&, std::u16string_view) {}
std::u16string DirRecurse::FindFileInTree(std::u16string&, std::u16string&) { return {}; }

}  // namespace zuvo
