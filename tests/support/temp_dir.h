// The tests' temporary folder: a fresh folder, removed with its contents
// however deep they grew.
#pragma once

#include <filesystem>
#include <string>

namespace zuvo::testing {

class TempDir {
 public:
  // kMemory: in memory-backed storage where the machine has it, for trees
  // made and removed in bulk; kSystem: under the system's temporary folder.
  enum class Where { kSystem, kMemory };
  explicit TempDir(Where where = Where::kSystem);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder, with links resolved.
  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace zuvo::testing
