// POSIX files readable by their owner only: open, judge the open file, read
// within a bound; write a temporary file, flush it and give it the name.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/common/trust/private_file.h"

namespace zuvo::trust {
namespace {

FileOutcome Failed(StoreError error, const std::filesystem::path& path, std::string_view what) {
  FileOutcome out;
  out.error = error;
  out.detail = path.string() + ": " + std::string(what);
  return out;
}

FileOutcome SystemFailed(const std::filesystem::path& path, const char* call) {
  return Failed(StoreError::kIo, path, std::string(call) + ": " + std::strerror(errno));
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// Gives |temp| the name |path| without ever replacing a file there; false
// with errno EEXIST when the name is taken.
bool LinkNoReplace(const char* temp, const char* path) {
  if (::renameat2(AT_FDCWD, temp, AT_FDCWD, path, RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // File systems without the no-replace rename: a hard link fails the same
  // way when the name is taken.
  if (::link(temp, path) != 0) return false;
  ::unlink(temp);
  return true;
}

void FlushFolder(const std::filesystem::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

FileOutcome ReadPrivateFile(const std::filesystem::path& path, size_t maxBytes,
                            std::string& contents) {
  contents.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT) {
      FileOutcome out;
      out.missing = true;
      return out;
    }
    return SystemFailed(path, "open");
  }
  struct stat st;
  FileOutcome out;
  if (::fstat(fd, &st) != 0) {
    out = SystemFailed(path, "fstat");
  } else if (!S_ISREG(st.st_mode)) {
    out = Failed(StoreError::kNotPrivate, path, "not a regular file");
  } else if (st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) {
    out = Failed(StoreError::kNotPrivate, path,
                 "others may read or change it (it must be the user's own, mode 0600)");
  } else if (static_cast<unsigned long long>(st.st_size) > maxBytes) {
    out = Failed(StoreError::kCorrupt, path, "larger than " + std::to_string(maxBytes) + " bytes");
  } else {
    // One byte more than allowed tells a file that grew since fstat.
    contents.resize(maxBytes + 1);
    size_t have = 0;
    while (have < contents.size()) {
      const ssize_t n = ::read(fd, contents.data() + have, contents.size() - have);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        out = SystemFailed(path, "read");
        break;
      }
      if (n == 0) break;
      have += static_cast<size_t>(n);
    }
    contents.resize(have);
    if (out.error == StoreError::kNone && have > maxBytes) {
      out =
          Failed(StoreError::kCorrupt, path, "larger than " + std::to_string(maxBytes) + " bytes");
    }
  }
  ::close(fd);
  if (out.error != StoreError::kNone) contents.clear();
  return out;
}

FileOutcome WritePrivateFile(const std::filesystem::path& path, std::string_view contents,
                             WriteMode mode) {
  const std::filesystem::path folder = path.parent_path().empty() ? "." : path.parent_path();
  std::string temp = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return SystemFailed(path, "mkstemp");
  bool written = ::fchmod(fd, 0600) == 0 && WriteAll(fd, contents) && ::fsync(fd) == 0;
  int error = written ? 0 : errno;
  if (::close(fd) != 0 && written) {
    written = false;
    error = errno;
  }
  if (!written) {
    ::unlink(temp.c_str());
    errno = error;
    return SystemFailed(path, "write");
  }
  FileOutcome out;
  const bool named = mode == WriteMode::kReplace ? ::rename(temp.c_str(), path.c_str()) == 0
                                                 : LinkNoReplace(temp.c_str(), path.c_str());
  if (!named) {
    if (mode == WriteMode::kCreateOnly && errno == EEXIST) {
      out.existed = true;
    } else {
      out = SystemFailed(path, "rename");
    }
    ::unlink(temp.c_str());
    return out;
  }
  FlushFolder(folder);
  return out;
}

}  // namespace zuvo::trust
