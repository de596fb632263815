#include "files/temp_tree.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "base/text.h"

namespace zuvo::testing {

std::u16string TempTree::root16() const { return Utf8ToUtf16(root_); }
std::string TempTree::At(std::string_view rel) const { return root_ + "/" + std::string(rel); }
std::u16string TempTree::At16(std::string_view rel) const { return Utf8ToUtf16(At(rel)); }

void TempTree::Folder(std::string_view rel) const {
  ASSERT_EQ(mkdir(At(rel).c_str(), 0755), 0) << rel;
}

void TempTree::File(std::string_view rel) const {
  const int fd = open(At(rel).c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  ASSERT_GE(fd, 0) << rel;
  close(fd);
}

void TempTree::Link(std::string_view rel, const std::string& target) const {
  ASSERT_EQ(symlink(target.c_str(), At(rel).c_str()), 0) << rel;
}

void TempTree::Remove(std::string_view rel) const {
  const std::string cmd = "rm -rf '" + At(rel) + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
}

std::string TempTree::Chain(std::string_view rel, int depth, const std::string& name,
                            const std::string& leaf) const {
  int fd = open(At(rel).c_str(), O_RDONLY | O_DIRECTORY);
  EXPECT_GE(fd, 0);
  std::string path(rel);
  for (int i = 0; i < depth; ++i) {
    EXPECT_EQ(mkdirat(fd, name.c_str(), 0755), 0);
    const int child = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
    EXPECT_GE(child, 0);
    close(fd);
    fd = child;
    path += "/" + name;
  }
  const int file = openat(fd, leaf.c_str(), O_CREAT | O_WRONLY, 0644);
  EXPECT_GE(file, 0);
  close(file);
  close(fd);
  return path;
}

}  // namespace zuvo::testing
