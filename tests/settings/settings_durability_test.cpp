// The settings are never lost: a writer killed at any moment leaves every
// value either as it was or as it was being written, and a full disk leaves
// the store file exactly as it was. The writes go through the Registry
// module, as "Apply" makes them.
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "base/text.h"
#include "settings/registry.h"
#include "settings/settings_store.h"
#include "support/settings_test_support.h"

namespace zuvo {
namespace {

using testing::FakeMessageBox;
using testing::ReadFileBytes;
using testing::TestRegistry;

const char16_t* const kNames[] = {kSharedFolderValue, kStartOnValue, kSubFoldersValue};

// What write number |n| stores: the value it goes to and the text.
std::u16string ValueOfWrite(long n) {
  return u"/srv/share/" + DecimalText(static_cast<uint64_t>(n));
}

// Shared with the writer: the number of the write under way and of the last
// one that returned.
struct Progress {
  std::atomic<long> started{-1};
  std::atomic<long> completed{-1};
};

TEST(SettingsDurability, WriterKilledAtRandomKeepsOldOrNewValues) {
  // ZUVO_KILL_ITERATIONS sets the number of kills; the default keeps the
  // test to a few seconds.
  const char* env = std::getenv("ZUVO_KILL_ITERATIONS");
  const int iterations = env ? std::atoi(env) : 300;
  TestRegistry t;
  t.CreateSettingsKey();
  auto* progress = static_cast<Progress*>(
      ::mmap(nullptr, sizeof(Progress), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(progress, MAP_FAILED);
  new (progress) Progress;

  std::mt19937 random(2026);
  // What each value holds as far as the writers have told.
  std::u16string expected[3] = {u"Error", u"Error", u"Error"};
  long next = 0;
  int midWrite = 0;
  for (int iteration = 0; iteration < iterations; ++iteration) {
    SCOPED_TRACE(iteration);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      try {
        std::unique_ptr<RegistryBackend> store = OpenPlatformRegistry(t.storePath());
        FakeMessageBox box;
        Registry registry(*store, box);
        for (long n = next;; ++n) {
          progress->started = n;
          registry.WriteValue(kSettingsKeyPath, kNames[n % 3], ValueOfWrite(n));
          progress->completed = n;
        }
      } catch (...) {
      }
      ::_exit(1);
    }
    ::usleep(std::uniform_int_distribution<useconds_t>(0, 40000)(random));
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));

    const long started = progress->started, completed = progress->completed;
    for (long n = next; n <= completed; ++n) expected[n % 3] = ValueOfWrite(n);
    const bool inFlight = started > completed;
    midWrite += inFlight && started >= next;
    std::unique_ptr<RegistryBackend> store;
    ASSERT_NO_THROW(store = OpenPlatformRegistry(t.storePath())) << "the store no longer parses";
    FakeMessageBox box;
    Registry registry(*store, box);
    for (size_t i = 0; i < 3; ++i) {
      SCOPED_TRACE(Utf16ToUtf8(kNames[i]));
      const std::u16string value = registry.ReadValue(kSettingsKeyPath, kNames[i]);
      // The write the kill interrupted may have landed or not; every other
      // value is exactly what was last written to it.
      if (inFlight && static_cast<size_t>(started % 3) == i && value == ValueOfWrite(started)) {
        expected[i] = value;
      }
      EXPECT_EQ(value, expected[i]) << "after writes " << completed << "/" << started;
    }
    next = started + 1;
  }
  std::printf("[ measure  ] %d kills (%d in the middle of a write), %ld writes, no value lost\n",
              iterations, midWrite, next);
  ::testing::Test::RecordProperty("kill iterations", iterations);
  ::testing::Test::RecordProperty("kills mid-write", midWrite);
  ::munmap(progress, sizeof(Progress));
}

TEST(SettingsDurability, FullDiskLeavesTheOldFileIntact) {
  TestRegistry t;
  t.CreateSettingsKey();
  t.registry.WriteValue(kSettingsKeyPath, kSharedFolderValue, u"/srv/old share");
  t.registry.WriteValue(kSettingsKeyPath, kStartOnValue, u"1");
  const std::string before = ReadFileBytes(t.storePath());
  const std::u16string big(4000, u'x');

  // The file-size limit stands for a disk that fills up: at once, halfway
  // through the new file, and just short of its end.
  const rlim_t limits[] = {0, before.size() / 2, before.size() + big.size() - 8};
  for (const rlim_t limit : limits) {
    SCOPED_TRACE(limit);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG
      const rlimit rl{limit, limit};
      if (::setrlimit(RLIMIT_FSIZE, &rl) != 0) ::_exit(2);
      try {
        std::unique_ptr<RegistryBackend> store = OpenPlatformRegistry(t.storePath());
        KeyHandle key = 0;
        const std::string subKey = testing::SettingsSubKey();
        if (store->OpenKey(kHkeyLocalMachine, subKey, KeyAccess::kWrite, key) != reg::kSuccess)
          ::_exit(3);
        const long written = store->SetValue(key, "Shared Folder", big);
        store->CloseKey(key);
        ::_exit(written == reg::kSuccess ? 4 : 0);
      } catch (...) {
        ::_exit(5);
      }
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "0: refused; 4: the write claimed success";
    EXPECT_EQ(ReadFileBytes(t.storePath()), before);
  }
  // The store still reads, nothing half-written is left beside it, and the
  // next write with room succeeds.
  EXPECT_EQ(t.registry.ReadValue(kSettingsKeyPath, kSharedFolderValue), u"/srv/old share");
  t.registry.WriteValue(kSettingsKeyPath, kSharedFolderValue, u"/srv/new share");
  EXPECT_EQ(t.registry.ReadValue(kSettingsKeyPath, kSharedFolderValue), u"/srv/new share");
  size_t leftovers = 0;
  for (const auto& entry : std::filesystem::directory_iterator(t.dir.path())) {
    leftovers += entry.path().filename().string().find(".tmp.") != std::string::npos;
  }
  EXPECT_EQ(leftovers, 0u);
}

}  // namespace
}  // namespace zuvo
