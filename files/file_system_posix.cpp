#include "files/dir_recurse.h"
#include "files/file_system.h"

namespace zuvo {

PathStyle NativePathStyle() { return PathStyle::kPosix; }

std::unique_ptr<FileSystem> CreatePlatformFileSystem() { return std::make_unique<FileSystem>(); }

}  // namespace zuvo
