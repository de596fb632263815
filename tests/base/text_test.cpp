// The text helpers that decide what a chat client or a terminal may be
// handed: which characters count as controls, and how a text is shown on
// one terminal line.
#include <gtest/gtest.h>

#include "base/text.h"

namespace zuvo {
namespace {

TEST(Text, ControlCharacters) {
  struct Case {
    std::u16string text;
    bool control;
  } cases[] = {
      {u"", false},
      {u"plain /path/a b.txt", false},
      {u"tab\there", true},
      {u"cr\r", true},
      {u"lf\n", true},
      {u"\x12rlist", true},
      {u"del\x7f", true},
      {u"nel\u0085", true},
      {u"csi\u009b", true},
      {u"\u00a0nbsp", false},
      {u"ls\u2028", true},
      {u"ps\u2029", true},
      {u"rlo\u202e", false},  // a direction mark breaks no line
      {u"\u65e5\u672c", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(PrintableText(c.text));
    EXPECT_EQ(HasControlCharacter(c.text), c.control);
  }
}

TEST(Text, PrintableOnOneTerminalLine) {
  struct Case {
    std::u16string text;
    std::string shown;
  } cases[] = {
      {u"plain", "plain"},
      {u"a\x1b[2Jb", "a^[[2Jb"},
      {u"line\r\nbreak", "line^M^Jbreak"},
      {u"\x12rfile", "^Rrfile"},
      {u"\x7f", "^?"},
      {u"\u009b31m", "^[[31m"},
      {u"\u0085", "^[E"},
      {u"caf\u00e9 \u65e5", "caf\xc3\xa9 \xe6\x97\xa5"},
      {u"lone\xd800", "lone\xef\xbf\xbd"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    EXPECT_EQ(PrintableText(c.text), c.shown);
  }
}

}  // namespace
}  // namespace zuvo
