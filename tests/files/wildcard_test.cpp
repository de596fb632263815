#include "files/wildcard.h"

#include <gtest/gtest.h>

#include "base/text.h"

namespace zuvo {
namespace {

TEST(Wildcard, MatchTable) {
  struct Case {
    const char16_t* pattern;
    const char16_t* name;
    bool match;
  };
  const Case table[] = {
      {u"*", u"a.txt", true},
      {u"*.*", u"a.txt", true},
      {u"*.*", u"README", true},  // with or without a dot
      {u"*.txt", u"a.txt", true},
      {u"*.txt", u"A.TXT", true},  // case-insensitive
      {u"*.TXT", u"a.txt", true},
      {u"*.txt", u"a.txt.bak", false},
      {u"*.txt", u"atxt", false},
      {u"*.txt", u"txt", false},
      {u"*.txt", u".txt", true},
      {u"*\u00C9", u"caf\u00E9", true},
      {u"a?c", u"abc", true},
      {u"a?c", u"ac", false},
      {u"a?c", u"abbc", false},
      {u"???", u"abc", true},
      {u"???", u"ab", false},
      {u"a*b*c", u"aXXbYYc", true},
      {u"a*b*c", u"aXXbYY", false},
      {u"*a*a*a*", u"aaa", true},
      {u"*a*a*a*b", u"aaaaaaaaaaaaaaaaaaaaaaaaaa", false},
      {u"read*.*", u"readme", true},  // a trailing ".*" may match nothing
      {u"x.*", u"x", true},
      {u"x.*", u"x.y", true},
      {u"x.*", u"xy", false},
      {u"x.", u"x.", true},
      {u" *.txt", u"a.txt", false},  // blanks are pattern characters
      {u" *.txt", u" a.txt", true},
      {u"*.txt ", u"a.txt", false},
      {u"\u00C9t\u00E9.*", u"\u00E9T\u00C9.doc", true},  // Latin-1 letters fold
      {u"\u0416*", u"\u0436ук", true},                   // Cyrillic
      // The file-name rule: I with dot above, dotless i, the Kelvin sign and
      // long s are letters of their own; other scripts' pairs fold.
      {u"\u0130\u0131\u212A\u017F", u"\u0130\u0131\u212A\u017F", true},
      {u"i*", u"\u0130", false},
      {u"I*", u"\u0131", false},
      {u"k*", u"\u212A", false},
      {u"s*", u"\u017F", false},
      {u"\u00FF\uFF41\u24D0\u10D0\u01C6", u"\u0178\uFF21\u24B6\u1C90\u01C4", true},
      {u"*.jpg", u"photo.jpeg", false},
      {u"[ab]*", u"[ab]x", true},  // no character classes
      {u"[ab]*", u"ax", false},
      {u"", u"", true},
      {u"", u"a", false},
  };
  for (const Case& c : table) {
    SCOPED_TRACE(Utf16ToUtf8(c.pattern) + " ~ " + Utf16ToUtf8(c.name));
    EXPECT_EQ(MatchWildcard(c.pattern, c.name), c.match);
    // A listing's piece matches the same (an empty piece aside: it is every file).
    const std::u16string_view pattern = c.pattern;
    if (!pattern.empty()) {
      EXPECT_EQ(SplitPatternList(pattern)[0].Matches(c.name), c.match);
    }
  }
}

TEST(Wildcard, SplitPatternList) {
  using K = PatternPiece::Kind;
  struct Case {
    const char16_t* list;
    std::vector<std::pair<std::u16string, K>> pieces;
  };
  const Case table[] = {
      {u"*.*", {{u"*.*", K::kAll}}},
      {u"", {{u"", K::kAll}}},
      {u"*.txt;", {{u"*.txt", K::kSuffix}, {u"", K::kAll}}},
      {u"*.t?t;a*", {{u"*.t?t", K::kPattern}, {u"a*", K::kPattern}}},
      // Repeats, up to letter case, and every form of "all" count once.
      {u";;", {{u"", K::kAll}}},
      {u"*.txt;*;*.TXT;;a?;*.*;A?",
       {{u"*.txt", K::kSuffix}, {u"*", K::kAll}, {u"a?", K::kPattern}}},
      {u" *.txt ; *", {{u" *.txt ", K::kPattern}, {u" *", K::kPattern}}},
      {u"../*;..\\*;C:*;a/b;..;*",
       {{u"../*", K::kNothing}, {u"*", K::kAll}}},  // all match nothing: one piece
  };
  for (const Case& c : table) {
    SCOPED_TRACE(Utf16ToUtf8(c.list));
    const std::vector<PatternPiece> got = SplitPatternList(c.list);
    ASSERT_EQ(got.size(), c.pieces.size());
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].text, c.pieces[i].first);
      EXPECT_EQ(got[i].kind, c.pieces[i].second);
    }
  }
  // A piece that matches nothing matches nothing, whatever the name.
  EXPECT_FALSE(SplitPatternList(u"..")[0].Matches(u".."));
  EXPECT_TRUE(SplitPatternList(u"")[0].Matches(u"any"));

  // The bounds count distinct pieces and their characters, not the text.
  std::u16string pieces;
  for (size_t i = 0; i < kMaxPatternPieces; ++i) pieces += (i ? u";*." : u"*.") + DecimalText(i);
  EXPECT_TRUE(PatternListWithinBounds(pieces + u";" + pieces));
  EXPECT_FALSE(PatternListWithinBounds(pieces + u";*.x"));
  EXPECT_EQ(SplitPatternList(pieces + u";*.x").size(), kMaxPatternPieces);
  EXPECT_TRUE(PatternListWithinBounds(std::u16string(kMaxPatternChars, u'?')));
  EXPECT_FALSE(PatternListWithinBounds(std::u16string(kMaxPatternChars + 1, u'?')));
  EXPECT_FALSE(PatternListWithinBounds(std::u16string(kMaxPatternChars / 2, u'?') + u";" +
                                       std::u16string(kMaxPatternChars / 2 + 1, u'*')));
}

}  // namespace
}  // namespace zuvo
