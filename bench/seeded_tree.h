// The benchmarks' shared folder: from a fixed seed, 100,000 files in about
// 5,000 folders (ten of them holding 2,000 files each, about a tenth of the
// names hidden), the same on every run.
#pragma once

#include <cstdint>
#include <random>
#include <string>

namespace zuvo::bench {

inline constexpr int kFolders = 5000;
inline constexpr int kFiles = 100000;
inline constexpr uint64_t kSeed = 0x5A5E0F11E5ULL;

struct Tree {
  std::string root;
  int files = 0;
  int folders = 0;
};

// A word of |minLen| to |maxLen| letters, digits, "-", "_" and inner blanks.
std::string RandomWord(std::mt19937_64& rng, int minLen, int maxLen);

// Builds the tree in a new folder below ZUVO_BENCH_DIR (default: TMPDIR or
// /tmp), or in |root| when given (created; it must not exist). Exits with a
// message when a file cannot be made.
Tree BuildTree(const std::string& root = "");
void RemoveTree(const Tree& tree);

}  // namespace zuvo::bench
