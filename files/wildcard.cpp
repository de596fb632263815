#include "files/wildcard.h"

#include "base/text.h"

namespace zuvo {
namespace {

inline bool SameLetter(char16_t p, char16_t n) { return p == n || FoldCase(p) == FoldCase(n); }

// Plain "*" and "?" matching with one backtracking point (the last star),
// linear for the usual patterns and never worse than pattern x name.
bool MatchPlain(std::u16string_view pat, std::u16string_view name) {
  size_t p = 0;
  size_t n = 0;
  size_t starP = std::u16string_view::npos;
  size_t starN = 0;
  while (n < name.size()) {
    if (p < pat.size() && pat[p] == u'*') {
      starP = ++p;
      starN = n;
    } else if (p < pat.size() && (pat[p] == u'?' || SameLetter(pat[p], name[n]))) {
      ++p;
      ++n;
    } else if (starP != std::u16string_view::npos) {
      p = starP;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pat.size() && pat[p] == u'*') ++p;
  return p == pat.size();
}

// The length of |pat| without a trailing "." + stars, or npos when it has none.
size_t OptionalDotEnding(std::u16string_view pat) {
  size_t end = pat.size();
  while (end > 0 && pat[end - 1] == u'*') --end;
  if (end == pat.size() || end == 0 || pat[end - 1] != u'.') return std::u16string_view::npos;
  return end - 1;
}

}  // namespace

bool MatchWildcard(std::u16string_view pattern, std::u16string_view name) {
  if (MatchPlain(pattern, name)) return true;
  const size_t cut = OptionalDotEnding(pattern);
  return cut != std::u16string_view::npos && MatchPlain(pattern.substr(0, cut), name);
}

std::vector<PatternPiece> SplitPatternList(std::u16string_view patterns) {
  std::vector<PatternPiece> pieces;
  size_t start = 0;
  while (true) {
    const size_t end = patterns.find(u';', start);
    const std::u16string_view text = patterns.substr(
        start, end == std::u16string_view::npos ? std::u16string_view::npos : end - start);
    PatternPiece::Kind kind = PatternPiece::Kind::kPattern;
    if (text.empty() || text == u"*" || text == u"*.*") {
      kind = PatternPiece::Kind::kAll;
    } else if (text.find_first_of(u"\\/:") != std::u16string_view::npos || text == u"..") {
      kind = PatternPiece::Kind::kNothing;
    }
    pieces.push_back({kind, text});
    if (end == std::u16string_view::npos) break;
    start = end + 1;
  }
  return pieces;
}

}  // namespace zuvo
