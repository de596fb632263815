// A file received for the user, whatever carried it: its stored name, the
// free name it is published under, what is checked before that, the mode it
// gets, and that a failure leaves nothing behind.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>

#include "host/common/received_file.h"
#include "support/settings_test_support.h"

namespace zuvo {
namespace {
using zuvo::testing::ReadFileBytes;
using zuvo::testing::TempDir;
using zuvo::testing::WriteFileBytes;
namespace fs = std::filesystem;

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(folder)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

Announced Both(const std::string& data) { return {data.size(), Sha256Of(data)}; }

TEST(ReceivedFileNames, SafeAndFreeNames) {
  struct Case {
    std::u16string offered, stored;
  } safe[] = {
      {u"report.txt", u"report.txt"},
      {u"../../etc/passwd", u"passwd"},
      {u"C:\\Users\\ann\\secret.doc", u"secret.doc"},
      {u"..", u"download"},
      {u"", u"download"},
      {u"dir/", u"download"},
      {u"a\nb\x12:c?.txt", u"a_b__c_.txt"},
      {u"trailing. ", u"trailing"},
      {u".hidden", u"hidden"},
      {u"..bashrc", u"bashrc"},
      {u"invoice\u202Efdp.exe", u"invoice_fdp.exe"},
      {u"a\u0085b\u2028c\u2066d\u200Fe\u009Bf\x7Fg", u"a_b_c_d_e_f_g"},
      {u"AUX.tar.gz", u"_AUX.tar.gz"},
      {u"com1", u"_com1"},
      {u"LPT9 .txt", u"_LPT9 .txt"},
      {u"CONSOLE.txt", u"CONSOLE.txt"},
      {u"COM0", u"COM0"},
  };
  for (const Case& c : safe) {
    SCOPED_TRACE(std::string(c.offered.begin(), c.offered.end()));
    EXPECT_EQ(SafeFileName(c.offered), c.stored);
  }
  const std::u16string longName = std::u16string(300, u'n') + u".txt";
  const std::u16string shortened = SafeFileName(longName);
  EXPECT_LE(shortened.size(), 80u);
  EXPECT_EQ(shortened.substr(shortened.size() - 4), u".txt");

  struct Free {
    std::u16string name;
    unsigned n;
    std::u16string candidate;
  } free[] = {
      {u"a.txt", 0, u"a.txt"},         {u"a.txt", 1, u"a (1).txt"},
      {u"a.txt", 12, u"a (12).txt"},   {u"noext", 2, u"noext (2)"},
      {u".bashrc", 1, u".bashrc (1)"}, {u"a.tar.gz", 1, u"a.tar (1).gz"},
  };
  for (const Free& f : free) EXPECT_EQ(CandidateName(f.name, f.n), f.candidate);
}

TEST(ReceivedFile, PublishedUnderAFreeNameOnlyAfterVerifyingWithTheUmasksMode) {
  TempDir dir;
  WriteFileBytes(dir.path() / "a.txt", "old");
  WriteFileBytes(dir.path() / "a (1).txt", "older");
  const std::string data(200000, 'd');
  const mode_t saved = umask(027);
  HostError error;
  {
    SCOPED_TRACE("the bytes passed through the host");
    auto in = IncomingFile::Open(dir.path(), u"../a.txt", Both(data), error);
    ASSERT_TRUE(in) << Describe(error);
    ASSERT_FALSE(in->Write(data.substr(0, 1000)).failed());
    // Mid-transfer nothing new carries a final name; the temporary one
    // says what it is.
    EXPECT_EQ(Names(dir.path()).size(), 3u);
    EXPECT_TRUE(fs::exists(dir.path() / "a.txt.part"));
    ASSERT_FALSE(in->Write(data.substr(1000)).failed());
    ASSERT_FALSE((error = in->Finish()).failed()) << Describe(error);
    EXPECT_TRUE(in->digestVerified());
    EXPECT_EQ(in->finalPath(), dir.path() / "a (2).txt");
  }
  {
    SCOPED_TRACE("a transport that writes the file by name");
    auto in = IncomingFile::Open(dir.path(), u"a.txt", {}, error);
    ASSERT_TRUE(in);
    std::ofstream(in->HandOver(), std::ios::binary | std::ios::trunc) << "by name";
    ASSERT_FALSE((error = in->Finish()).failed()) << Describe(error);
    EXPECT_FALSE(in->digestVerified());  // nothing was announced to check
    EXPECT_EQ(in->received(), 7u);
    EXPECT_EQ(in->finalPath(), dir.path() / "a (3).txt");
  }
  umask(saved);
  EXPECT_EQ(ReadFileBytes(dir.path() / "a (2).txt"), data);
  EXPECT_EQ(ReadFileBytes(dir.path() / "a (3).txt"), "by name");
  EXPECT_EQ(ReadFileBytes(dir.path() / "a.txt"), "old");
  EXPECT_EQ(ReadFileBytes(dir.path() / "a (1).txt"), "older");
  for (const char* name : {"a (2).txt", "a (3).txt"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(fs::status(dir.path() / name).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  }
  EXPECT_EQ(Names(dir.path()).size(), 4u);
}

TEST(ReceivedFile, FailuresLeaveNothingBehind) {
  TempDir dir;
  const std::string data = "0123456789";
  HostError error;
  struct Case {
    const char* what;
    Announced announced;
    std::string written;
    bool byName;
  } cases[] = {
      {"checksum mismatch", {data.size(), Sha256Of("other")}, data, false},
      {"more bytes than offered", {4, Sha256Of("0123")}, data, false},
      {"fewer bytes than offered", {11, Sha256Of(data)}, data, false},
      {"written by name, another size than announced", {11, std::nullopt}, data, true},
      {"written by name, another checksum", {std::nullopt, Sha256Of("x")}, data, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto in = IncomingFile::Open(dir.path(), u"b.bin", c.announced, error);
    ASSERT_TRUE(in);
    if (c.byName) {
      std::ofstream(in->HandOver(), std::ios::binary) << c.written;
      error = in->Finish();
    } else {
      error = in->Write(c.written);
      if (!error.failed()) error = in->Finish();
    }
    EXPECT_EQ(error.kind, HostErrorKind::kBadTransfer);
  }
  {
    SCOPED_TRACE("abandoned half way");
    auto in = IncomingFile::Open(dir.path(), u"b.bin", Both(data), error);
    ASSERT_FALSE(in->Write(data.substr(0, 5)).failed());
  }
  EXPECT_TRUE(Names(dir.path()).empty());
}

TEST(ReceivedFile, FreeSpaceIsJudgedWhereTheFolderWillBe) {
  TempDir dir;
  EXPECT_FALSE(CheckFreeSpace(dir.path() / "not" / "made" / "yet", 1).failed());
  EXPECT_EQ(CheckFreeSpace(dir.path(), ~uint64_t{0}).kind, HostErrorKind::kNoRoom);
}

}  // namespace
}  // namespace zuvo
