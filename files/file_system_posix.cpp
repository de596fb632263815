// The POSIX variant of the file-system seam: getdents64 on one descriptor
// per folder, folders and files opened beneath an open folder (openat2 with
// RESOLVE_BENEATH, or openat with O_NOFOLLOW name by name), names converted
// from UTF-8 as they are read.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "base/text.h"
#include "files/dir_recurse.h"
#include "files/file_system.h"
#include "files/name_order.h"

namespace zuvo {

PathStyle NativePathStyle() { return PathStyle::kPosix; }

namespace {

// The record getdents64 fills in (linux_dirent64).
struct DirentRecord {
  uint64_t d_ino;
  int64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[1];
};

constexpr size_t kReadBufferSize = 128 * 1024;

FsStatus StatusFromErrno(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return FsStatus::kNotFound;
    case EACCES:
    case EPERM:
      return FsStatus::kAccessDenied;
    case ENAMETOOLONG:
    case ELOOP:
    case EINVAL:
    case EILSEQ:
      return FsStatus::kBadPath;
    case ENOMEM:
      return FsStatus::kNoMemory;
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
      return FsStatus::kNoResources;
    default:
      return FsStatus::kIoError;
  }
}

// Appends the UTF-8 name |s| (|n| bytes) to |out| as UTF-16. A name that is
// not valid UTF-8, or that holds a character below code 32, cannot be shown
// in a reply as it is; it is refused (false) and |out| is left as it was.
bool AppendName(const char* s, size_t n, std::u16string& out) {
  const size_t old = out.size();
  out.resize(old + n);  // UTF-16 never needs more units than UTF-8 has bytes
  char16_t* d = out.data() + old;
  size_t w = 0;
  size_t i = 0;
  while (i < n) {
    const unsigned char b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
      if (b0 < 0x20) break;
      d[w++] = b0;
      ++i;
      continue;
    }
    const Utf8Sequence seq = DecodeUtf8Sequence(std::string_view(s + i, n - i));
    if (seq.length == 0) break;
    w += EncodeUtf16(seq.codePoint, d + w);
    i += seq.length;
  }
  if (i != n) {
    out.resize(old);
    return false;
  }
  out.resize(old + w);
  return true;
}

// UTF-16 -> UTF-8 for a path handed to the kernel; false when the text has
// no exact UTF-8 form or holds a NUL.
bool ToKernelPath(std::u16string_view text, std::string& out) {
  bool valid = true;
  out = Utf16ToUtf8(text, &valid);
  return valid && out.find('\0') == std::string::npos;
}

class PosixFileSystem final : public FileSystem {
 public:
  FsStatus OpenFolder(std::u16string_view prefix, FolderHandle& out) override {
    out.Close();
    if (!ToKernelPath(prefix, path_)) return FsStatus::kBadPath;
    if (path_.empty()) return FsStatus::kNotFound;
    int fd;
    if (path_.size() < PATH_MAX) {
      fd = open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } else {
      fd = OpenLongPath();
    }
    if (fd < 0) return StatusFromErrno(errno);
    out.os = fd;
    Adopt(out);
    return FsStatus::kOk;
  }

  FsStatus OpenFolderBelow(const FolderHandle& base, std::u16string_view relative,
                           FolderHandle& out) override {
    out.Close();
    int fd = -1;
    const int err = OpenBelow(static_cast<int>(base.os), relative, O_RDONLY | O_DIRECTORY, fd);
    if (err != 0) return err == ELOOP ? FsStatus::kNotFound : StatusFromErrno(err);
    out.os = fd;
    Adopt(out);
    return FsStatus::kOk;
  }

  FsStatus OpenFileBelow(const FolderHandle& base, std::u16string_view relative, std::FILE*& out,
                         uint64_t& size) override {
    out = nullptr;
    size = 0;
    int fd = -1;
    // O_NONBLOCK: opening a pipe or a device must not wait; such an entry is
    // refused below, and a regular file reads the same either way.
    const int err = OpenBelow(static_cast<int>(base.os), relative, O_RDONLY | O_NONBLOCK, fd);
    if (err != 0) {
      return err == ELOOP || err == EXDEV ? FsStatus::kBadPath : StatusFromErrno(err);
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      close(fd);
      return FsStatus::kNotFound;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    out = fdopen(fd, "rb");
    if (out == nullptr) {
      close(fd);
      return FsStatus::kNoMemory;
    }
    size = static_cast<uint64_t>(st.st_size);
    return FsStatus::kOk;
  }

  FsStatus ReadFolder(const FolderHandle& folder, FolderContents& out) override {
    out.clear();
    if (!folder.is_open()) return FsStatus::kNotFound;
    const int fd = static_cast<int>(folder.os);
    if (!buffer_) buffer_ = std::make_unique<char[]>(kReadBufferSize);
    if (lseek(fd, 0, SEEK_SET) < 0) return StatusFromErrno(errno);
    FsStatus status = FsStatus::kOk;
    while (true) {
      const long got = syscall(SYS_getdents64, fd, buffer_.get(), kReadBufferSize);
      if (got == 0) break;
      if (got < 0) {
        if (errno == EINTR) continue;
        status = StatusFromErrno(errno);
        break;
      }
      for (long pos = 0; pos < got;) {
        const auto* rec = reinterpret_cast<const DirentRecord*>(buffer_.get() + pos);
        pos += rec->d_reclen;
        const char* name = rec->d_name;
        // Names beginning with "." are the hidden ones here; "." and ".."
        // are among them.
        if (name[0] == '.') continue;
        EntryKind kind;
        switch (rec->d_type) {
          case DT_REG:
            kind = EntryKind::kFile;
            break;
          case DT_DIR:
            kind = EntryKind::kFolder;
            break;
          case DT_UNKNOWN:
            kind = KindByStat(fd, name, out);
            break;
          default:
            continue;  // links, devices, pipes, sockets
        }
        if (kind == EntryKind::kOther) continue;
        const size_t offset = out.names.size();
        if (!AppendName(name, std::strlen(name), out.names)) continue;
        out.entries.push_back({static_cast<uint32_t>(offset),
                               static_cast<uint32_t>(out.names.size() - offset), kind});
      }
    }
    SortEntries(out);
    return status;
  }

 protected:
  void CloseFolder(FolderHandle& handle) noexcept override {
    if (handle.os >= 0) close(static_cast<int>(handle.os));
  }

 private:
  // The kind of an entry whose record does not tell it. An entry that is
  // gone by now gives kOther, so that it is left out.
  static EntryKind KindByStat(int fd, const char* name, FolderContents& out) {
    struct stat st;
    if (fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) return EntryKind::kOther;
      if (out.kindError == FsStatus::kOk) out.kindError = StatusFromErrno(errno);
      return EntryKind::kUnknown;
    }
    if (S_ISREG(st.st_mode)) return EntryKind::kFile;
    if (S_ISDIR(st.st_mode)) return EntryKind::kFolder;
    return EntryKind::kOther;
  }

  // Opens |relative| below the folder |base| with |flags| for its last name,
  // never through a link and never outside |base|; the result is 0 and |fd|,
  // or an errno value (ELOOP for a link on the way).
  int OpenBelow(int base, std::u16string_view relative, int flags, int& fd) {
    fd = -1;
    if (relative.empty()) return ENOENT;
    if (!ToKernelPath(relative, path_)) return ENOENT;
    flags |= O_NOFOLLOW | O_CLOEXEC;
    if (openat2Works_ && path_.size() < PATH_MAX) {
      open_how how{};
      how.flags = static_cast<uint64_t>(flags);
      how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
      for (int attempt = 0; attempt < 8; ++attempt) {
        const long got = syscall(SYS_openat2, base, path_.c_str(), &how, sizeof how);
        if (got >= 0) {
          fd = static_cast<int>(got);
          return 0;
        }
        // EAGAIN: the kernel saw the tree change while resolving; try again.
        if (errno != EAGAIN && errno != EINTR) break;
      }
      const int err = errno;
      if (err != ENOSYS && err != EPERM && err != EAGAIN) return err;
      // No openat2 here (or a filter forbids it): the walk below does the same.
      if (err != EAGAIN) openat2Works_ = false;
    }
    return OpenNameByName(base, flags, fd);
  }

  // OpenBelow one name at a time: every folder on the way is opened with
  // O_NOFOLLOW relative to the one before it, passed through only (O_PATH).
  int OpenNameByName(int base, int flags, int& fd) {
    int cur = base;
    size_t start = 0;
    while (true) {
      const size_t slash = path_.find('/', start);
      const bool last = slash == std::string::npos;
      name_.assign(path_, start, last ? std::string::npos : slash - start);
      int next = -1;
      int err = ENOENT;
      if (!name_.empty() && name_ != "." && name_ != "..") {
        next = openat(cur, name_.c_str(),
                      last ? flags : O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        err = errno;
      }
      if (cur != base) close(cur);
      if (next < 0) return err;
      cur = next;
      if (last) break;
      start = slash + 1;
    }
    fd = cur;
    return 0;
  }

  // Opens path_ when it is longer than the kernel takes in one call: piece
  // by piece, each piece shorter than PATH_MAX and ending at a "/", every
  // piece resolved as open() would resolve it.
  int OpenLongPath() {
    const std::string& p = path_;
    int cur = AT_FDCWD;
    size_t start = 0;
    while (start < p.size()) {
      size_t end = p.size();
      if (end - start >= PATH_MAX) {
        end = p.rfind('/', start + PATH_MAX - 2);  // the piece and its NUL fit
        if (end == std::string::npos || end <= start) {
          if (cur != AT_FDCWD) close(cur);
          errno = ENAMETOOLONG;
          return -1;
        }
        end += 1;  // the piece keeps its "/"
      }
      const std::string piece = p.substr(start, end - start);
      const int fd = openat(cur, piece.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      const int err = errno;
      if (cur != AT_FDCWD) close(cur);
      if (fd < 0) {
        errno = err;
        return -1;
      }
      cur = fd;
      start = end;
    }
    return cur;
  }

  std::string path_;  // scratch for kernel paths
  std::string name_;
  bool openat2Works_ = true;
  std::unique_ptr<char[]> buffer_;
};

}  // namespace

std::unique_ptr<FileSystem> CreatePlatformFileSystem() {
  return std::make_unique<PosixFileSystem>();
}

}  // namespace zuvo
