// Folder trees built on disk for the tests, each in its own temporary
// folder that is removed afterwards (however deep it grew).
#pragma once

#include <string>
#include <string_view>

#include "support/temp_dir.h"

namespace zuvo::testing {

class TempTree {
 public:
  // The tree's root, without a trailing "/".
  const std::string& root() const { return root_; }
  std::u16string root16() const;
  // root() + "/" + rel.
  std::string At(std::string_view rel) const;
  std::u16string At16(std::string_view rel) const;

  // Create below the root; |rel| uses "/" and its folders must exist.
  void Folder(std::string_view rel) const;
  void File(std::string_view rel) const;
  void Link(std::string_view rel, const std::string& target) const;
  void Remove(std::string_view rel) const;

  // A chain of |depth| folders named |name| below |rel| (made relative to
  // each parent, so it may exceed the path limit), with the file |leaf| in
  // the deepest one. Returns the deepest folder's path below the root.
  std::string Chain(std::string_view rel, int depth, const std::string& name,
                    const std::string& leaf) const;

 private:
  TempDir dir_{TempDir::Where::kMemory};
  std::string root_ = dir_.path().string();
};

}  // namespace zuvo::testing
