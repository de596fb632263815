#include "files/name_order.h"

#include <algorithm>
#include <array>

#include "base/file_name_case.h"

namespace zuvo {
namespace {

// The file-name rule's upper-case forms, with the ASCII ones in a table of
// their own, the common case on the hot path ("_" sorts after the letters).
struct OrderKeys {
  std::array<char16_t, 128> ascii{};
  constexpr OrderKeys() {
    for (char16_t c = 0; c < 128; ++c) {
      ascii[c] = (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
    }
  }
};
constexpr OrderKeys kKeys;

inline char16_t OrderKey(char16_t c) { return c < 128 ? kKeys.ascii[c] : FileNameUpcase(c); }

inline int CompareNames(std::u16string_view a, std::u16string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    if (a[i] == b[i]) continue;
    const char16_t ka = OrderKey(a[i]);
    const char16_t kb = OrderKey(b[i]);
    if (ka != kb) return ka < kb ? -1 : 1;
  }
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return a.compare(b);  // same letters, other case: ordinal
}

}  // namespace

void SortEntries(FolderContents& contents) {
  const char16_t* base = contents.names.data();
  // The keys of the first four characters, packed so that comparing the
  // numbers compares those keys (a shorter name pads with 0, which no name
  // holds): most comparisons end there without touching the names.
  for (FolderEntry& e : contents.entries) {
    uint64_t key = 0;
    for (uint32_t i = 0; i < 4; ++i) {
      key = (key << 16) | (i < e.nameLength ? OrderKey(base[e.nameOffset + i]) : 0);
    }
    e.sortKey = key;
  }
  std::sort(contents.entries.begin(), contents.entries.end(),
            [base](const FolderEntry& x, const FolderEntry& y) {
              if (x.sortKey != y.sortKey) return x.sortKey < y.sortKey;
              return CompareNames(std::u16string_view(base + x.nameOffset, x.nameLength),
                                  std::u16string_view(base + y.nameOffset, y.nameLength)) < 0;
            });
}

}  // namespace zuvo
