// The file-backed registry stand-in: exact texts survive the text file,
// keys are never created by opening them, other processes' writes are seen
// and kept, a killed writer leaves a readable store, and a store that does
// not parse is reported and left alone.
#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <random>

#include "base/text.h"
#include "settings/registry.h"
#include "support/settings_test_support.h"

namespace zuvo {
namespace {

using testing::ReadFileBytes;
using testing::SettingsSubKey;
using testing::TempDir;
using testing::TestRegistry;
using testing::WriteFileBytes;

// Values as UTF-8, read and written as UTF-16 through the seam.
std::optional<std::string> Get(RegistryBackend& backend, const std::string& subKey,
                               const std::string& name) {
  KeyHandle key = 0;
  if (backend.OpenKey(kHkeyLocalMachine, subKey, KeyAccess::kRead, key) != reg::kSuccess) {
    return std::nullopt;
  }
  std::u16string buffer(1024, u'\x7f');
  uint32_t size = static_cast<uint32_t>(buffer.size());
  const long status = backend.QueryValue(key, name, buffer.data(), size);
  backend.CloseKey(key);
  if (status != reg::kSuccess) return std::nullopt;
  buffer.resize(size);
  return Utf16ToUtf8(buffer);
}

long Put(RegistryBackend& backend, const std::string& subKey, const std::string& name,
         std::u16string_view data) {
  KeyHandle key = 0;
  long status = backend.OpenKey(kHkeyLocalMachine, subKey, KeyAccess::kWrite, key);
  if (status != reg::kSuccess) return status;
  status = backend.SetValue(key, name, data);
  backend.CloseKey(key);
  return status;
}
long Put(RegistryBackend& backend, const std::string& subKey, const std::string& name,
         const std::string& utf8) {
  return Put(backend, subKey, name, std::u16string_view(Utf8ToUtf16(utf8)));
}

size_t TemporaryFiles(const std::string& dir) {
  size_t count = 0;
  DIR* d = ::opendir(dir.c_str());
  while (const dirent* e = ::readdir(d))
    count += std::string(e->d_name).find(".tmp.") != std::string::npos;
  ::closedir(d);
  return count;
}

TEST(RegistryStore, RoundTripsAnyTextAndNames) {
  const std::pair<std::string, std::string> values[] = {
      {"Start On", std::string("1\0", 2)},
      {"empty with NUL", std::string("\0", 1)},
      {"empty", ""},
      {"no NUL", "abc"},
      {"inner NUL", std::string("a\0b\0", 4)},
      {"two NULs", std::string("ab\0\0", 4)},
      {"controls", std::string("\n\r\t\x7f\0", 5)},
      {"escapes", std::string("q\"b\\s [x] @=\0", 13)},
      {"UTF-8", std::string("\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\0", 10)},
      {"long", std::string(300, 'L') + '\0'},
      {"", std::string("default\0", 8)},
      {"@", std::string("at\0", 3)},
      {"name \"quoted\" \\ with\nbreak", std::string("x\0", 2)},
      {"\xff name", std::string("y\0", 2)},
  };
  TestRegistry t;
  t.CreateSettingsKey();
  for (const auto& [name, data] : values) t.PutRaw(name, data);

  std::unique_ptr<RegistryBackend> reopened = OpenPlatformRegistry(t.storePath());
  for (const auto& [name, data] : values) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Get(*reopened, SettingsSubKey(), name), data);
  }
  // Ordinary texts stay readable in the file.
  const std::string text = ReadFileBytes(t.storePath());
  EXPECT_EQ(text.rfind("REGEDIT4\n", 0), 0u);
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\" + SettingsSubKey() + "]\n"), std::string::npos);
  EXPECT_NE(text.find("\"Start On\"=\"1\"\n"), std::string::npos);
  EXPECT_NE(text.find("\"no NUL\"=hex(1):61,62,63\n"), std::string::npos);
  EXPECT_NE(text.find("@=\"default\"\n"), std::string::npos);
  EXPECT_NE(text.find("\"escapes\"=\"q\\\"b\\\\s [x] @=\"\n"), std::string::npos);

  // A text that UTF-8 cannot carry is refused and the old value kept.
  const std::u16string loneSurrogate = {u'C', u':', 0xD800, 0};
  EXPECT_EQ(Put(*reopened, SettingsSubKey(), "Start On", loneSurrogate),
            reg::kNoUnicodeTranslation);
  EXPECT_EQ(ReadFileBytes(t.storePath()), text);
  EXPECT_EQ(Get(*reopened, SettingsSubKey(), "Start On"), std::string("1\0", 2));
}

TEST(RegistryStore, QueryAddsNulOnlyWhenMissingAndThereIsRoom) {
  TestRegistry t;
  t.CreateSettingsKey();
  t.PutRaw("bare", "abc");
  t.PutRaw("terminated", std::string("abc\0", 4));
  KeyHandle key = 0;
  ASSERT_EQ(t.file->OpenKey(kHkeyLocalMachine, SettingsSubKey(), KeyAccess::kRead, key),
            reg::kSuccess);
  struct Case {
    const char* name;
    uint32_t capacity;
    long status;
    std::u16string units;  // the buffer afterwards (capacity units)
    uint32_t size;
  };
  const Case cases[] = {
      {"bare", 5, reg::kSuccess, std::u16string(u"abc\0-", 5), 3},
      {"bare", 3, reg::kSuccess, u"abc", 3},
      {"bare", 2, reg::kMoreData, u"--", 3},
      {"terminated", 4, reg::kSuccess, std::u16string(u"abc\0", 4), 4},
      {"terminated", 3, reg::kMoreData, u"---", 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " in " + std::to_string(c.capacity));
    std::u16string buffer(c.capacity, u'-');
    uint32_t size = c.capacity;
    EXPECT_EQ(t.file->QueryValue(key, c.name, buffer.data(), size), c.status);
    EXPECT_EQ(buffer, c.units);
    EXPECT_EQ(size, c.size);
  }
  EXPECT_EQ(t.file->CloseKey(key), reg::kSuccess);
  EXPECT_EQ(t.file->CloseKey(key), reg::kInvalidHandle);
}

TEST(RegistryStore, KeysExistOnlyWhenCreatedAndCompareWithoutCase) {
  TestRegistry t;
  RegistryBackend& b = *t.file;
  KeyHandle key = 0;
  const std::string before = ReadFileBytes(t.storePath());
  EXPECT_EQ(b.OpenKey(kHkeyLocalMachine, "SOFTWARE\\Dravoux", KeyAccess::kWrite, key),
            reg::kFileNotFound);
  EXPECT_EQ(ReadFileBytes(t.storePath()), before);
  // A root key alone always opens; an unknown root never does.
  ASSERT_EQ(b.OpenKey(kHkeyLocalMachine, "", KeyAccess::kRead, key), reg::kSuccess);
  // A key opened for reading takes no writes.
  EXPECT_EQ(b.SetValue(key, "x", u"y"), reg::kAccessDenied);
  b.CloseKey(key);
  EXPECT_EQ(b.OpenKey(0x80000010, "", KeyAccess::kRead, key), reg::kInvalidHandle);

  ASSERT_EQ(b.CreateKey(kHkeyLocalMachine, "SOFTWARE\\Dravoux\\Parlix2"), reg::kSuccess);
  for (const char* path : {"SOFTWARE", "SOFTWARE\\Dravoux", "software\\DRAVOUX\\parlix2"}) {
    SCOPED_TRACE(path);
    ASSERT_EQ(b.OpenKey(kHkeyLocalMachine, path, KeyAccess::kRead, key), reg::kSuccess);
    b.CloseKey(key);
  }
  for (const char* path : {"SOFTWARE\\", "\\SOFTWARE", "SOFTWARE\\\\Dravoux", "SOFTWARE\\Other"}) {
    SCOPED_TRACE(path);
    EXPECT_NE(b.OpenKey(kHkeyLocalMachine, path, KeyAccess::kRead, key), reg::kSuccess);
  }
  EXPECT_EQ(b.OpenKey(kHkeyCurrentUser, "SOFTWARE", KeyAccess::kRead, key), reg::kFileNotFound);

  ASSERT_EQ(Put(b, "SOFTWARE\\Dravoux", "Start On", std::u16string(u"1\0", 2)), reg::kSuccess);
  ASSERT_EQ(Put(b, "software\\dravoux", "START ON", std::u16string(u"0\0", 2)), reg::kSuccess);
  EXPECT_EQ(Get(b, "SOFTWARE\\DRAVOUX", "start on"), std::string("0\0", 2));
  // The first spelling of a name is the one kept.
  EXPECT_NE(ReadFileBytes(t.storePath())
                .find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Dravoux]\n\"Start On\"=\"0\""),
            std::string::npos);
}

TEST(RegistryStore, ReadsHandWrittenExports) {
  TempDir dir;
  const std::string path = dir.File("hand.reg");
  WriteFileBytes(path,
                 "REGEDIT4\r\n"
                 "; the plug-in's key\r\n"
                 "\r\n"
                 "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]  \r\n"
                 "\"x\"=\"one\"\r\n"
                 "@=hex(1):61,\\\r\n"
                 "  62,00\r\n"
                 "[HKEY_CURRENT_USER]\r\n"
                 "\"r\"=\"root value\"\r\n"
                 "[HKEY_LOCAL_MACHINE\\SOFTWARE\\a]\r\n"
                 "\"y\"=\"two\"\r\n"
                 "\"x\"=\"three\"\r\n");
  const std::string original = ReadFileBytes(path);
  std::unique_ptr<RegistryBackend> b = OpenPlatformRegistry(path);
  EXPECT_EQ(Get(*b, "SOFTWARE\\A", "x"), std::string("three\0", 6));
  EXPECT_EQ(Get(*b, "SOFTWARE\\A", "y"), std::string("two\0", 4));
  EXPECT_EQ(Get(*b, "SOFTWARE\\A", ""), std::string("ab\0", 3));
  KeyHandle key = 0;
  ASSERT_EQ(b->OpenKey(kHkeyCurrentUser, "", KeyAccess::kRead, key), reg::kSuccess);
  char16_t buffer[32];
  uint32_t size = std::size(buffer);
  EXPECT_EQ(b->QueryValue(key, "r", buffer, size), reg::kSuccess);
  EXPECT_EQ(std::u16string(buffer, size), std::u16string(u"root value\0", 11));
  b->CloseKey(key);
  // Reading never rewrites the file.
  EXPECT_EQ(ReadFileBytes(path), original);
}

TEST(RegistryStore, MalformedStoreIsReportedWithItsLineAndLeftAlone) {
  const std::pair<const char*, std::string> cases[] = {
      {":1:", "[HKEY_LOCAL_MACHINE\\A]\n"},
      {":2:", "REGEDIT4\n\"x\"=\"value before any key\"\n"},
      {":3:", "REGEDIT4\n\n[HKEY_NOWHERE\\A]\n"},
      {":3:", "REGEDIT4\n[HKEY_USERS\\A]\n\"x\"=\"unterminated\n"},
      {":3:", "REGEDIT4\n[HKEY_USERS\\A]\n\"x\"=\"bad \\n escape\"\n"},
      {":3:", "REGEDIT4\n[HKEY_USERS\\A]\n\"x\"=hex(1):6g\n"},
      {":3:", "REGEDIT4\n[HKEY_USERS\\A]\n\"x\"=dword:00000001\n"},
      {":3:", "REGEDIT4\n[HKEY_USERS\\A]\n\"x\"=\"a\" trailing\n"},
      {":2:", "REGEDIT4\n[HKEY_USERS\\A\n"},
      {":2:", "REGEDIT4\n[HKEY_USERS\\A\\]\n"},
      {":3:", "REGEDIT4\n[HKEY_USERS\\A]\n\"x\"=hex(1):61,\\\n"},
      {":3:", "REGEDIT4\n[HKEY_USERS\\A]\njunk\n"},
  };
  for (const auto& [line, text] : cases) {
    SCOPED_TRACE(text);
    TempDir dir;
    const std::string path = dir.File("bad.reg");
    WriteFileBytes(path, text);
    try {
      OpenPlatformRegistry(path);
      ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(path + line), std::string::npos) << e.what();
    }
    EXPECT_EQ(ReadFileBytes(path), text);
  }
}

TEST(RegistryStore, StoreBrokenWhileOpenIsNeitherReadNorRewritten) {
  TestRegistry t;
  t.CreateSettingsKey();
  t.registry.WriteValue(u"HKEY_LOCAL_MACHINE\\" + t.file->FromNarrow(SettingsSubKey()), u"v", u"1");
  const std::string good = ReadFileBytes(t.storePath());
  const std::string broken = good + "garbage\n";
  WriteFileBytes(t.storePath(), broken);

  const std::u16string keyPath = u"HKEY_LOCAL_MACHINE\\" + t.file->FromNarrow(SettingsSubKey());
  EXPECT_EQ(t.registry.ReadValue(keyPath, u"v"), u"Error");
  t.registry.WriteValue(keyPath, u"v", u"2");
  EXPECT_EQ(t.file->CreateKey(kHkeyLocalMachine, "SOFTWARE\\New"), reg::kBadDb);
  EXPECT_EQ(ReadFileBytes(t.storePath()), broken);
  EXPECT_EQ(t.backend.openKeys, 0);

  // Once mended, the store works again.
  WriteFileBytes(t.storePath(), good);
  EXPECT_EQ(t.registry.ReadValue(keyPath, u"v"), u"1");
  t.registry.WriteValue(keyPath, u"v", u"2");
  EXPECT_EQ(t.registry.ReadValue(keyPath, u"v"), u"2");
}

TEST(RegistryStore, MissingStoreIsCreatedEmptyButNotItsFolder) {
  TempDir dir;
  const std::string path = dir.File("new.reg");
  std::unique_ptr<RegistryBackend> b = OpenPlatformRegistry(path);
  EXPECT_EQ(ReadFileBytes(path), "REGEDIT4\n");
  EXPECT_THROW(OpenPlatformRegistry(dir.File("missing/new.reg")), std::runtime_error);
}

TEST(RegistryStore, SeesAndKeepsAnotherWritersValues) {
  TestRegistry t;
  t.CreateSettingsKey();
  std::unique_ptr<RegistryBackend> other = OpenPlatformRegistry(t.storePath());
  ASSERT_EQ(Put(*other, SettingsSubKey(), "from other", "1"), reg::kSuccess);
  EXPECT_EQ(t.GetRaw("from other"), "1");
  t.PutRaw("from first", "2");
  EXPECT_EQ(Get(*other, SettingsSubKey(), "from first"), "2");
  EXPECT_EQ(Get(*other, SettingsSubKey(), "from other"), "1");
  // A key created elsewhere opens here.
  ASSERT_EQ(other->CreateKey(kHkeyUsers, "Later"), reg::kSuccess);
  KeyHandle key = 0;
  EXPECT_EQ(t.file->OpenKey(kHkeyUsers, "Later", KeyAccess::kRead, key), reg::kSuccess);
  t.file->CloseKey(key);
}

TEST(RegistryStore, TwoProcessesWritingAtOnceLoseNothing) {
  TestRegistry t;
  t.CreateSettingsKey();
  t.PutRaw("Keep", "kept");
  constexpr int kValuesPerWriter = 30;
  pid_t children[2];
  for (int w = 0; w < 2; ++w) {
    children[w] = ::fork();
    ASSERT_GE(children[w], 0);
    if (children[w] == 0) {
      int failures = 0;
      try {
        std::unique_ptr<RegistryBackend> b = OpenPlatformRegistry(t.storePath());
        for (int i = 0; i < kValuesPerWriter; ++i) {
          const std::string name = std::string(1, static_cast<char>('A' + w)) + std::to_string(i);
          failures += Put(*b, SettingsSubKey(), name, name) != reg::kSuccess;
        }
      } catch (...) {
        failures = 1;
      }
      ::_exit(failures == 0 ? 0 : 1);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::unique_ptr<RegistryBackend> b = OpenPlatformRegistry(t.storePath());
  EXPECT_EQ(Get(*b, SettingsSubKey(), "Keep"), "kept");
  for (int w = 0; w < 2; ++w) {
    for (int i = 0; i < kValuesPerWriter; ++i) {
      const std::string name = std::string(1, static_cast<char>('A' + w)) + std::to_string(i);
      EXPECT_EQ(Get(*b, SettingsSubKey(), name), name);
    }
  }
}

TEST(RegistryStore, WriterKilledAtAnyPointLeavesOldOrNewValues) {
  TestRegistry t;
  t.CreateSettingsKey();
  t.PutRaw("Keep", "kept");
  std::mt19937 random(12345);
  for (int iteration = 0; iteration < 40; ++iteration) {
    SCOPED_TRACE(iteration);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      try {
        std::unique_ptr<RegistryBackend> b = OpenPlatformRegistry(t.storePath());
        for (int i = 0;; ++i) {
          // Each value is one letter repeated; its length tells the letter.
          const char letter = static_cast<char>('a' + i % 26);
          Put(*b, SettingsSubKey(), "Value", std::string(1 + i % 26, letter));
          Put(*b, SettingsSubKey(), "Name" + std::to_string(i % 7), std::string(1, letter));
        }
      } catch (...) {
      }
      ::_exit(0);
    }
    ::usleep(std::uniform_int_distribution<useconds_t>(0, 30000)(random));
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);

    std::unique_ptr<RegistryBackend> b;
    ASSERT_NO_THROW(b = OpenPlatformRegistry(t.storePath()));
    EXPECT_EQ(Get(*b, SettingsSubKey(), "Keep"), "kept");
    if (std::optional<std::string> value = Get(*b, SettingsSubKey(), "Value")) {
      ASSERT_FALSE(value->empty());
      EXPECT_EQ(*value, std::string(value->size(), static_cast<char>('a' + value->size() - 1)));
    }
  }
  // The next writer clears what a killed one left behind.
  t.PutRaw("Keep", "kept again");
  EXPECT_EQ(TemporaryFiles(t.dir.path()), 0u);
  EXPECT_EQ(t.GetRaw("Keep"), "kept again");
}

}  // namespace
}  // namespace zuvo
