#include "files/path_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "base/text.h"

namespace zuvo {
namespace {

using Views = std::vector<std::u16string_view>;

TEST(PathListTest, KeepsOrderDuplicatesAndEmptyPaths) {
  PathList list;
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(list.begin(), list.end());
  list.Append(u"/s/", u"b.txt");
  list.push_back(u"/s/a.txt");
  list.Append(u"/s/", u"b.txt");
  list.Append(u"", u"");
  list.Append(u"/s/x/", u"");
  list.push_back(u"");
  ASSERT_EQ(list.size(), 6u);
  EXPECT_FALSE(list.empty());
  EXPECT_EQ(list.chars(), 8u + 8 + 8 + 0 + 5 + 0);
  EXPECT_EQ(Views(list.begin(), list.end()),
            (Views{u"/s/b.txt", u"/s/a.txt", u"/s/b.txt", u"", u"/s/x/", u""}));
  EXPECT_EQ(list[1], u"/s/a.txt");
  EXPECT_EQ(list.end() - list.begin(), 6);
  EXPECT_EQ(*(list.begin() + 4), u"/s/x/");
  EXPECT_EQ(std::count(list.begin(), list.end(), u"/s/b.txt"), 2);

  // A path appended from one of the list's own paths is copied whole, even
  // when the buffer moves meanwhile.
  for (int i = 0; i < 1000; ++i) list.Append(list[0], list[1]);
  EXPECT_EQ(list[list.size() - 1], u"/s/b.txt/s/a.txt");

  PathList same;
  same.push_back(u"x");
  PathList other;
  other.Append(u"x", u"");
  EXPECT_EQ(same, other);
  other.push_back(u"");
  EXPECT_FALSE(same == other);
  list.clear();
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(list.chars(), 0u);
}

TEST(PathListTest, LinesLeaveOutPathsWithControlCharacters) {
  PathList list;
  list.push_back(u"/s/a");
  list.push_back(u"/s/line\nbreak");
  list.push_back(u"/s/\u00e9\U0001F600");
  list.push_back(u"/s/cr\r");
  list.push_back(std::u16string_view(u"/s/nul\0x", 8));
  list.push_back(u"/s/tab\tx");
  list.push_back(u"/s/\u001fus");
  list.push_back(u"/s/ blank");
  std::u16string text = u"Accepted Request, Offering...";
  AppendPathLines(text, list);
  EXPECT_EQ(text, u"Accepted Request, Offering...\r/s/a\r/s/\u00e9\U0001F600\r/s/ blank");
  std::u16string none = u"head";
  AppendPathLines(none, PathList());
  EXPECT_EQ(none, u"head");
}

}  // namespace
}  // namespace zuvo
