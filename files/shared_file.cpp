#include "files/shared_file.h"

#include <optional>
#include <string>

namespace zuvo {

SharedFile& SharedFile::operator=(SharedFile&& other) noexcept {
  if (this != &other) {
    Close();
    file_ = other.file_;
    size_ = other.size_;
    other.file_ = nullptr;
    other.size_ = 0;
  }
  return *this;
}

std::FILE* SharedFile::release() {
  std::FILE* file = file_;
  file_ = nullptr;
  size_ = 0;
  return file;
}

void SharedFile::Close() noexcept {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  size_ = 0;
}

FsStatus OpenSharedFile(DirRecurse& files, const PathAccess& access, std::u16string_view share,
                        std::u16string_view path, SharedFile& out) {
  out.Close();
  const std::optional<ResolvedPath> root = access.ResolveShare(share);
  if (!root) return FsStatus::kBadPath;
  const std::optional<std::u16string> below = access.PathBelow(path, *root);
  if (!below) return FsStatus::kBadPath;
  if (below->empty()) return FsStatus::kNotFound;  // the shared folder itself
  FolderHandle folder;
  const FsStatus opened = files.OpenBeneath({share, {}}, folder);
  if (opened != FsStatus::kOk) return opened;
  return files.fileSystem().OpenFileBelow(folder, *below, out.file_, out.size_);
}

}  // namespace zuvo
