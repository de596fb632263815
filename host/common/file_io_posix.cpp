#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/common/file_io.h"

namespace zuvo {

MoveResult MoveNoReplace(const std::filesystem::path& from, const std::filesystem::path& to,
                         HostError& error) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return MoveResult::kMoved;
  }
  if (errno == EEXIST) return MoveResult::kExists;
  if (errno != EINVAL && errno != ENOSYS) {
    error = Failure(HostErrorKind::kSystem, std::string("rename: ") + std::strerror(errno));
    return MoveResult::kFailed;
  }
  // File systems without the no-replace rename: a hard link fails the same
  // way when the name is taken.
  if (link(from.c_str(), to.c_str()) != 0) {
    if (errno == EEXIST) return MoveResult::kExists;
    error = Failure(HostErrorKind::kSystem, std::string("link: ") + std::strerror(errno));
    return MoveResult::kFailed;
  }
  unlink(from.c_str());
  return MoveResult::kMoved;
}

std::FILE* OpenFile(const std::filesystem::path& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

}  // namespace zuvo
