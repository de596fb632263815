// zuvo_bench_tree DIR: builds the benchmarks' seeded shared folder (100,000
// files) in DIR, which must not exist yet, for the bench scripts.
#include <cstdio>

#include "seeded_tree.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: zuvo_bench_tree DIR\n");
    return 64;
  }
  const zuvo::bench::Tree tree = zuvo::bench::BuildTree(argv[1]);
  std::printf("%s: %d folders, %d files\n", tree.root.c_str(), tree.folders, tree.files);
  return 0;
}
