#include <gtest/gtest.h>

#include "base/text.h"
#include "files/dir_recurse.h"
#include "host/common/idle_event_pump.h"

namespace zuvo {
namespace {

struct Case {
  const char* in;
  const char* out;
};

void CheckTable(PathStyle style, const std::vector<Case>& table) {
  auto fs = CreatePlatformFileSystem();
  IdleEventPump pump;
  DirRecurse dr(*fs, pump, style);
  for (const Case& c : table) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(dr.NormalizePath(Ascii(c.in)), Ascii(c.out));
  }
}

TEST(NormalizePath, WindowsStyle) {
  CheckTable(PathStyle::kWindows, {
                                      {"C:\\share\\", "C:\\share"},
                                      {"C:\\share\\\\\\", "C:\\share"},
                                      {"C:\\", "C:"},
                                      {"C:/a/b", "C:\\a\\b"},
                                      {"C:\\a/", "C:\\a\\"},  // "/" converted after the trim
                                      {"C:\\a\\\\b", "C:\\a\\b"},
                                      {"C:\\a\\\\\\b", "C:\\a\\\\b"},    // three become two
                                      {"C:\\a\\\\\\\\b", "C:\\a\\\\b"},  // four become two
                                      {"C://a//b", "C:\\a\\b"},
                                      {"\\\\server\\share", "\\\\server\\share"},
                                      {"\\\\server\\\\share\\", "\\\\server\\share"},
                                      {"//server/share", "\\\\server\\share"},
                                      {"/", "/"},
                                      {"\\", "\\"},
                                      {"ab", "ab"},
                                      {"a/", "a/"},
                                      {"\\\\", "\\\\"},
                                      {"\\\\\\", ""},
                                      {"\\\\\\\\\\", ""},
                                      {"", ""},
                                      {"abc", "abc"},
                                      {" C:\\x ", " C:\\x "},  // blanks are kept
                                      {"C:\\a\\.\\..", "C:\\a\\.\\.."},
                                  });
}

TEST(NormalizePath, PosixStyle) {
  CheckTable(PathStyle::kPosix, {
                                    {"/srv/share/", "/srv/share"},
                                    {"/srv/share///", "/srv/share"},
                                    {"/srv//share", "/srv/share"},
                                    {"/srv///share", "/srv//share"},
                                    {"//srv/share", "//srv/share"},  // first two kept
                                    {"/", "/"},
                                    {"//", "//"},
                                    {"///", ""},
                                    {"a/", "a/"},
                                    {"/a/", "/a"},
                                    {"/a\\b\\", "/a\\b\\"},  // "\" is a name character here
                                    {"C:\\a/", "C:\\a"},
                                    {"", ""},
                                });
}

}  // namespace
}  // namespace zuvo
