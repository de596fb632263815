// The Windows file system behind DirRecurse.
#include <windows.h>

#include "files/dir_recurse.h"
#include "files/file_system.h"

namespace zuvo {

PathStyle NativePathStyle() { return PathStyle::kWindows; }

std::unique_ptr<FileSystem> CreatePlatformFileSystem() { return std::make_unique<FileSystem>(); }

}  // namespace zuvo
