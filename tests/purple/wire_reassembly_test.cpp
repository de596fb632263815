#include "purple/wire_reassembly.h"

#include <gtest/gtest.h>

#include <random>

namespace zuvo::purple {
namespace {

using Clock = Reassembler::Clock;
using Kind = Reassembler::Result::Kind;
using std::chrono::seconds;

// Small allowances, so that tests fill them quickly.
Reassembler::Limits Small() {
  Reassembler::Limits limits;
  limits.stranger = {64, 1024, 1, 4096, seconds(30)};
  limits.buddy = {kMaxRequestBytes, 8192, 2, 16384, seconds(60)};
  limits.reply = {kMaxRecordBytes, 65536, 2, 98304, seconds(60)};
  return limits;
}

std::string Noise(size_t bytes, unsigned seed = 7) {
  std::mt19937 random(seed);
  std::string out(bytes, '\0');
  for (char& c : out) c = static_cast<char>(random());
  return out;
}

// |frame| as a sender that ignores the caps would send it.
EncodedFrame Relabeled(EncodedFrame frame, FrameKind kind) {
  frame.kind = kind;
  return frame;
}

// Feeds pieces |from| to |to| (exclusive) of |frame| until one is dropped;
// the last result.
Reassembler::Result Feed(Reassembler& r, const std::string& sender, const EncodedFrame& frame,
                         SenderClass judged, Clock::time_point now, size_t from = 0,
                         size_t to = SIZE_MAX) {
  Reassembler::Result last;
  for (size_t i = from; i < std::min(to, frame.payloads.size()); ++i) {
    last = r.Add(sender, frame.piece(i), judged, now);
    if (last.kind == Kind::kDropped) break;
  }
  return last;
}

TEST(WireReassembly, StrangersFloodingLeaveBuddiesAndRepliesAlone) {
  Reassembler r(Small());
  const Clock::time_point t0 = Clock::now();
  const EncodedFrame request = EncodeFrame(FrameKind::kRequest, Noise(60), 1, 16);
  const EncodedFrame reply = EncodeFrame(FrameKind::kReply, Noise(2000), 2, 64);
  const size_t replyPieces = reply.payloads.size();
  for (size_t i = 0; i < replyPieces; ++i) {
    // Between two pieces of the reply, 50 strangers start requests.
    for (int s = 0; s < 50; ++s) {
      const std::string stranger = "eve" + std::to_string(i * 50 + s);
      EXPECT_EQ(Feed(r, stranger, request, SenderClass::kStranger, t0, 0, 1).kind, Kind::kPending);
      ASSERT_LE(r.bufferedBytes(SenderClass::kStranger), 4096u);
    }
    if (i < request.payloads.size()) {
      EXPECT_EQ(Feed(r, "bob", request, SenderClass::kBuddy, t0, i, i + 1).kind,
                i + 1 == request.payloads.size() ? Kind::kComplete : Kind::kPending);
    }
    const Reassembler::Result last =
        Feed(r, "ann", reply, SenderClass::kExpectedReply, t0, i, i + 1);
    if (i + 1 == replyPieces) {
      ASSERT_EQ(last.kind, Kind::kComplete);
      EXPECT_EQ(last.message, Noise(2000));
      EXPECT_EQ(last.frameKind, FrameKind::kReply);
    }
  }
  EXPECT_EQ(r.bufferedBytes(SenderClass::kExpectedReply), 0u);

  // A stranger's small request comes whole, to be named to the user.
  Reassembler q(Small());
  const Reassembler::Result done = Feed(q, "eve", request, SenderClass::kStranger, t0);
  EXPECT_EQ(done.kind, Kind::kComplete);
  EXPECT_EQ(done.sender, SenderClass::kStranger);

  // An unwanted frame is dropped at its first piece, silently after that.
  EXPECT_EQ(q.Add("mallory", reply.piece(3), SenderClass::kUnwanted, t0).why,
            DropReason::kUnwanted);
  const Reassembler::Result rest = q.Add("mallory", reply.piece(0), SenderClass::kBuddy, t0);
  EXPECT_EQ(rest.kind, Kind::kDropped);
  EXPECT_EQ(rest.why, DropReason::kGivenUp);
  EXPECT_EQ(q.bufferedBytes(), 0u);
}

TEST(WireReassembly, EachMessageKeepsToItsCaps) {
  const Clock::time_point t0 = Clock::now();
  struct Case {
    const char* what;
    EncodedFrame frame;
    SenderClass judged;
    Kind kind;
    DropReason why;
  } cases[] = {
      {"a buddy's request over its cap",
       Relabeled(EncodeFrame(FrameKind::kReply, Noise(kMaxRequestBytes + 2), 1, 32768),
                 FrameKind::kRequest),
       SenderClass::kBuddy, Kind::kDropped, DropReason::kTooLarge},
      {"a reply of that size",
       EncodeFrame(FrameKind::kReply, Noise(kMaxRequestBytes + 2), 1, 32768),
       SenderClass::kExpectedReply,
       Kind::kComplete,
       {}},
      {"a stranger's request over the stranger's cap",
       EncodeFrame(FrameKind::kRequest, Noise(1026), 1, 400), SenderClass::kStranger,
       Kind::kDropped, DropReason::kTooLarge},
      {"a small frame that inflates past the request cap",
       EncodedFrame{1, FrameKind::kRequest, kFlagDeflated, {}}, SenderClass::kBuddy, Kind::kDropped,
       DropReason::kBroken},
      {"an odd number of bytes for a text", EncodeFrame(FrameKind::kNotice, Noise(3), 1, 400),
       SenderClass::kBuddy, Kind::kDropped, DropReason::kBroken},
      {"a kind this version does not read", EncodedFrame{1, static_cast<FrameKind>(9), 0, {"QUJD"}},
       SenderClass::kBuddy, Kind::kDropped, DropReason::kUnreadable},
      {"a flag this version does not read", EncodedFrame{1, FrameKind::kReply, 2, {"QUJD"}},
       SenderClass::kExpectedReply, Kind::kDropped, DropReason::kUnreadable},
      {"more pieces than a stranger's share holds",
       EncodedFrame{1, FrameKind::kRequest, 0, std::vector<std::string>(100, "QUJD")},
       SenderClass::kStranger, Kind::kDropped, DropReason::kTooLarge},
  };
  cases[3].frame.payloads = {EncodePayload(Deflate(std::string(1u << 20, '\0')))};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Reassembler r;
    const Reassembler::Result result = Feed(r, "bob", c.frame, c.judged, t0);
    EXPECT_EQ(result.kind, c.kind);
    if (c.kind == Kind::kDropped) {
      EXPECT_EQ(result.why, c.why);
    }
    EXPECT_EQ(r.bufferedBytes(), 0u);
  }
}

TEST(WireReassembly, SharesLimitsAndTimeLimits) {
  const Clock::time_point t0 = Clock::now();
  auto frame = [](uint32_t id, size_t bytes) {
    return EncodeFrame(FrameKind::kRequest, Noise(bytes, id), id, 400);
  };
  Reassembler r(Small());

  // A buddy's third frame pushes out its least recently fed one.
  Feed(r, "a", frame(1, 900), SenderClass::kBuddy, t0, 0, 1);
  Feed(r, "a", frame(2, 900), SenderClass::kBuddy, t0 + seconds(1), 0, 1);
  Feed(r, "a", frame(1, 900), SenderClass::kBuddy, t0 + seconds(2), 1, 2);
  Feed(r, "a", frame(3, 2700), SenderClass::kBuddy, t0 + seconds(3), 0, 6);
  EXPECT_EQ(r.framesInProgress(), 2u);
  EXPECT_EQ(Feed(r, "a", frame(2, 900), SenderClass::kBuddy, t0, 1, 2).why, DropReason::kGivenUp);

  // A piece over the contact's share pushes out its other frames (3, then
  // 1 for the number); one that does not fit alone is dropped.
  EXPECT_EQ(Feed(r, "a", frame(4, 5100), SenderClass::kBuddy, t0 + seconds(4)).kind,
            Kind::kComplete);
  EXPECT_EQ(r.framesInProgress(), 0u);
  EXPECT_EQ(Feed(r, "a", frame(5, 9000), SenderClass::kBuddy, t0).why, DropReason::kNoRoom);
  EXPECT_EQ(r.bufferedBytes(), 0u);

  // Many contacts: the class's total holds, the least recently fed give way.
  for (int s = 0; s < 40; ++s) {
    Feed(r, "s" + std::to_string(s), frame(7, 900), SenderClass::kBuddy, t0 + seconds(s), 0, 2);
    ASSERT_LE(r.bufferedBytes(SenderClass::kBuddy), 16384u);
  }
  EXPECT_EQ(Feed(r, "s0", frame(7, 900), SenderClass::kBuddy, t0, 2).why, DropReason::kGivenUp);
  EXPECT_EQ(Feed(r, "s39", frame(7, 900), SenderClass::kBuddy, t0 + seconds(40), 2).kind,
            Kind::kComplete);

  // A reply whose pieces keep coming stays, however long it takes in all;
  // a frame left alone for the time limit is dropped, and only then.
  Reassembler t(Small());
  const EncodedFrame slow = EncodeFrame(FrameKind::kReply, Noise(2000), 9, 400);
  Feed(t, "late", frame(8, 900), SenderClass::kBuddy, t0, 0, 1);
  Reassembler::Result last;
  for (size_t i = 0; i < slow.payloads.size(); ++i) {
    const Clock::time_point now = t0 + seconds(50 * i);
    const std::vector<std::string> expired = t.Expire(now);
    EXPECT_EQ(expired, i == 2 ? std::vector<std::string>{"late"} : std::vector<std::string>{});
    last = t.Add("ann", slow.piece(i), SenderClass::kExpectedReply, now);
  }
  EXPECT_GT(slow.payloads.size(), 3u);
  EXPECT_EQ(last.kind, Kind::kComplete);

  // Pieces that disagree, or come twice, end their frame.
  const EncodedFrame three = frame(10, 900);
  Piece piece = three.piece(0);
  EXPECT_EQ(t.Add("a", piece, SenderClass::kBuddy, t0).kind, Kind::kPending);
  EXPECT_EQ(t.Add("a", piece, SenderClass::kBuddy, t0).why, DropReason::kTwice);
  uint32_t id = 100;
  for (auto change : {+[](Piece& p) { ++p.count; }, +[](Piece& p) { p.flags = 1; },
                      +[](Piece& p) { p.kind = FrameKind::kNotice; }}) {
    piece = three.piece(0);
    piece.id = ++id;
    EXPECT_EQ(t.Add("a", piece, SenderClass::kBuddy, t0).kind, Kind::kPending);
    piece = three.piece(1);
    piece.id = id;
    change(piece);
    EXPECT_EQ(t.Add("a", piece, SenderClass::kBuddy, t0).why, DropReason::kDisagree);
  }
  EXPECT_EQ(t.bufferedBytes(), 0u);
}

TEST(WireReassembly, TheUsualJudgement) {
  using enum SenderClass;
  const struct {
    FrameKind kind;
    bool answered, asked;
    SenderClass judged;
  } cases[] = {
      {FrameKind::kRequest, true, false, kBuddy},
      {FrameKind::kRequest, false, true, kStranger},
      {FrameKind::kReply, true, false, kUnwanted},
      {FrameKind::kReply, false, true, kExpectedReply},
      {FrameKind::kNotice, false, false, kUnwanted},
      {FrameKind::kHandshake, true, false, kBuddy},
      {FrameKind::kRecord, true, false, kBuddy},
      {FrameKind::kRecord, true, true, kExpectedReply},
      {FrameKind::kRecord, false, false, kUnwanted},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ClassifySender(c.kind, c.answered, c.asked), c.judged)
        << static_cast<int>(c.kind) << c.answered << c.asked;
  }
}

}  // namespace
}  // namespace zuvo::purple
