// What the user is shown of a contact's text: direction controls named,
// control characters in caret notation, everything else as it is.
#include "host/common/shown_text.h"

#include <gtest/gtest.h>

namespace zuvo {
namespace {

TEST(ShownText, NamesTheDirectionControlsAndKeepsTheRest) {
  struct Case {
    std::u16string text;
    std::string shown;
  };
  const Case cases[] = {
      {u"notes.md", "notes.md"},
      {u"\u202Etxt.exe", "<U+202E>txt.exe"},
      {u"a\u202Ab\u202Bc\u202Cd\u202De", "a<U+202A>b<U+202B>c<U+202C>d<U+202D>e"},
      {u"\u2066\u2067\u2068\u2069", "<U+2066><U+2067><U+2068><U+2069>"},
      // Their neighbours are ordinary characters (marks U+200E/F are shown).
      {u"\u2029\u2065\u206A\u200F", "\u2029\u2065\u206A\u200F"},
      {u"\x1B[2J\u0085", "^[[2J^[\x45"},
      {u"日本語 \U0001F600", "日本語 \U0001F600"},
      {u"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    EXPECT_EQ(ShownText(c.text), c.shown);
  }
  EXPECT_EQ(ShownName("bob\xE2\x80\xAEmoc.evil"), "bob<U+202E>moc.evil");
}

}  // namespace
}  // namespace zuvo
