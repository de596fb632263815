#include "files/path_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace zuvo {
namespace {

using Views = std::vector<std::u16string_view>;

Views Paths(const PathList& list) { return Views(list.begin(), list.end()); }

TEST(PathListTest, KeepsOrderDuplicatesAndEmptyPathsAsLines) {
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
  EXPECT_EQ(Paths(list), (Views{u"/s/b.txt", u"/s/a.txt", u"/s/b.txt", u"", u"/s/x/", u""}));
  EXPECT_EQ(std::count(list.begin(), list.end(), u"/s/b.txt"), 2);
  EXPECT_EQ(list.text(), u"\r/s/b.txt\r/s/a.txt\r/s/b.txt\r\r/s/x/\r");

  // A path appended from one of the list's own paths is copied whole, even
  // when the buffer moves meanwhile.
  for (int i = 0; i < 1000; ++i) list.Append(*list.begin(), *std::next(list.begin()));
  EXPECT_EQ(list.size(), 1006u);
  EXPECT_EQ(Paths(list).back(), u"/s/b.txt/s/a.txt");

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
  EXPECT_EQ(list.text(), u"");
}

TEST(PathListTest, LeadStaysInFrontAndKeepsItsBuffer) {
  std::u16string reply = u"Accepted Request, Offering...";
  reply.reserve(4096);
  const char16_t* const buffer = reply.data();
  PathList list(std::move(reply));
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(list.begin(), list.end());
  EXPECT_EQ(list.chars(), 0u);
  list.Append(u"/s/", u"\u00e9\U0001F600");
  list.push_back(u"/s/ blank");
  EXPECT_EQ(Paths(list), (Views{u"/s/\u00e9\U0001F600", u"/s/ blank"}));
  EXPECT_EQ(list.chars(), 6u + 9);  // the emoji is two UTF-16 units
  list.clear();
  list.push_back(u"/s/a");
  std::u16string text = std::move(list).TakeText();
  EXPECT_EQ(text, u"Accepted Request, Offering...\r/s/a");
  EXPECT_EQ(text.data(), buffer);  // written where the caller's text was
  EXPECT_TRUE(list.empty());
}

TEST(PathListTest, ListingReplyIsTheLeadAloneWhenTheListingFails) {
  std::u16string reply = u"old";
  WriteListingReply(reply, u"head", [](PathList& list) {
    list.push_back(u"/s/a");
    list.push_back(u"/s/b");
  });
  EXPECT_EQ(reply, u"head\r/s/a\r/s/b");
  WriteListingReply(reply, u"head", [](PathList&) {});
  EXPECT_EQ(reply, u"head");
  EXPECT_THROW(WriteListingReply(reply, u"head",
                                 [](PathList& list) {
                                   list.push_back(u"/s/a");
                                   throw std::runtime_error("listing failed");
                                 }),
               std::runtime_error);
  EXPECT_EQ(reply, u"head");
}

}  // namespace
}  // namespace zuvo
