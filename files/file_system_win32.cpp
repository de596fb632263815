// The Windows file system behind DirRecurse. Until the FindFirstFileExW
// variant lands (see the contract in file_system.h), every folder reads as
// missing: listings give nothing and searches find nothing.
#include <windows.h>

#include "files/dir_recurse.h"
#include "files/file_system.h"

namespace zuvo {

PathStyle NativePathStyle() { return PathStyle::kWindows; }

namespace {

class Win32FileSystem final : public FileSystem {
 public:
  FsStatus OpenFolder(std::u16string_view, FolderHandle&) override { return FsStatus::kNotFound; }
  FsStatus OpenFolderBelow(const FolderHandle&, std::u16string_view, FolderHandle&) override {
    return FsStatus::kNotFound;
  }
  FsStatus ReadFolder(const FolderHandle&, FolderContents& out) override {
    out.clear();
    return FsStatus::kNotFound;
  }

 protected:
  void CloseFolder(FolderHandle&) noexcept override {}
};

}  // namespace

std::unique_ptr<FileSystem> CreatePlatformFileSystem() {
  return std::make_unique<Win32FileSystem>();
}

}  // namespace zuvo
