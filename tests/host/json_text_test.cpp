#include "host/console/json_text.h"

#include <gtest/gtest.h>

#include "base/text.h"

namespace zuvo {
namespace {

using namespace std::string_view_literals;

TEST(JsonText, AnyUtf16TextTravelsAsAsciiAndBack) {
  const std::u16string texts[] = {
      u"",
      u"plain / text",
      u"quote \" backslash \\",
      std::u16string(u"controls \0 \x01 \n \r \t \x1f \x7f"sv),
      u"line separators \u2028 \u2029 \u0085",
      u"\u00e9\u20ac\ufeff\uffff",
      u"pair \U0001F600",
      u"lone high \xd800 end",
      u"lone low \xdc00",
      u"reversed \xdc00\xd800",
  };
  for (const std::u16string& text : texts) {
    SCOPED_TRACE(Utf16ToUtf8(text));
    const std::string quoted = json::Quote(text);
    for (char c : quoted) {
      ASSERT_TRUE(c >= 0x20 && c < 0x7f) << static_cast<int>(c);
    }
    const json::Value back = json::Parse(quoted);
    ASSERT_EQ(back.type, json::Value::Type::kString);
    EXPECT_EQ(back.string, text);
  }
  EXPECT_EQ(json::Quote(u"\u00e9\xd800\n"), "\"\\u00e9\\ud800\\u000a\"");
  // Raw UTF-8 and escapes read the same; \u escapes are single code units.
  EXPECT_EQ(json::Parse("\"\xc3\xa9\\u00e9\\ud83d\\ude00\xf0\x9f\x98\x80\\/\"").string,
            u"\u00e9\u00e9\U0001F600\U0001F600/");
}

TEST(JsonText, ReadsObjectsArraysAndNumbers) {
  const json::Value v = json::Parse(
      " {\"a\": [1, -2, 3.5, 1e3, true, false, null, {}], \"b\": {\"c\": \"d\"}, \"a\": 7}\r\n");
  ASSERT_EQ(v.type, json::Value::Type::kObject);
  EXPECT_EQ(v.object.size(), 3u);
  EXPECT_EQ(v.Find(u"a")->AsInt32(), 7);  // the last of a repeated name
  const json::Value& list = v.object[0].second;
  ASSERT_EQ(list.array.size(), 8u);
  EXPECT_EQ(list.array[1].AsInt32(), -2);
  EXPECT_EQ(list.array[2].AsInt32(), std::nullopt);
  EXPECT_EQ(list.array[3].AsInt32(), std::nullopt);
  EXPECT_TRUE(list.array[4].boolean);
  EXPECT_EQ(v.Find(u"b")->Find(u"c")->string, u"d");
  EXPECT_EQ(json::Parse("2147483647").AsInt32(), INT32_MAX);
  EXPECT_EQ(json::Parse("-2147483648").AsInt32(), INT32_MIN);
  EXPECT_EQ(json::Parse("2147483648").AsInt32(), std::nullopt);
  EXPECT_EQ(json::Parse("\"1\"").AsInt32(), std::nullopt);
}

TEST(JsonText, RejectsWhatIsNotJson) {
  const std::string bad[] = {
      "",
      "   ",
      "{",
      "{\"a\":1,}",
      "[1 2]",
      "{\"a\" 1}",
      "{a:1}",
      "'x'",
      "\"unterminated",
      "\"raw\ttab\"",
      "\"bad \\x escape\"",
      "\"short \\u12\"",
      "01",
      "1.",
      "-",
      "+1",
      "nul",
      "{} {}",
      "\"\xff\"",
      "\"\xc3\"",
      "\"\xc0\xaf\"",          // overlong
      "\"\xed\xa0\x80\"",      // an encoded surrogate
      "\"\xf4\x90\x80\x80\"",  // beyond U+10FFFF
      std::string(1000, '['),
  };
  for (const std::string& text : bad) {
    SCOPED_TRACE(text.substr(0, 40));
    EXPECT_THROW(json::Parse(text), json::ParseError);
  }
  EXPECT_NO_THROW(json::Parse(std::string(60, '[') + std::string(60, ']')));
}

}  // namespace
}  // namespace zuvo
