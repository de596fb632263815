#include "base/file_name_case.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace zuvo {
namespace {

// The pairs measured on the system: which letters the file-name rule keeps
// apart and which it takes as one (the whole BMP is compared with the
// system's rule by the Windows tests).
TEST(FileNameCase, MeasuredPairs) {
  const std::u16string_view apart[][2] = {
      {u"\u0130", u"i"},      {u"\u0130", u"I"},      {u"\u0131", u"i"}, {u"\u0131", u"I"},
      {u"\u0130", u"\u0131"}, {u"\u212A", u"k"},      {u"\u017F", u"s"}, {u"\u00B5", u"\u03BC"},
      {u"\u03C2", u"\u03C3"}, {u"\u01C5", u"\u01C4"},
  };
  for (const auto& pair : apart) EXPECT_FALSE(FileNamesEqual(pair[0], pair[1]));
  const std::u16string_view alike[][2] = {
      {u"i", u"I"},           {u"\u00FF", u"\u0178"}, {u"\uFF21", u"\uFF41"},
      {u"\u24B6", u"\u24D0"}, {u"\u10D0", u"\u1C90"}, {u"\u01C6", u"\u01C4"},
      {u"\u0436", u"\u0416"}, {u"\u03C3", u"\u03A3"},
  };
  for (const auto& pair : alike) EXPECT_TRUE(FileNamesEqual(pair[0], pair[1]));
  EXPECT_EQ(FileNameUpcase(u'a'), u'A');
  EXPECT_EQ(FileNameUpcase(u'_'), u'_');
}

// The committed table is what the generator makes from the Unicode data
// installed here (Debian package unicode-data).
TEST(FileNameCase, TableMatchesItsGenerator) {
  const char* data = "/usr/share/unicode/UnicodeData.txt";
  if (!std::ifstream(data)) GTEST_SKIP() << "no " << data;
  const std::string command =
      std::string("python3 " ZUVO_SOURCE_DIR "/scripts/gen-file-name-case ") + data + " - 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string generated;
  char buffer[4096];
  while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) generated.append(buffer, n);
  if (::pclose(pipe) != 0) GTEST_SKIP() << "generator did not run: " << generated;
  std::ostringstream committed;
  committed << std::ifstream(ZUVO_SOURCE_DIR "/base/file_name_case_table.cpp").rdbuf();
  EXPECT_TRUE(generated == committed.str()) << "run scripts/gen-file-name-case";
}

}  // namespace
}  // namespace zuvo
