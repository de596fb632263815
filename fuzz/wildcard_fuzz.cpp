// The file-name patterns of the listings against a plain table-filling
// matcher: both agree on every pattern and name, and a pattern list splits
// into pieces that give the text back. libFuzzer's time limit catches a
// pattern that makes the matcher run away.
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

  // The pieces of a list give the list back, joined with ";".
  const std::vector<PatternPiece> pieces = SplitPatternList(pattern);
  std::u16string joined;
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (i > 0) joined += u';';
    joined += pieces[i].text;
    if (pieces[i].kind == PatternPiece::Kind::kNothing) {
      Check(!pieces[i].Matches(name), "a piece that reaches outside matches", pieces[i].text);
    }
  }
  Check(joined == pattern, "the pieces do not give the pattern list back", pattern, joined);
  return 0;
}
