// The case rule of file names: the one Windows compares file names with
// (CompareStringOrdinal with ignore-case, as NTFS keeps a folder). Each
// UTF-16 code unit is upper-cased on its own by a fixed table; two names are
// equal without regard to case when their units upper-case alike, one by
// one, and they sort by the upper-cased units. Nothing else is folded:
// dotless i (U+0131) and long s (U+017F) stay apart from I and S, the Kelvin
// sign from K, and I with dot above (U+0130) from i.
//
// The table is generated from the Unicode character data by
// scripts/gen-file-name-case (which states the rule in full) and committed
// as base/file_name_case_table.cpp, so a build needs no Unicode data.
//
// Command and code recognition (FoldCase in base/text.h) keep their own
// rule; this one is for file names and patterns.
#pragma once

#include <cstdint>
#include <string_view>

namespace zuvo {

namespace file_name_case {
inline constexpr unsigned kBlockBits = 6;
inline constexpr unsigned kBlockSize = 1u << kBlockBits;
// For each block of 64 code units, the index of its row in kBlockDelta.
extern const uint8_t kBlockIndex[0x10000 / kBlockSize];
// Rows of differences: upper(c) = c + delta, modulo 2^16.
extern const uint16_t kBlockDelta[][kBlockSize];
}  // namespace file_name_case

// The upper-case form of one code unit under the file-name rule.
inline char16_t FileNameUpcase(char16_t c) {
  using namespace file_name_case;
  const uint16_t delta = kBlockDelta[kBlockIndex[c >> kBlockBits]][c & (kBlockSize - 1)];
  return static_cast<char16_t>(c + delta);
}

// Whether two names are equal without regard to case under the file-name
// rule.
inline bool FileNamesEqual(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && FileNameUpcase(a[i]) != FileNameUpcase(b[i])) return false;
  }
  return true;
}

}  // namespace zuvo
