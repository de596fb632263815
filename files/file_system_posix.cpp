// The POSIX variant of the file-system seam: getdents64 on one descriptor
// per folder, folders opened relative to their parent (openat with
// O_NOFOLLOW), names converted from UTF-8 as they are read.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
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
    int cur = static_cast<int>(base.os);
    bool own = false;
    size_t start = 0;
    while (true) {
      const size_t slash = relative.find(u'/', start);
      const bool last = slash == std::u16string_view::npos;
      const std::u16string_view name = relative.substr(start, last ? relative.npos : slash - start);
      int fd = -1;
      int err = ENOENT;
      if (ToKernelPath(name, path_)) {
        // Intermediate folders are only passed through (O_PATH); none of them,
        // nor the folder itself, may be a link.
        const int flags = (last ? O_RDONLY : O_PATH) | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        fd = openat(cur, path_.c_str(), flags);
        err = errno;
      }
      if (own) close(cur);
      if (fd < 0) return err == ELOOP ? FsStatus::kNotFound : StatusFromErrno(err);
      cur = fd;
      own = true;
      if (last) break;
      start = slash + 1;
    }
    out.os = cur;
    Adopt(out);
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
  std::unique_ptr<char[]> buffer_;
};

}  // namespace

std::unique_ptr<FileSystem> CreatePlatformFileSystem() {
  return std::make_unique<PosixFileSystem>();
}

}  // namespace zuvo
