// POSIX variant of the path resolver: lstat for the kind of entry and
// readlink for the target of a symbolic link. Paths are UTF-8 on the file
// system.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "base/text.h"
#include "files/path_resolver.h"

namespace zuvo {
namespace {

class PosixPathResolver : public PathResolver {
 public:
  PathNode Inspect(std::u16string_view path) override {
    bool valid = false;
    const std::string narrow = Utf16ToUtf8(path, &valid);
    PathNode node;
    if (!valid) return node;  // a name the file system cannot be asked about
    struct stat st;
    if (lstat(narrow.c_str(), &st) != 0) {
      node.kind =
          (errno == ENOENT || errno == ENOTDIR) ? PathNode::Kind::kMissing : PathNode::Kind::kError;
      return node;
    }
    if (S_ISDIR(st.st_mode)) {
      node.kind = PathNode::Kind::kDirectory;
    } else if (S_ISLNK(st.st_mode)) {
      std::string target;
      if (!ReadLink(narrow, st, target)) return node;
      bool targetValid = false;
      node.target = Utf8ToUtf16(target, &targetValid);
      if (targetValid) node.kind = PathNode::Kind::kLink;
    } else {
      node.kind = PathNode::Kind::kOther;
    }
    return node;
  }

 private:
  // The link's target; grows the buffer when the link changed since lstat.
  static bool ReadLink(const std::string& path, const struct stat& st, std::string& target) {
    size_t size = st.st_size > 0 ? static_cast<size_t>(st.st_size) + 1 : 256;
    for (int attempt = 0; attempt < 8; ++attempt) {
      target.resize(size);
      const ssize_t n = readlink(path.c_str(), target.data(), size);
      if (n < 0) return false;
      if (static_cast<size_t>(n) < size) {
        target.resize(static_cast<size_t>(n));
        return !target.empty();
      }
      size *= 2;
    }
    return false;
  }
};

}  // namespace

std::unique_ptr<PathResolver> CreatePlatformPathResolver() {
  return std::make_unique<PosixPathResolver>();
}

}  // namespace zuvo
