// DirRecurse: turns a folder into an ordered list of full paths, and finds
// one file by name below a folder. The listings only append to the caller's
// list; nothing is sorted or de-duplicated.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "files/file_system.h"

namespace zuvo {

using PathList = std::vector<std::u16string>;

// How paths are written: Windows ("\" separator, "/" accepted and converted)
// or POSIX ("/" separator, "\" an ordinary name character).
enum class PathStyle { kWindows, kPosix };

// The style of the platform the build targets.
PathStyle NativePathStyle();

class DirRecurse {
 public:
  DirRecurse(FileSystem& fs, EventPump& pump, PathStyle style)
      : fs_(fs), pump_(pump), style_(style) {}

  PathStyle style() const { return style_; }
  char16_t separator() const { return style_ == PathStyle::kWindows ? u'\\' : u'/'; }

  std::u16string NormalizePath(std::u16string_view path) const;

  // The files directly in |folder| that match the ";"-separated |patterns|,
  // grouped by pattern piece. Absorbs its errors.
  void ListFiles(PathList& list, std::u16string_view folder, std::u16string_view patterns);
  // As ListFiles for |folder| and then, depth first in pre-order, for every
  // folder below it. Absorbs its errors.
  void ListFilesRecursive(PathList& list, std::u16string_view folder, std::u16string_view patterns);
  // The folders directly in |folder|. Passes its errors on (PluginError).
  void ListSubFolders(PathList& list, std::u16string_view folder);
  // The full path of one file named |fileName| below |rootFolder|, or the
  // empty text. Passes its errors on (PluginError).
  std::u16string FindFileInTree(std::u16string& fileName, std::u16string& rootFolder);

 private:
  FileSystem& fs_;
  EventPump& pump_;
  PathStyle style_;
};

}  // namespace zuvo
