#include "host/common/trust/secure_channel.h"

#include <gtest/gtest.h>

#include <functional>
#include <regex>

#include "host/common/trust/pin_store.h"
#include "tests/support/temp_dir.h"

namespace zuvo::trust {
namespace {

using Step = Handshake::Step;

Identity IdentityOf(uint8_t n) {
  std::array<uint8_t, kKeyBytes> seed{};
  seed.fill(n);
  return Identity::FromSeed(seed);
}

// A handshake between two installations, played message by message.
struct Link {
  Identity ann = IdentityOf(1);
  Identity bob = IdentityOf(2);
  Handshake annSide;
  Handshake bobSide;
  std::string hello, reply, finish;
  Session annSession, bobSession;
  std::optional<Session::Opened> first;

  explicit Link(uint64_t seed = 1)
      : annSide(ann, SeededRandom(seed)), bobSide(bob, SeededRandom(seed + 1000)) {}

  // Ann starts; her first record rides with FINISH.
  void Run(std::string_view firstRequest = "rlist *.*") {
    hello = annSide.Start();
    Step answered = bobSide.Receive(hello);
    ASSERT_EQ(answered.kind, Step::kSend);
    reply = answered.send;
    Step proved = annSide.Receive(reply);
    ASSERT_EQ(proved.kind, Step::kPeer);
    EXPECT_EQ(proved.peer, bob.publicKey());
    Handshake::Established annDone = annSide.Accept(RecordKind::kRequest, firstRequest);
    finish = annDone.send;
    annSession = std::move(annDone.session);
    Step finished = bobSide.Receive(finish);
    ASSERT_EQ(finished.kind, Step::kPeer);
    EXPECT_EQ(finished.peer, ann.publicKey());
    Handshake::Established bobDone = bobSide.Accept();
    EXPECT_TRUE(bobDone.send.empty());
    bobSession = std::move(bobDone.session);
    first = bobDone.first;
  }
};

// ---- A session from end to end ---------------------------------------------

TEST(SecureChannel, OneRoundTripThenRecordsBothWays) {
  Link link;
  link.Run("rlist *.txt");
  ASSERT_TRUE(link.annSession.open());
  ASSERT_TRUE(link.bobSession.open());
  EXPECT_EQ(link.hello.size(), kHelloBytes);
  EXPECT_EQ(link.reply.size(), kReplyBytes);
  EXPECT_EQ(link.finish.size(), kFinishBytes + kRecordOverhead + 11);
  EXPECT_EQ(PeekType(link.hello), MessageType::kHello);
  EXPECT_EQ(PeekType(link.reply), MessageType::kReply);
  EXPECT_EQ(PeekType(link.finish), MessageType::kFinish);
  ASSERT_TRUE(link.first);
  EXPECT_EQ(link.first->kind, RecordKind::kRequest);
  EXPECT_EQ(link.first->body, "rlist *.txt");
  EXPECT_EQ(link.annSession.peer(), link.bob.publicKey());
  EXPECT_EQ(link.bobSession.peer(), link.ann.publicKey());
  // Nothing of the identities or the request travels in clear.
  const std::string wire = link.hello + link.reply + link.finish;
  for (const PublicKey& key : {link.ann.publicKey(), link.bob.publicKey()}) {
    EXPECT_EQ(wire.find(std::string(key.begin(), key.end())), std::string::npos);
  }
  EXPECT_EQ(wire.find("rlist"), std::string::npos);

  const struct {
    bool fromAnn;
    RecordKind kind;
    std::string body;
  } exchange[] = {
      {false, RecordKind::kNotice, "answering\nrlist\n/home/bob"},
      {false, RecordKind::kReply, "Accepted Request, Offering...\r/home/bob/a.txt"},
      {true, RecordKind::kRequest, "rfile /home/bob/a.txt"},
      {false, RecordKind::kFileOffer, std::string("\0\0\0\0\0\0\0\x05", 8) + std::string(32, 'h')},
      {false, RecordKind::kReply, ""},
      {true, RecordKind::kRequest, std::string(100000, '\xFF')},
  };
  for (const auto& c : exchange) {
    SCOPED_TRACE(c.body.substr(0, 30));
    Session& from = c.fromAnn ? link.annSession : link.bobSession;
    Session& to = c.fromAnn ? link.bobSession : link.annSession;
    const std::string record = from.Seal(c.kind, c.body);
    EXPECT_EQ(record.size(), kRecordOverhead + c.body.size());
    EXPECT_EQ(PeekType(record), MessageType::kRecord);
    Session::Opened opened;
    ASSERT_EQ(to.Open(record, opened), Error::kNone);
    EXPECT_EQ(opened.kind, c.kind);
    EXPECT_EQ(opened.body, c.body);
  }
}

TEST(SecureChannel, GlareEndsInOneHandshakeWhicheverKeyIsSmaller) {
  bool annWon = false, bobWon = false;
  for (uint64_t seed = 1; seed <= 8; ++seed) {
    SCOPED_TRACE(seed);
    Link link(seed);
    const std::string annHello = link.annSide.Start();
    const std::string bobHello = link.bobSide.Start();
    const Step atAnn = link.annSide.Receive(bobHello);
    const Step atBob = link.bobSide.Receive(annHello);
    // Exactly one side yields and answers; the other waits for that REPLY.
    ASSERT_NE(atAnn.kind == Step::kSend, atBob.kind == Step::kSend);
    const bool annInitiates = atBob.kind == Step::kSend;
    (annInitiates ? annWon : bobWon) = true;
    EXPECT_EQ((annInitiates ? atAnn : atBob).kind, Step::kWait);
    Handshake& initiator = annInitiates ? link.annSide : link.bobSide;
    Handshake& responder = annInitiates ? link.bobSide : link.annSide;
    ASSERT_EQ(initiator.Receive((annInitiates ? atBob : atAnn).send).kind, Step::kPeer);
    Handshake::Established i = initiator.Accept(RecordKind::kRequest, "rlist");
    ASSERT_EQ(responder.Receive(i.send).kind, Step::kPeer);
    Handshake::Established r = responder.Accept();
    ASSERT_TRUE(r.first);
    EXPECT_EQ(r.first->body, "rlist");
    Session::Opened opened;
    EXPECT_EQ(i.session.Open(r.session.Seal(RecordKind::kReply, "ok"), opened), Error::kNone);
  }
  EXPECT_TRUE(annWon && bobWon);
}

// ---- What an attacker can send -----------------------------------------------

TEST(SecureChannel, ARecordThatIsNotTheNextOneClosesTheSession) {
  // Bob's records to ann: |taken| has been opened, |next| is due, |later|
  // follows it; |other| is the same text from another session.
  struct Records {
    std::string taken, next, later, other;
  };
  const auto changed = [](std::string record, size_t at, char bits) {
    record[at] ^= bits;
    return record;
  };
  const struct {
    const char* what;
    std::function<std::string(const Records&)> make;
    Error error;
  } cases[] = {
      {"replayed", [](const Records& r) { return r.taken; }, Error::kNotAuthentic},
      {"reordered", [](const Records& r) { return r.later; }, Error::kNotAuthentic},
      {"from another session", [](const Records& r) { return r.other; }, Error::kNotAuthentic},
      {"truncated by a byte", [](const Records& r) { return r.next.substr(0, r.next.size() - 1); },
       Error::kNotAuthentic},
      {"truncated below the overhead", [](const Records& r) { return r.next.substr(0, 18); },
       Error::kMalformed},
      {"empty", [](const Records&) { return std::string(); }, Error::kMalformed},
      {"kind byte changed", [&](const Records& r) { return changed(r.next, 2, 1); },
       Error::kNotAuthentic},
      {"body byte changed", [&](const Records& r) { return changed(r.next, 5, 1); },
       Error::kNotAuthentic},
      {"tag byte changed",
       [&](const Records& r) { return changed(r.next, r.next.size() - 1, '\x80'); },
       Error::kNotAuthentic},
      {"header says FINISH", [&](const Records& r) { return changed(r.next, 1, 4 ^ 3); },
       Error::kMalformed},
      {"another version", [&](const Records& r) { return changed(r.next, 0, 3); }, Error::kVersion},
      {"too large", [](const Records& r) { return r.next + std::string(kMaxRecordBytes, 'x'); },
       Error::kTooLarge},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Link link, otherLink(77);
    link.Run();
    otherLink.Run();
    Records r;
    r.taken = link.bobSession.Seal(RecordKind::kReply, "first reply");
    r.next = link.bobSession.Seal(RecordKind::kReply, "second reply");
    r.later = link.bobSession.Seal(RecordKind::kReply, "third reply");
    otherLink.bobSession.Seal(RecordKind::kReply, "first reply");
    r.other = otherLink.bobSession.Seal(RecordKind::kReply, "second reply");
    Session::Opened opened;
    ASSERT_EQ(link.annSession.Open(r.taken, opened), Error::kNone);
    EXPECT_EQ(link.annSession.Open(c.make(r), opened), c.error);
    EXPECT_FALSE(link.annSession.open());
    // Closed for good: not even the genuine next record opens, nothing is sealed.
    EXPECT_EQ(link.annSession.Open(r.next, opened), Error::kClosed);
    EXPECT_TRUE(link.annSession.Seal(RecordKind::kRequest, "x").empty());
  }
}

TEST(SecureChannel, AHandshakeMessageThatDoesNotProveItselfEndsTheHandshake) {
  Link genuine;
  genuine.Run();
  const auto flip = [](std::string m, size_t at) {
    m[at] ^= 1;
    return m;
  };
  std::string lowOrder = genuine.hello;
  std::fill(lowOrder.begin() + 2, lowOrder.end(), '\0');
  const struct {
    const char* what;
    bool annStarted;  // ann has sent HELLO (else: bob answered HELLO, waits for FINISH)
    std::string message;
    Error error;
  } cases[] = {
      {"REPLY with another ephemeral key", true, flip(genuine.reply, 3), Error::kNotAuthentic},
      {"REPLY with a changed seal", true, flip(genuine.reply, 60), Error::kNotAuthentic},
      {"REPLY cut short", true, genuine.reply.substr(0, kReplyBytes - 1), Error::kMalformed},
      {"REPLY of an earlier handshake", true, genuine.reply, Error::kNotAuthentic},
      {"ann's own HELLO reflected", true, "", Error::kUnsafeKey},
      {"a low-order ephemeral key", false, lowOrder, Error::kUnsafeKey},
      {"FINISH with a changed seal", false, flip(genuine.finish, 40), Error::kNotAuthentic},
      {"FINISH cut short", false, genuine.finish.substr(0, kFinishBytes - 1), Error::kMalformed},
      {"FINISH of an earlier handshake", false, genuine.finish, Error::kNotAuthentic},
      {"FINISH before any HELLO", true, genuine.finish, Error::kUnexpected},
      {"a record", false, genuine.annSession.Seal(RecordKind::kRequest, "x"), Error::kUnexpected},
      {"another version", true, flip(genuine.reply, 0), Error::kVersion},
      {"an unknown type", true, std::string("\x01\x09", 2), Error::kMalformed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Link link(9);
    const std::string hello = link.annSide.Start();
    Handshake& target = c.annStarted ? link.annSide : link.bobSide;
    if (!c.annStarted && std::string_view(c.what) != "a low-order ephemeral key") {
      ASSERT_EQ(link.bobSide.Receive(hello).kind, Step::kSend);
    }
    const std::string message = c.message.empty() ? hello : c.message;
    const Step step = target.Receive(message);
    EXPECT_EQ(step.kind, Step::kFailed);
    EXPECT_EQ(step.error, c.error);
    // Over: nothing more is taken and nothing is established.
    EXPECT_EQ(target.Receive(hello).kind, Step::kFailed);
    EXPECT_FALSE(target.Accept().session.open());
  }
}

// An impostor holds the contact's name but not the contact's key: the
// pinned key says so before anything is sent, and nothing of a genuine
// session opens under the impostor's.
TEST(SecureChannel, AnImpostorWithAnotherKeyGetsTheChangedVerdictAndNothingOpens) {
  testing::TempDir dir;
  PinStore pins(dir.path() / "pins");
  const auto then = std::chrono::sys_seconds(std::chrono::seconds(1700000000));
  Link genuine;
  genuine.Run();
  ASSERT_EQ(pins.Present("ann@irc", "bob", genuine.bob.publicKey(), then).verdict, Verdict::kNew);

  const Identity eve = IdentityOf(3);
  // Eve answers ann's HELLO as "bob".
  Handshake annSide(genuine.ann, SeededRandom(50)), eveSide(eve, SeededRandom(51));
  const Step answered = eveSide.Receive(annSide.Start());
  ASSERT_EQ(answered.kind, Step::kSend);
  const Step proved = annSide.Receive(answered.send);
  ASSERT_EQ(proved.kind, Step::kPeer);
  const Presented verdict =
      pins.Present("ann@irc", "bob", proved.peer, then + std::chrono::hours(48));
  EXPECT_EQ(verdict.verdict, Verdict::kChanged);
  EXPECT_EQ(verdict.pin.firstSeen, then);
  EXPECT_EQ(verdict.pin.key, genuine.bob.publicKey());
  // Ann drops the handshake: she sent HELLO only, no identity and no request.

  // Eve starts a handshake with bob as "ann": bob's pin of ann refuses her too.
  ASSERT_EQ(pins.Present("bob@irc", "ann", genuine.ann.publicKey(), then).verdict, Verdict::kNew);
  Handshake eveStarts(eve, SeededRandom(52)), bobSide(genuine.bob, SeededRandom(53));
  const Step reply = bobSide.Receive(eveStarts.Start());
  ASSERT_EQ(eveStarts.Receive(reply.send).kind, Step::kPeer);
  Handshake::Established eveDone = eveStarts.Accept(RecordKind::kRequest, "rlist");
  const Step atBob = bobSide.Receive(eveDone.send);
  ASSERT_EQ(atBob.kind, Step::kPeer);
  EXPECT_EQ(pins.Present("bob@irc", "ann", atBob.peer, then).verdict, Verdict::kChanged);

  // Whatever session eve holds, the genuine pair's records do not open in it.
  Session::Opened opened;
  EXPECT_EQ(eveDone.session.Open(genuine.bobSession.Seal(RecordKind::kReply, "listing"), opened),
            Error::kNotAuthentic);
}

TEST(SecureChannel, FingerprintsAreTwelveGroupsOfFiveDigitsAndStable) {
  const std::string ann = Fingerprint(IdentityOf(1).publicKey());
  EXPECT_TRUE(std::regex_match(ann, std::regex("[0-9]{5}( [0-9]{5}){11}"))) << ann;
  EXPECT_NE(ann, Fingerprint(IdentityOf(2).publicKey()));
  // A user's fingerprint must not change with a new build.
  EXPECT_EQ(ann, "91110 58900 46355 76268 58454 25280 16648 27597 13554 31651 86779 09730");
}

}  // namespace
}  // namespace zuvo::trust
