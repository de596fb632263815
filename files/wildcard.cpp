#include "files/wildcard.h"

#include <unordered_set>

#include "base/file_name_case.h"
#include "base/text.h"

namespace zuvo {
namespace {

// The file-name rule's upper-case form, with the ASCII letters done inline.
inline char16_t Fold(char16_t c) {
  if (c < 128) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
  return FileNameUpcase(c);
}

std::u16string FoldAll(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) c = Fold(c);
  return out;
}

// Plain "*" and "?" matching of a case-folded pattern, with one
// backtracking point (the last star): linear for the usual patterns and
// never worse than pattern x name. Adds its steps to |steps|: each step
// moves on in the pattern or the name, or goes back to the last star with
// the restart point one further on in the name, so there are at most
// (name + 1) x (pattern + 1) of them.
bool MatchPlain(std::u16string_view pat, std::u16string_view name, uint64_t& steps) {
  size_t p = 0;
  size_t n = 0;
  size_t starP = std::u16string_view::npos;
  size_t starN = 0;
  uint64_t taken = 0;
  bool matched = true;
  while (n < name.size()) {
    ++taken;
    if (p < pat.size() && pat[p] == u'*') {
      starP = ++p;
      starN = n;
    } else if (p < pat.size() && (pat[p] == u'?' || pat[p] == Fold(name[n]))) {
      ++p;
      ++n;
    } else if (starP != std::u16string_view::npos) {
      p = starP;
      n = ++starN;
    } else {
      matched = false;
      break;
    }
  }
  steps += taken;
  if (!matched) return false;
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

bool MatchFolded(std::u16string_view folded, std::u16string_view name, uint64_t& steps) {
  if (MatchPlain(folded, name, steps)) return true;
  const size_t cut = OptionalDotEnding(folded);
  return cut != std::u16string_view::npos && MatchPlain(folded.substr(0, cut), name, steps);
}

PatternPiece MakePiece(std::u16string_view text) {
  PatternPiece::Kind kind = PatternPiece::Kind::kPattern;
  if (text.empty() || text == u"*" || text == u"*.*") {
    kind = PatternPiece::Kind::kAll;
  } else if (text.find_first_of(u"\\/:") != std::u16string_view::npos || text == u"..") {
    kind = PatternPiece::Kind::kNothing;
  }
  std::u16string folded;
  if (kind == PatternPiece::Kind::kPattern) {
    const std::u16string_view rest = text.substr(1);
    if (text[0] == u'*' && !rest.empty() && rest.find_first_of(u"*?") == rest.npos) {
      kind = PatternPiece::Kind::kSuffix;
      folded = FoldAll(rest);
    } else {
      folded = FoldAll(text);
    }
  }
  return {kind, text, std::move(folded)};
}

// Hands each distinct piece of |patterns| to |take|, in order of first
// occurrence. Returns false, at the first distinct piece that would go past
// the bounds, without handing that piece over.
template <typename Take>
bool ForEachDistinctPiece(std::u16string_view patterns, Take&& take) {
  // A repeat of a text already seen is passed over with one hash; up to
  // kRemembered texts are remembered (case variants of one piece are several
  // texts), any other is folded and looked up once.
  constexpr size_t kRemembered = 4 * kMaxPatternPieces;
  std::unordered_set<std::u16string_view> texts;
  std::unordered_set<std::u16string> matchers;  // kind and folded text
  size_t chars = 0;
  size_t start = 0;
  while (true) {
    const size_t end = patterns.find(u';', start);
    const std::u16string_view text = patterns.substr(
        start, end == std::u16string_view::npos ? std::u16string_view::npos : end - start);
    if (texts.find(text) == texts.end()) {
      if (text.size() > kMaxPatternChars) return false;
      if (texts.size() < kRemembered) texts.insert(text);
      PatternPiece piece = MakePiece(text);
      std::u16string key(1, static_cast<char16_t>(piece.kind));
      key += piece.folded;
      if (matchers.insert(std::move(key)).second) {
        chars += text.size();
        if (matchers.size() > kMaxPatternPieces || chars > kMaxPatternChars) return false;
        take(std::move(piece));
      }
    }
    if (end == std::u16string_view::npos) break;
    start = end + 1;
  }
  return true;
}

}  // namespace

bool MatchWildcard(std::u16string_view pattern, std::u16string_view name) {
  uint64_t steps = 0;
  return MatchFolded(FoldAll(pattern), name, steps);
}

bool PatternPiece::Matches(std::u16string_view name, uint64_t& steps) const {
  ++steps;
  switch (kind) {
    case Kind::kAll:
      return true;
    case Kind::kNothing:
      return false;
    case Kind::kSuffix: {
      if (name.size() < folded.size()) return false;
      const char16_t* tail = name.data() + (name.size() - folded.size());
      for (size_t i = 0; i < folded.size(); ++i) {
        if (folded[i] != Fold(tail[i])) {
          steps += i;
          return false;
        }
      }
      steps += folded.size();
      return true;
    }
    case Kind::kPattern:
      break;
  }
  return MatchFolded(folded, name, steps);
}

std::vector<PatternPiece> SplitPatternList(std::u16string_view patterns) {
  std::vector<PatternPiece> pieces;
  ForEachDistinctPiece(patterns, [&](PatternPiece&& piece) { pieces.push_back(std::move(piece)); });
  return pieces;
}

bool PatternListWithinBounds(std::u16string_view patterns) {
  return ForEachDistinctPiece(patterns, [](PatternPiece&&) {});
}

}  // namespace zuvo
