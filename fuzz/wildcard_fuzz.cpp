// The file-name patterns of the listings against a plain table-filling
// matcher: both agree on every pattern and name, within the step bound; a
// pattern list splits into its distinct pieces, in order, each piece of the
// text either kept or the same as one kept before, unless the list is past
// its bounds. libFuzzer's time limit catches a pattern that makes the
// matcher run away.
#include <fuzzer/FuzzedDataProvider.h>

#include <vector>

#include "base/file_name_case.h"
#include "files/wildcard.h"
#include "fuzz/fuzz_support.h"

namespace zuvo::fuzz {
namespace {

// "*" any run, "?" one character, letters folded: the table of which
// pattern prefix matches which name prefix.
bool TableMatch(std::u16string_view pat, std::u16string_view name) {
  std::vector<char> row(name.size() + 1, 0), next(name.size() + 1, 0);
  row[0] = 1;
  for (size_t j = 1; j <= name.size(); ++j) row[j] = 0;
  for (char16_t p : pat) {
    next.assign(name.size() + 1, 0);
    if (p == u'*') {
      char any = 0;
      for (size_t j = 0; j <= name.size(); ++j) next[j] = any = any || row[j];
    } else {
      for (size_t j = 1; j <= name.size(); ++j) {
        const char16_t n = name[j - 1];
        next[j] = row[j - 1] && (p == u'?' || FileNameUpcase(p) == FileNameUpcase(n));
      }
    }
    row.swap(next);
  }
  return row[name.size()];
}

// The optional ".*" ending: a pattern ending in "." and one or more stars
// also matches without that ending.
bool Reference(std::u16string_view pat, std::u16string_view name) {
  if (TableMatch(pat, name)) return true;
  size_t end = pat.size();
  while (end > 0 && pat[end - 1] == u'*') --end;
  if (end == pat.size() || end == 0 || pat[end - 1] != u'.') return false;
  return TableMatch(pat.substr(0, end - 1), name);
}

// Fuzz bytes mostly as pattern characters and a few letters, so that
// matches are common.
std::u16string Text(FuzzedDataProvider& in, size_t max) {
  static const char16_t kAlphabet[] = u"*?.aAbB\u00e9\u00c9;x";
  std::u16string out;
  const size_t length = in.ConsumeIntegralInRange<size_t>(0, max);
  for (size_t i = 0; i < length && in.remaining_bytes() > 0; ++i) {
    const uint8_t b = in.ConsumeIntegral<uint8_t>();
    out.push_back(b < 200 ? kAlphabet[b % (std::size(kAlphabet) - 1)] : char16_t(b));
  }
  return out;
}

}  // namespace
}  // namespace zuvo::fuzz

using namespace zuvo;
using namespace zuvo::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const bool raw = in.ConsumeBool();
  std::u16string pattern, name;
  if (raw) {
    pattern = TextFromBytes(in.ConsumeRandomLengthString(512), true);
    name = TextFromBytes(in.ConsumeRemainingBytesAsString(), true);
  } else {
    pattern = Text(in, 64);
    name = Text(in, 256);
  }
  const bool matched = MatchWildcard(pattern, name);
  Check(matched == Reference(pattern, name), matched ? "matches, but should not" : "should match",
        pattern, name);
  if (pattern.find_first_of(u"*?") == std::u16string::npos) {
    Check(MatchWildcard(pattern, pattern), "a plain pattern does not match itself", pattern);
  }
  Check(MatchWildcard(u"*", name) && MatchWildcard(u"*.*", name), "* or *.* misses a name", name);

  // The pieces of a list: the text's pieces in order, each kept unless it
  // is the same as one kept before (letter case aside, by the file-name
  // rule; every "all" form is one, every piece that reaches outside is one).
  const std::vector<PatternPiece> pieces = SplitPatternList(pattern);
  const bool within = PatternListWithinBounds(pattern);
  Check(pieces.size() <= kMaxPatternPieces, "more pieces than the bounds allow", pattern);
  auto same = [](const PatternPiece& a, const PatternPiece& b) {
    return a.kind == b.kind &&
           (a.kind == PatternPiece::Kind::kAll || a.kind == PatternPiece::Kind::kNothing ||
            FileNamesEqual(a.text, b.text));
  };
  size_t kept = 0;
  size_t start = 0;
  while (true) {
    const size_t end = pattern.find(u';', start);
    const std::u16string_view text = std::u16string_view(pattern).substr(
        start, end == std::u16string::npos ? std::u16string::npos : end - start);
    if (kept < pieces.size() && pieces[kept].text.data() == text.data() &&
        pieces[kept].text.size() == text.size()) {
      for (size_t i = 0; i < kept; ++i) {
        Check(!same(pieces[i], pieces[kept]), "a piece is kept twice", pattern, text);
      }
      ++kept;
    } else if (within) {
      const std::vector<PatternPiece> alone = SplitPatternList(text);
      bool repeat = false;
      for (size_t i = 0; i < kept && !alone.empty(); ++i)
        repeat = repeat || same(pieces[i], alone[0]);
      Check(repeat, "a distinct piece is left out of a list within its bounds", pattern, text);
    }
    if (end == std::u16string::npos) break;
    start = end + 1;
  }
  Check(kept == pieces.size(), "a piece is not a piece of the text, or out of order", pattern);
  for (const PatternPiece& piece : pieces) {
    if (piece.kind == PatternPiece::Kind::kNothing) {
      Check(!piece.Matches(name), "a piece that reaches outside matches", piece.text);
    }
    uint64_t steps = 0;
    piece.Matches(name, steps);
    Check(steps <= 2 * (name.size() + 1) * (piece.text.size() + 1), "a match takes too many steps",
          piece.text, name);
  }
  return 0;
}
