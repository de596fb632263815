// The path-resolver seam of the access rules: what the file system holds at
// one path, looked at without following a final link. PathAccess walks a
// path component by component through it, the way the file system resolves
// the path when the host opens it. Variants: path_resolver_posix.cpp (lstat
// and readlink), path_resolver_win32.cpp (reparse points and short names).
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace zuvo {

struct PathNode {
  enum class Kind {
    kMissing,    // nothing there (or a parent is not a folder)
    kDirectory,  // a folder
    kOther,      // a file or any other entry that is not followed
    kLink,       // an entry that the file system follows to |target|
    kError,      // the entry cannot be examined; the path is refused
  };
  Kind kind = Kind::kError;
  // kLink only: where the link leads, as the link stores it (relative to the
  // link's own folder, or absolute). The Windows variant also reports an 8.3
  // short name as a link to the entry's long-name path.
  std::u16string target;
};

class PathResolver {
 public:
  virtual ~PathResolver() = default;
  // Looks at |path|, an absolute path in the platform's form whose every
  // component except the last is already free of links, "." and "..".
  virtual PathNode Inspect(std::u16string_view path) = 0;
};

std::unique_ptr<PathResolver> CreatePlatformPathResolver();

}  // namespace zuvo
