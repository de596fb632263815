// How a host cuts the texts it handles: a reply into the text for the
// contact and the files to send, a text into lines, a notification into
// its code and argument, and an answer into the path it says is coming.
#include <gtest/gtest.h>

#include "base/text.h"
#include "core/notify_text.h"
#include "host/common/drop_file.h"
#include "host/common/notice_text.h"

namespace zuvo {
namespace {

TEST(ReplyText, DropFileLinesAreTakenOutAtLineFeedsOnly) {
  struct Case {
    const char* what;
    std::u16string reply;
    std::u16string text;
    std::vector<std::u16string> files;
  } cases[] = {
      {"no command",
       u"Accepted Request, Offering...\r/a",
       u"Accepted Request, Offering...\r/a",
       {}},
      {"the file answer",
       u"Accepted Request, Sending File /a...\n#/dropfile /a",
       u"Accepted Request, Sending File /a...",
       {u"/a"}},
      {"several, text between", u"x\n#/dropfile /a\ny\n#/dropfile /b", u"x\ny", {u"/a", u"/b"}},
      {"a command after CR is text", u"x\r#/dropfile /a", u"x\r#/dropfile /a", {}},
      {"not at the line's start", u"x\n #/dropfile /a", u"x\n #/dropfile /a", {}},
      {"letter case counts", u"#/DropFile /a", u"#/DropFile /a", {}},
      {"an empty path", u"#/dropfile ", u"", {u""}},
      {"CR LF keeps its CR", u"a\r\n#/dropfile /b\r", u"a\r", {u"/b\r"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ReplyParts parts = SplitDropFiles(c.reply);
    EXPECT_EQ(parts.text, c.text);
    EXPECT_EQ(parts.files, c.files);
  }
}

TEST(ReplyText, LinesEndAtCrLfOrCrLf) {
  struct Case {
    std::u16string text;
    std::vector<std::u16string> lines;
  } cases[] = {
      {u"", {u""}},
      {u"one", {u"one"}},
      {u"a\rb\nc\r\nd", {u"a", u"b", u"c", u"d"}},
      {u"a\n\rb", {u"a", u"", u"b"}},
      {u"end\r\n", {u"end", u""}},
      {u"\r\r", {u"", u"", u""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(PrintableText(c.text));
    EXPECT_EQ(SplitLines(c.text), c.lines);
  }
}

TEST(ReplyText, NotificationsAndTheFileComing) {
  struct Notify {
    std::u16string text;
    std::optional<std::pair<std::u16string, std::u16string>> parts;
  } notes[] = {
      {u"\x12rlist*.txt", {{u"rlist", u"*.txt"}}},
      {u"\x12rfile", {{u"rfile", u""}}},
      {u"\x12rfi", {{u"rfi", u""}}},
      {u"\x12", {{u"", u""}}},
      {u"rlist", std::nullopt},
      {u"", std::nullopt},
  };
  for (const Notify& n : notes) {
    SCOPED_TRACE(PrintableText(n.text));
    const std::optional<Notification> parsed = ParseNotification(n.text);
    ASSERT_EQ(parsed.has_value(), n.parts.has_value());
    if (parsed) {
      EXPECT_EQ(parsed->code, n.parts->first);
      EXPECT_EQ(parsed->argument, n.parts->second);
    }
  }
  EXPECT_EQ(FindRequestCode(u"RLIST"), RequestCode::kList);
  EXPECT_FALSE(FindRequestCode(u"rlis"));

  struct Coming {
    std::u16string answer;
    std::optional<std::u16string> path;
  } coming[] = {
      {u"Accepted Request, Sending File /s/a.txt...\n#/dropfile /s/a.txt", u"/s/a.txt"},
      {u"Accepted Request, Sending File ...", u""},
      {u"Accepted Request, Sending File /a..\n", std::nullopt},
      {u"accepted request, sending file /a...", std::nullopt},
      {u"Accepted Request, Offering...", std::nullopt},
  };
  for (const Coming& c : coming) {
    SCOPED_TRACE(PrintableText(c.answer));
    EXPECT_EQ(SendingFilePath(c.answer), c.path);
  }
}

}  // namespace
}  // namespace zuvo
