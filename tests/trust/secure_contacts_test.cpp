// The protection per contact as a host drives it: two installations in
// their own folders exchange texts through it, message by message, with
// keys that change, records that are replayed, reordered, cut or altered,
// and file offers whose facts the received bytes must match.
#include "host/common/trust/secure_contacts.h"

#include <gtest/gtest.h>

#include <deque>
#include <fstream>

#include "host/common/received_file.h"
#include "tests/support/temp_dir.h"

namespace zuvo::trust {
namespace {

using namespace std::chrono_literals;
using zuvo::testing::TempDir;
using Message = SecureContacts::Message;
using Time = SecureContacts::Time;

const Time t0 = Time{} + std::chrono::hours(24 * 20000);

// One installation, and the contact it talks to.
struct Side {
  Side(const std::filesystem::path& folder, std::string me, std::string them, uint64_t seed)
      : contacts(folder, {}, SeededRandom(seed)), peer{"xmpp:" + me, them, them} {}
  SecureContacts contacts;
  ContactId peer;
  std::vector<SecureContacts::Opened> heard;
  std::vector<std::string> lines;
  std::vector<Error> errors;
};

// Delivers |fromA| to |b| and everything either side answers, in order,
// until nothing is left; returns how many messages went each way.
std::pair<int, int> Exchange(Side& a, Side& b, std::vector<Message> fromA,
                             std::vector<Message> fromB = {}, Time now = t0) {
  std::deque<std::pair<bool, Message>> queue;  // true: to b
  for (Message& m : fromA) queue.emplace_back(true, std::move(m));
  for (Message& m : fromB) queue.emplace_back(false, std::move(m));
  std::pair<int, int> count{0, 0};
  while (!queue.empty()) {
    auto [toB, message] = std::move(queue.front());
    queue.pop_front();
    Side& to = toB ? b : a;
    (toB ? count.first : count.second)++;
    SecureContacts::Received r = to.contacts.Receive(to.peer, message.bytes, true, now);
    for (auto& o : r.opened) to.heard.push_back(std::move(o));
    if (!r.line.empty()) to.lines.push_back(r.line);
    if (r.error != Error::kNone) to.errors.push_back(r.error);
    for (Message& m : r.send) queue.emplace_back(!toB, std::move(m));
  }
  return count;
}

struct Pair {
  TempDir annDir, bobDir;
  Side ann{annDir.path(), "ann", "bob", 1};
  Side bob{bobDir.path(), "bob", "ann", 2};
};

// ---- A first exchange ----------------------------------------------------------

TEST(SecureContacts, FirstRequestHandshakesThenRecordsCarryTextsBothWays) {
  Pair p;
  EXPECT_EQ(p.ann.contacts.problem(), "");
  SecureContacts::Sent sent =
      p.ann.contacts.Send(p.ann.peer, RecordKind::kRequest, "\x12rlist", t0);
  EXPECT_TRUE(sent.waiting);
  ASSERT_EQ(sent.send.size(), 1u);
  EXPECT_TRUE(sent.send[0].handshake);
  // HELLO; REPLY; FINISH with the request riding behind it.
  EXPECT_EQ(Exchange(p.ann, p.bob, sent.send), std::make_pair(2, 1));
  ASSERT_EQ(p.bob.heard.size(), 1u);
  EXPECT_EQ(p.bob.heard[0].kind, RecordKind::kRequest);
  EXPECT_EQ(p.bob.heard[0].body, "\x12rlist");
  EXPECT_TRUE(p.ann.contacts.Pinned(p.ann.peer));
  EXPECT_TRUE(p.bob.contacts.Pinned(p.bob.peer));

  // Texts now go at once, one record each.
  const std::string reply = "Accepted Request, Offering...\r/s/a.txt";
  sent = p.bob.contacts.Send(p.bob.peer, RecordKind::kReply, reply, t0);
  ASSERT_EQ(sent.send.size(), 1u);
  EXPECT_FALSE(sent.send[0].handshake);
  EXPECT_EQ(sent.send[0].bytes.size(), kRecordOverhead + reply.size());
  Exchange(p.bob, p.ann, sent.send);
  ASSERT_EQ(p.ann.heard.size(), 1u);
  EXPECT_EQ(p.ann.heard[0].body, reply);
  EXPECT_TRUE(p.ann.errors.empty() && p.bob.errors.empty());

  // A first text too long to ride with FINISH follows it as a record (the
  // fingerprints shown are compared end to end, tests/purple/e2e.sh).
  Pair q;
  const std::string path(4000, 'x');
  sent = q.ann.contacts.Send(q.ann.peer, RecordKind::kRequest, path, t0);
  EXPECT_EQ(Exchange(q.ann, q.bob, sent.send), std::make_pair(3, 1));
  ASSERT_EQ(q.bob.heard.size(), 1u);
  EXPECT_EQ(q.bob.heard[0].body, path);
}

TEST(SecureContacts, BothStartingAtOnceEndWithOneSessionAndEveryText) {
  Pair p;
  auto a = p.ann.contacts.Send(p.ann.peer, RecordKind::kRequest, "\x12rlist", t0);
  auto b = p.bob.contacts.Send(p.bob.peer, RecordKind::kRequest, "\x12rfldsdocs", t0);
  Exchange(p.ann, p.bob, a.send, b.send);
  ASSERT_EQ(p.bob.heard.size(), 1u);
  ASSERT_EQ(p.ann.heard.size(), 1u);
  EXPECT_EQ(p.bob.heard[0].body, "\x12rlist");
  EXPECT_EQ(p.ann.heard[0].body, "\x12rfldsdocs");
}

// ---- Keys that change ---------------------------------------------------------

TEST(SecureContacts, ChangedKeyIsToldOnceSharesNothingUntilAcceptedThenWorks) {
  Pair p;
  Exchange(p.ann, p.bob,
           p.ann.contacts.Send(p.ann.peer, RecordKind::kRequest, "\x12rlist", t0).send);
  ASSERT_EQ(p.bob.heard.size(), 1u);

  // Someone else answers as bob (bob's nick taken, or a new installation).
  TempDir otherDir;
  Side mallory(otherDir.path(), "bob", "ann", 3);
  // ann's session with the real bob is gone (a restart).
  TempDir annAgain;
  std::filesystem::copy(p.annDir.path(), annAgain.path(), std::filesystem::copy_options::recursive);
  Side ann(annAgain.path(), "ann", "bob", 4);
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    auto sent = ann.contacts.Send(ann.peer, RecordKind::kRequest, "\x12rfile/s/a.txt", t0 + 1h);
    if (i == 0) {
      // HELLO, REPLY, and then nothing: no FINISH, so no request.
      EXPECT_EQ(Exchange(ann, mallory, sent.send, {}, t0 + 1h), std::make_pair(1, 1));
    } else {
      EXPECT_EQ(sent.refused, SecureContacts::Refused::kChangedKey);
      EXPECT_TRUE(sent.send.empty());
    }
  }
  EXPECT_TRUE(mallory.heard.empty());
  ASSERT_EQ(ann.lines.size(), 1u);
  EXPECT_EQ(ann.lines[0],
            "bob's file-sharing key has changed since 2024-10-04; nothing is shared "
            "with this contact until you accept the new key with /xrtrust bob");
  // mallory starting a handshake of its own gets nowhere either, and is not told again.
  auto hello = mallory.contacts.Send(mallory.peer, RecordKind::kRequest, "\x12rlist", t0 + 1h);
  Exchange(mallory, ann, hello.send, {}, t0 + 1h);
  EXPECT_TRUE(ann.heard.empty());
  EXPECT_EQ(ann.lines.size(), 1u);
  EXPECT_TRUE(ann.contacts.Changed(ann.peer));

  EXPECT_EQ(ann.contacts.Trust(ann.peer, t0 + 2h).find("accepted bob's new file-sharing key"), 0u);
  EXPECT_FALSE(ann.contacts.Changed(ann.peer));
  Exchange(ann, mallory,
           ann.contacts.Send(ann.peer, RecordKind::kRequest, "\x12rlist", t0 + 2h).send, {},
           t0 + 2h);
  ASSERT_EQ(mallory.heard.size(), 1u);
  EXPECT_EQ(ann.contacts.Trust(ann.peer, t0 + 2h),
            "bob's file-sharing key has not changed; nothing to accept.");

  // The pinned key proved again (bob is back under his name) ends a change:
  // bob's record under his old session starts a handshake, and then his
  // texts come through.
  TempDir fourthDir;
  std::filesystem::copy(p.annDir.path(), fourthDir.path(),
                        std::filesystem::copy_options::recursive);
  Side ann4(fourthDir.path(), "ann", "bob", 6);
  Exchange(ann4, mallory,
           ann4.contacts.Send(ann4.peer, RecordKind::kRequest, "\x12rlist", t0 + 3h).send, {},
           t0 + 3h);
  EXPECT_TRUE(ann4.contacts.Changed(ann4.peer));
  for (int i = 0; i < 2; ++i) {
    Exchange(p.bob, ann4, p.bob.contacts.Send(p.bob.peer, RecordKind::kReply, "back", t0 + 3h).send,
             {}, t0 + 3h);
  }
  EXPECT_FALSE(ann4.contacts.Changed(ann4.peer));
  ASSERT_EQ(ann4.heard.size(), 1u);
  EXPECT_EQ(ann4.heard[0].body, "back");

  // The responder judges the initiator's key in FINISH: the request riding
  // with it is never opened.
  TempDir thirdDir;
  Side annImpostor(thirdDir.path(), "ann", "bob", 5);
  Exchange(annImpostor, p.bob,
           annImpostor.contacts.Send(annImpostor.peer, RecordKind::kRequest, "\x12rlist", t0).send);
  EXPECT_EQ(p.bob.heard.size(), 1u);
  ASSERT_EQ(p.bob.lines.size(), 1u);
  EXPECT_EQ(p.bob.lines[0].find("ann's file-sharing key has changed"), 0u);
}

// ---- Records that are not the next one --------------------------------------------

TEST(SecureContacts, ARecordThatIsNotTheNextClosesTheSessionAndANewHandshakeFollows) {
  struct Case {
    const char* what;
    std::function<std::string(const std::vector<std::string>& records)> bad;
  };
  const std::vector<Case> cases = {
      {"replayed", [](const auto& r) { return r[0]; }},
      {"reordered", [](const auto& r) { return r[2]; }},
      {"truncated", [](const auto& r) { return r[1].substr(0, r[1].size() - 1); }},
      {"tampered",
       [](const auto& r) {
         std::string t = r[1];
         t[5] ^= 1;
         return t;
       }},
      {"of another session",
       [](const auto&) {
         Pair other;
         Exchange(other.ann, other.bob,
                  other.ann.contacts.Send(other.ann.peer, RecordKind::kRequest, "x", t0).send);
         return other.ann.contacts.Send(other.ann.peer, RecordKind::kRequest, "r2", t0)
             .send.at(0)
             .bytes;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Pair p;
    Exchange(p.ann, p.bob, p.ann.contacts.Send(p.ann.peer, RecordKind::kRequest, "r0", t0).send);
    std::vector<std::string> records;  // r1, r2, r3
    for (const char* text : {"r1", "r2", "r3"}) {
      records.push_back(
          p.ann.contacts.Send(p.ann.peer, RecordKind::kRequest, text, t0).send.at(0).bytes);
    }
    Exchange(p.ann, p.bob, {{false, records[0]}});
    ASSERT_EQ(p.bob.heard.size(), 2u);
    ASSERT_TRUE(p.bob.errors.empty());

    SecureContacts::Received r = p.bob.contacts.Receive(p.bob.peer, c.bad(records), true, t0);
    EXPECT_NE(r.error, Error::kNone);
    EXPECT_TRUE(r.opened.empty());
    // The genuine next record no longer opens: the session is closed, and
    // bob starts a new handshake.
    r = p.bob.contacts.Receive(p.bob.peer, records[1], true, t0);
    EXPECT_EQ(r.error, Error::kClosed);
    ASSERT_EQ(r.send.size(), 1u);
    EXPECT_TRUE(r.send[0].handshake);
    Exchange(p.bob, p.ann, r.send);
    p.bob.heard.clear();
    Exchange(p.ann, p.bob, p.ann.contacts.Send(p.ann.peer, RecordKind::kRequest, "after", t0).send);
    ASSERT_EQ(p.bob.heard.size(), 1u);
    EXPECT_EQ(p.bob.heard[0].body, "after");
    EXPECT_TRUE(p.ann.lines.empty() && p.bob.lines.empty());
  }
}

TEST(SecureContacts, AContactThatRestartedGetsTheRequestItCouldNotOpen) {
  Pair p;
  Exchange(p.ann, p.bob, p.ann.contacts.Send(p.ann.peer, RecordKind::kRequest, "one", t0).send);
  Exchange(p.bob, p.ann, p.bob.contacts.Send(p.bob.peer, RecordKind::kReply, "answer", t0).send);
  Side bob(p.bobDir.path(), "bob", "ann", 7);  // the same installation, started again
  Exchange(p.ann, bob, p.ann.contacts.Send(p.ann.peer, RecordKind::kRequest, "two", t0).send);
  ASSERT_EQ(bob.heard.size(), 1u);
  EXPECT_EQ(bob.heard[0].body, "two");  // only what was not answered goes again
  EXPECT_TRUE(bob.lines.empty() && p.ann.lines.empty());
}

// ---- Bounds ---------------------------------------------------------------------------

TEST(SecureContacts, TextsWaitingForAHandshakeAreBoundedAndAnUnansweredOneIsGivenUp) {
  TempDir dir;
  SecureContacts::Limits limits;
  limits.maxWaiting = 3;
  SecureContacts ann(dir.path(), limits, SeededRandom(9));
  const ContactId bob{"xmpp:ann", "bob", "bob"};
  std::vector<size_t> sent;
  for (int i = 0; i < 4; ++i) {
    auto s = ann.Send(bob, RecordKind::kRequest, "\x12rlist", t0);
    sent.push_back(s.send.size());
    EXPECT_EQ(s.refused,
              i < 3 ? SecureContacts::Refused::kNone : SecureContacts::Refused::kQueueFull);
  }
  EXPECT_EQ(sent, (std::vector<size_t>{1, 0, 0, 0}));  // one HELLO
  // No answer for longer than the timeout: the next text starts over.
  auto again =
      ann.Send(bob, RecordKind::kRequest, "\x12rlist", t0 + SecureContacts::kHandshakeTimeout + 1s);
  EXPECT_EQ(again.refused, SecureContacts::Refused::kNone);
  EXPECT_EQ(again.send.size(), 1u);

  // A contact who may not ask gets no answer to its HELLO; one who may, a
  // few at once and then one every interval.
  TempDir otherDir;
  SecureContacts other(otherDir.path(), {}, SeededRandom(10));
  const ContactId annId{"xmpp:bob", "ann", "ann"};
  const std::string hello = again.send[0].bytes;
  EXPECT_TRUE(other.Receive(annId, hello, false, t0).send.empty());
  int answered = 0;
  for (int i = 0; i < 10; ++i) answered += !other.Receive(annId, hello, true, t0).send.empty();
  EXPECT_EQ(answered, SecureContacts::kHellosAtOnce);
  EXPECT_EQ(other.Receive(annId, hello, true, t0 + SecureContacts::kHelloInterval).send.size(), 1u);
  // A side starting a handshake of its own with the contact takes its
  // HELLO (both started at once), even where the contact may not ask.
  TempDir thirdDir;
  SecureContacts third(thirdDir.path(), {}, SeededRandom(11));
  third.Send(annId, RecordKind::kRequest, "\x12rlist", t0);
  EXPECT_EQ(third.Receive(annId, hello, false, t0).error, Error::kNone);
}

// ---- File offers ------------------------------------------------------------------------

TEST(SecureContacts, AFileOfferCarriesFactsTheReceivedBytesMustMatch) {
  Pair p;
  Exchange(p.ann, p.bob,
           p.ann.contacts.Send(p.ann.peer, RecordKind::kRequest, "\x12rfile/s/n.md", t0).send);
  const std::string content = "# notes\n";
  FileHasher hasher;
  hasher.Update(content);
  const FileFacts facts = hasher.Finish();
  const std::string text = "Accepted Request, Sending File /s/n.md";
  Exchange(p.bob, p.ann, p.bob.contacts.SendFileOffer(p.bob.peer, facts, text, t0).send);
  ASSERT_EQ(p.ann.heard.size(), 1u);
  EXPECT_EQ(p.ann.heard[0].kind, RecordKind::kFileOffer);
  EXPECT_EQ(p.ann.heard[0].body, text);
  ASSERT_TRUE(p.ann.heard[0].facts);
  EXPECT_EQ(*p.ann.heard[0].facts, facts);

  struct Case {
    const char* what;
    std::string arrived;
    bool kept;
  };
  const Case cases[] = {
      {"the offered bytes", content, true},
      {"a byte changed", "# notez\n", false},
      {"cut short", "# note", false},
  };
  TempDir downloads;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Announced announced{facts.size, facts.sha256};
    HostError error;
    auto file = IncomingFile::Open(downloads.path(), u"n.md", announced, error);
    ASSERT_TRUE(file);
    const std::filesystem::path temp = file->HandOver();
    std::ofstream(temp, std::ios::binary) << c.arrived;
    EXPECT_EQ(!file->Finish().failed(), c.kept);
    file.reset();
    EXPECT_EQ(std::filesystem::exists(downloads.path() / "n.md"), c.kept);
    EXPECT_FALSE(std::filesystem::exists(temp));
    std::filesystem::remove(downloads.path() / "n.md");
  }
}

}  // namespace
}  // namespace zuvo::trust
