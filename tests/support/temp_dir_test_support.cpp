#include "support/temp_dir.h"

#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace zuvo::testing {
namespace fs = std::filesystem;

TempDir::TempDir(Where where) {
  const char* tmpdir = std::getenv("TMPDIR");
  const bool memory =
      where == Where::kMemory && !(tmpdir && *tmpdir) && access("/dev/shm", W_OK) == 0;
  std::string pattern =
      ((memory ? fs::path("/dev/shm") : fs::temp_directory_path()) / "zuvo-test-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = fs::canonical(pattern);
}

TempDir::~TempDir() {
  std::error_code failed;
  fs::remove_all(path_, failed);
  if (failed) {
    // rm walks relative to each folder, so trees deeper than the path limit
    // go too.
    const std::string command = "rm -rf '" + path_.string() + "'";
    if (std::system(command.c_str()) != 0)
      std::fprintf(stderr, "could not remove %s\n", path_.c_str());
  }
}

}  // namespace zuvo::testing
