#include "seeded_tree.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace zuvo::bench {
namespace {

constexpr int kBigFolders = 10;
constexpr int kBigFolderFiles = 2000;

std::string NewFolder(const std::string& root) {
  if (!root.empty()) {
    if (mkdir(root.c_str(), 0755) != 0) {
      std::perror(root.c_str());
      std::exit(1);
    }
    return root;
  }
  const char* base = std::getenv("ZUVO_BENCH_DIR");
  if (base == nullptr || *base == 0) base = std::getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/zuvo-bench-XXXXXX";
  if (mkdtemp(templ.data()) == nullptr) {
    std::perror("mkdtemp");
    std::exit(1);
  }
  return templ;
}

}  // namespace

std::string RandomWord(std::mt19937_64& rng, int minLen, int maxLen) {
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_ ";
  const int len = minLen + static_cast<int>(rng() % (maxLen - minLen + 1));
  std::string w;
  for (int i = 0; i < len; ++i) w.push_back(kChars[rng() % (sizeof(kChars) - 2)]);
  if (w.back() == ' ') w.back() = 'x';
  return w;
}

Tree BuildTree(const std::string& root) {
  Tree tree{NewFolder(root), 0, 0};
  std::mt19937_64 rng(kSeed);
  std::vector<std::string> folders{tree.root};
  for (int i = 1; i < kFolders; ++i) {
    // Mostly below one of the latest folders, so the tree gets some depth.
    const size_t n = folders.size();
    const size_t parent = (rng() % 10 < 7 && n > 40) ? n - 1 - rng() % 40 : rng() % n;
    const bool hidden = rng() % 50 == 0;
    std::string path = folders[parent] + "/" + (hidden ? "." : "") + RandomWord(rng, 3, 12) + "_" +
                       std::to_string(i);
    if (mkdir(path.c_str(), 0755) != 0) {
      std::perror(path.c_str());
      std::exit(1);
    }
    folders.push_back(std::move(path));
  }
  static const char* const kExtensions[] = {".txt", ".jpg", ".png", ".doc",    ".pdf",
                                            ".mp3", ".cpp", ".h",   ".tar.gz", ""};
  auto makeFile = [&](const std::string& folder, int index) {
    const bool hidden = rng() % 10 == 0;
    const std::string path = folder + "/" + (hidden ? "." : "") + RandomWord(rng, 4, 16) + "_" +
                             std::to_string(index) + kExtensions[rng() % 10];
    const int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
      std::perror(path.c_str());
      std::exit(1);
    }
    close(fd);
  };
  int index = 0;
  for (int b = 0; b < kBigFolders; ++b) {
    const std::string& folder = folders[1 + rng() % (folders.size() - 1)];
    for (int i = 0; i < kBigFolderFiles; ++i) makeFile(folder, index++);
  }
  while (index < kFiles) makeFile(folders[rng() % folders.size()], index++);
  tree.files = index;
  tree.folders = static_cast<int>(folders.size());
  return tree;
}

void RemoveTree(const Tree& tree) {
  const std::string cmd = "rm -rf '" + tree.root + "'";
  if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", cmd.c_str());
}

}  // namespace zuvo::bench
