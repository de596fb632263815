#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "host/common/trust/file_digest.h"
#include "host/common/trust/identity.h"
#include "host/common/trust/pin_store.h"
#include "tests/support/temp_dir.h"

namespace zuvo::trust {
namespace {

using std::chrono::sys_seconds;

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFile(const std::filesystem::path& path, const std::string& text, mode_t mode = 0600) {
  std::ofstream(path, std::ios::binary) << text;
  ::chmod(path.c_str(), mode);
}

mode_t ModeOf(const std::filesystem::path& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

PublicKey KeyOf(uint8_t n) {
  std::array<uint8_t, kKeyBytes> seed{};
  seed.fill(n);
  return Identity::FromSeed(seed).publicKey();
}

// ---- The identity key file -------------------------------------------------

TEST(IdentityFile, MadeOnceReadableByItsUserOnlyThenReadBack) {
  testing::TempDir dir;
  const LoadedIdentity made = LoadOrCreateIdentity(dir.path(), SeededRandom(1));
  ASSERT_TRUE(made.identity) << made.detail;
  EXPECT_TRUE(made.created);
  const std::filesystem::path file = dir.path() / kIdentityFileName;
  EXPECT_EQ(ModeOf(file), 0600u);
  const LoadedIdentity again = LoadOrCreateIdentity(dir.path(), SeededRandom(2));
  ASSERT_TRUE(again.identity) << again.detail;
  EXPECT_FALSE(again.created);
  EXPECT_EQ(again.identity->publicKey(), made.identity->publicKey());
  // Nothing but the key file is left in the folder.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            1);
  // What it signs verifies under its public key only.
  const Signature signature = again.identity->Sign("text");
  EXPECT_TRUE(VerifySignature(made.identity->publicKey(), "text", signature));
  EXPECT_FALSE(VerifySignature(KeyOf(9), "text", signature));
}

TEST(IdentityFile, ADamagedOrExposedFileIsReportedAndLeftAlone) {
  const std::string good = Identity::FromSeed({}).FileText();
  std::string otherPublic = good;
  otherPublic[otherPublic.size() - 2] ^= 1;  // a hex digit of the public key
  std::string seedUpperCase = good;
  seedUpperCase.replace(seedUpperCase.find("ed25519-seed ") + 13, 1, "A");
  const struct {
    const char* what;
    std::string text;
    mode_t mode;
    StoreError error;
  } cases[] = {
      {"empty", "", 0600, StoreError::kCorrupt},
      {"cut short", good.substr(0, good.size() / 2), 0600, StoreError::kCorrupt},
      {"no final line end", good.substr(0, good.size() - 1), 0600, StoreError::kCorrupt},
      {"another header", "x" + good, 0600, StoreError::kCorrupt},
      {"a public key that is not the seed's", otherPublic, 0600, StoreError::kCorrupt},
      {"upper-case hex", seedUpperCase, 0600, StoreError::kCorrupt},
      {"a line more", good + "\n", 0600, StoreError::kCorrupt},
      {"large", good + std::string(100000, 'x'), 0600, StoreError::kCorrupt},
      {"readable by the group", good, 0640, StoreError::kNotPrivate},
      {"writable by others", good, 0602, StoreError::kNotPrivate},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testing::TempDir dir;
    const std::filesystem::path file = dir.path() / kIdentityFileName;
    WriteFile(file, c.text, c.mode);
    const LoadedIdentity loaded = LoadOrCreateIdentity(dir.path(), SeededRandom(1));
    EXPECT_FALSE(loaded.identity);
    EXPECT_EQ(loaded.error, c.error);
    EXPECT_NE(loaded.detail.find(file.string()), std::string::npos) << loaded.detail;
    EXPECT_EQ(ReadAll(file), c.text);
    EXPECT_EQ(ModeOf(file), c.mode);
  }
}

// ---- Pinned contacts ---------------------------------------------------------

TEST(PinStore, PinsTellNewSameChangedAndSurviveAReopen) {
  testing::TempDir dir;
  const std::filesystem::path file = dir.path() / "pins";
  const sys_seconds day1{std::chrono::seconds(1700000000)};
  const sys_seconds day2 = day1 + std::chrono::hours(24);
  // Names with the bytes the file escapes, and UTF-8.
  const std::string account = "ann@example.org/prpl-jabber";
  const std::string contact = "b o%b\n\t\x7F caf\xC3\xA9";
  {
    PinStore pins(file);
    ASSERT_EQ(pins.error(), StoreError::kNone);
    const Presented first = pins.Present(account, contact, KeyOf(1), day1);
    EXPECT_EQ(first.verdict, Verdict::kNew);
    EXPECT_EQ(first.error, StoreError::kNone);
    EXPECT_EQ(pins.Present(account, "carol", KeyOf(3), day1).verdict, Verdict::kNew);
    EXPECT_EQ(ModeOf(file), 0600u);
  }
  PinStore pins(file);
  ASSERT_EQ(pins.error(), StoreError::kNone) << pins.detail();
  EXPECT_EQ(pins.size(), 2u);
  EXPECT_EQ(pins.Present(account, contact, KeyOf(1), day2).verdict, Verdict::kSame);
  const Presented changed = pins.Present(account, contact, KeyOf(2), day2);
  EXPECT_EQ(changed.verdict, Verdict::kChanged);
  EXPECT_EQ(changed.pin, (Pin{KeyOf(1), day1, false}));
  // The same contact under another account is another pin.
  EXPECT_EQ(pins.Present("ann@irc", contact, KeyOf(2), day2).verdict, Verdict::kNew);

  // Marking verified takes the key the user compared, and only that one.
  EXPECT_EQ(pins.SetVerified(account, contact, KeyOf(2), true).error, StoreError::kNotFound);
  EXPECT_TRUE(pins.SetVerified(account, contact, KeyOf(1), true).ok());
  // Accepting the changed key pins it afresh, not verified.
  EXPECT_TRUE(pins.Accept(account, contact, KeyOf(2), day2).ok());
  EXPECT_TRUE(pins.SetVerified(account, "carol", KeyOf(3), true).ok());
  EXPECT_TRUE(pins.Remove("ann@irc", contact).ok());
  EXPECT_EQ(pins.Remove("ann@irc", contact).error, StoreError::kNotFound);

  PinStore reread(file);
  ASSERT_EQ(reread.error(), StoreError::kNone) << reread.detail();
  EXPECT_EQ(reread.size(), 2u);
  ASSERT_TRUE(reread.Find(account, contact));
  EXPECT_EQ(*reread.Find(account, contact), (Pin{KeyOf(2), day2, false}));
  EXPECT_EQ(*reread.Find(account, "carol"), (Pin{KeyOf(3), day1, true}));
  EXPECT_EQ(PinStore::Format(PinStore::Pins{}), "zuvo-pins 1\n");
}

TEST(PinStore, BoundsHoldAndOldPinsAreNeverEvicted) {
  testing::TempDir dir;
  const std::filesystem::path file = dir.path() / "pins";
  PinStore pins(file, PinStore::Limits{.maxPins = 2, .maxNameBytes = 8});
  const sys_seconds now{std::chrono::seconds(1)};
  EXPECT_EQ(pins.Present("a", "bob", KeyOf(1), now).error, StoreError::kNone);
  EXPECT_EQ(pins.Present("a", "carol", KeyOf(2), now).error, StoreError::kNone);
  const Presented third = pins.Present("a", "dave", KeyOf(3), now);
  EXPECT_EQ(third.verdict, Verdict::kNew);
  EXPECT_EQ(third.error, StoreError::kFull);
  EXPECT_EQ(pins.Accept("a", "dave", KeyOf(3), now).error, StoreError::kFull);
  EXPECT_EQ(pins.size(), 2u);
  EXPECT_EQ(pins.Present("a", "bob", KeyOf(1), now).verdict, Verdict::kSame);
  for (const std::string& name : {std::string(), std::string(9, 'n')}) {
    const Presented bad = pins.Present("a", name, KeyOf(1), now);
    EXPECT_EQ(bad.verdict, Verdict::kUnchecked);
    EXPECT_EQ(bad.error, StoreError::kBadName);
  }
  // A file over the bounds does not load under them.
  PinStore smaller(file, PinStore::Limits{.maxPins = 1, .maxNameBytes = 8});
  EXPECT_EQ(smaller.error(), StoreError::kCorrupt);
}

TEST(PinStore, ADamagedFileIsReportedNeverAnsweredNorRewritten) {
  const std::string key = KeyHex(KeyOf(1));
  const std::string header = "zuvo-pins 1\n";
  const std::string line = key + " 1700000000 0 ann bob\n";
  const struct {
    const char* what;
    std::string text;
    const char* where;
  } cases[] = {
      {"empty", "", "empty"},
      {"another header", "zuvo-pins 2\n" + line, "line 1"},
      {"no line end", header + line.substr(0, line.size() - 1), "line 2"},
      {"a short key", header + line.substr(2), "line 2"},
      {"upper-case key", header + "AB" + line.substr(2), "line 2"},
      {"a date with a leading zero", header + key + " 01 0 ann bob\n", "line 2"},
      {"a negative date", header + key + " -1 0 ann bob\n", "line 2"},
      {"a verified flag of 2", header + key + " 1 2 ann bob\n", "line 2"},
      {"two blanks", header + key + " 1 0  ann bob\n", "line 2"},
      {"six fields", header + key + " 1 0 ann bob x\n", "line 2"},
      {"an escape that is not needed", header + key + " 1 0 %61nn bob\n", "line 2"},
      {"a lower-case escape", header + key + " 1 0 a%0a bob\n", "line 2"},
      {"a cut escape", header + key + " 1 0 ann bob%2\n", "line 2"},
      {"a raw control byte", header + key + " 1 0 a\tn bob\n", "line 2"},
      {"a contact pinned twice", header + line + line, "line 3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testing::TempDir dir;
    const std::filesystem::path file = dir.path() / "pins";
    WriteFile(file, c.text);
    PinStore pins(file);
    EXPECT_EQ(pins.error(), StoreError::kCorrupt);
    EXPECT_NE(pins.detail().find(c.where), std::string::npos) << pins.detail();
    const Presented presented = pins.Present("ann", "bob", KeyOf(1), sys_seconds{});
    EXPECT_EQ(presented.verdict, Verdict::kUnchecked);
    EXPECT_EQ(presented.error, StoreError::kBroken);
    EXPECT_EQ(pins.Accept("ann", "bob", KeyOf(1), sys_seconds{}).error, StoreError::kBroken);
    EXPECT_EQ(ReadAll(file), c.text);
  }
  testing::TempDir dir;
  WriteFile(dir.path() / "pins", header + line, 0644);
  EXPECT_EQ(PinStore(dir.path() / "pins").error(), StoreError::kNotPrivate);
}

// ---- File digests ------------------------------------------------------------

TEST(FileDigest, SizeAndSha256InPiecesRideInTheOffer) {
  FileHasher hasher;
  for (const char* piece : {"a", "", "bc"}) hasher.Update(piece);
  const FileFacts abc = hasher.Finish();
  EXPECT_EQ(abc.size, 3u);
  // FIPS 180-2's example: SHA-256("abc").
  const uint8_t expected[] = {0xba, 0x78, 0x16, 0xbf, 0x8f, 0x01, 0xcf, 0xea, 0x41, 0x41, 0x40,
                              0xde, 0x5d, 0xae, 0x22, 0x23, 0xb0, 0x03, 0x61, 0xa3, 0x96, 0x17,
                              0x7a, 0x9c, 0xb4, 0x10, 0xff, 0x61, 0xf2, 0x00, 0x15, 0xad};
  EXPECT_TRUE(std::equal(abc.sha256.begin(), abc.sha256.end(), expected));
  hasher.Update("abc");
  EXPECT_EQ(hasher.Finish(), abc);  // it started over

  const FileFacts big{0x0102030405060708ull, abc.sha256};
  const std::string body = EncodeFileOffer(big, "Accepted Request, Sending File /s/a");
  EXPECT_EQ(body.size(), kFileOfferFactsBytes + 35);
  FileFacts facts;
  std::string_view text;
  ASSERT_TRUE(DecodeFileOffer(body, facts, text));
  EXPECT_EQ(facts, big);
  EXPECT_EQ(text, "Accepted Request, Sending File /s/a");
  EXPECT_FALSE(DecodeFileOffer(body.substr(0, kFileOfferFactsBytes - 1), facts, text));
}

}  // namespace
}  // namespace zuvo::trust
