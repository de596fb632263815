// A file a contact asked for, opened for reading through the shared folder's
// own folder: the path is judged by the access rules (PathAccess), and the
// file is then opened beneath the open shared folder, name by name, never
// through a link (FileSystem::OpenFileBelow). What was judged is what is
// read: a sender reads from the open file, never opens the path again.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>

#include "files/dir_recurse.h"
#include "files/path_access.h"

namespace zuvo {

// An open regular file, for reading. Move-only; closes what it holds.
class SharedFile {
 public:
  SharedFile() = default;
  SharedFile(const SharedFile&) = delete;
  SharedFile& operator=(const SharedFile&) = delete;
  SharedFile(SharedFile&& other) noexcept { *this = std::move(other); }
  SharedFile& operator=(SharedFile&& other) noexcept;
  ~SharedFile() { Close(); }

  bool is_open() const { return file_ != nullptr; }
  std::FILE* get() const { return file_; }
  // The size the file had once it was open.
  uint64_t size() const { return size_; }
  // Hands the open file over to the caller, who closes it with fclose.
  std::FILE* release();
  void Close() noexcept;

 private:
  friend FsStatus OpenSharedFile(DirRecurse&, const PathAccess&, std::u16string_view,
                                 std::u16string_view, SharedFile&);
  std::FILE* file_ = nullptr;
  uint64_t size_ = 0;
};

// Opens |path|, as a contact named it, for reading when it is a regular file
// inside the shared folder |share|. kBadPath when the access rules put it
// outside the shared folder (or nothing is shared), or when, opened beneath
// the shared folder, a name on the way is a link or it leads anywhere but
// where its name says; kNotFound when there is no such entry or it is no
// regular file (the shared folder itself, a folder, a pipe); kAccessDenied
// and the other failures as the file system reports them.
FsStatus OpenSharedFile(DirRecurse& files, const PathAccess& access, std::u16string_view share,
                        std::u16string_view path, SharedFile& out);

}  // namespace zuvo
