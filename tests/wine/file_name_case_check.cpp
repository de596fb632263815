// The portable file-name case rule against the system's: every BMP code unit
// sorted with SortEntries, then each neighbour pair compared with
// CompareStringOrdinal (ignore-case). Since both orders are total
// pre-orders, neighbours that agree (equal exactly when the portable rule
// says so, never in the other order) prove that the groups of equal units
// and their order are the same for all 65,536 units. The wildcard matcher
// must treat each group as one letter, and names of several units must sort
// the same way under both.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "base/file_name_case.h"
#include "files/name_order.h"
#include "files/wildcard.h"
#include "tests/wine/wine_check.h"

namespace {

int SystemCompare(std::u16string_view a, std::u16string_view b) {
  return CompareStringOrdinal(
             reinterpret_cast<const wchar_t*>(a.data()), static_cast<int>(a.size()),
             reinterpret_cast<const wchar_t*>(b.data()), static_cast<int>(b.size()), TRUE) -
         CSTR_EQUAL;
}

zuvo::FolderContents Contents(const std::vector<std::u16string>& names) {
  zuvo::FolderContents contents;
  for (const std::u16string& name : names) {
    contents.entries.push_back({static_cast<uint32_t>(contents.names.size()),
                                static_cast<uint32_t>(name.size()), zuvo::EntryKind::kFile});
    contents.names += name;
  }
  return contents;
}

std::string Units(std::u16string_view text) {
  std::string out;
  char buffer[8];
  for (char16_t c : text) {
    std::snprintf(buffer, sizeof buffer, "%sU+%04X", out.empty() ? "" : " ", c);
    out += buffer;
  }
  return out;
}

// Sorts |names| with SortEntries; then every neighbour pair must compare as
// the system compares it: equal exactly when the portable rule says so, and
// never in the other order. Counts the pairs that mismatch (reports the first few).
void CheckSortedLikeTheSystem(const std::vector<std::u16string>& names, bool checkMatcher) {
  zuvo::FolderContents contents = Contents(names);
  zuvo::SortEntries(contents);
  int reported = 0;
  int mismatches = 0;
  for (size_t i = 1; i < contents.entries.size(); ++i) {
    const std::u16string_view a = contents.name(contents.entries[i - 1]);
    const std::u16string_view b = contents.name(contents.entries[i]);
    const int system = SystemCompare(a, b);
    const bool equal = zuvo::FileNamesEqual(a, b);
    bool ok = system <= 0 && (system == 0) == equal;
    // ("*" and "?" are wildcards, not letters, to the matcher.)
    if (checkMatcher && a.find_first_of(u"*?") == a.npos) {
      ok = ok && zuvo::MatchWildcard(a, b) == equal;
    }
    if (!ok) {
      ++mismatches;
      if (++reported <= 10) {
        wine_check::Report(false, __LINE__, "neighbours compare alike",
                           Units(a) + " / " + Units(b) + ": system " + std::to_string(system) +
                               ", portable equal " + std::to_string(equal));
      }
    }
  }
  CHECK_EQ_INT(0, mismatches);
}

}  // namespace

int main() {
  {
    wine_check::Context context("every BMP code unit");
    std::vector<std::u16string> units;
    for (uint32_t c = 0; c < 0x10000; ++c) units.emplace_back(1, static_cast<char16_t>(c));
    CheckSortedLikeTheSystem(units, true);
  }
  {
    wine_check::Context context("names of several units");
    // Letters whose case differs between rules, ASCII, and units that sort
    // around them, in names of up to five units, with shared beginnings.
    const char16_t alphabet[] = {u'a',   u'A',   u'i',   u'I',   u'k',   u's',   u'S',   u'_',
                                 u'.',   u' ',   0x0130, 0x0131, 0x017F, 0x212A, 0x00FF, 0x0178,
                                 0x01C5, 0x03C2, 0x10D0, 0x1C90, 0xFF41, 0xFF21, 0xD800, 0xFFFF};
    std::mt19937 random(12);
    std::vector<std::u16string> names;
    for (int n = 0; n < 20000; ++n) {
      std::u16string name;
      const size_t length = 1 + random() % 5;
      for (size_t i = 0; i < length; ++i) name += alphabet[random() % std::size(alphabet)];
      names.push_back(name);
    }
    CheckSortedLikeTheSystem(names, false);
  }
  return wine_check::Finish("file_name_case_check");
}
