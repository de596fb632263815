#include "purple/wire.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "base/text.h"

namespace zuvo::purple {
namespace {

using Clock = Reassembler::Clock;
using Kind = Reassembler::Result::Kind;

// Feeds |pieces| in the given order; the last result.
Reassembler::Result Feed(Reassembler& r, const std::string& sender,
                         const std::vector<std::string>& pieces, Clock::time_point now) {
  Reassembler::Result last;
  for (const std::string& p : pieces) {
    Piece piece;
    EXPECT_EQ(ParsePiece(p, piece), PieceKind::kPiece) << p;
    last = r.Add(sender, piece, now);
  }
  return last;
}

// ---- The form -------------------------------------------------------------

TEST(Wire, AnyTextComesBackExactlyInPiecesEveryNetworkCarries) {
  const std::u16string texts[] = {
      u"",
      u"\x12rlist*.txt;*.md",
      u"Accepted Request, Offering...\r/home/bob/a b.txt\r/home/bob/c&d<e>.txt",
      u"Accepted Request, Sending File /s/x\n#/dropfile /s/x",
      std::u16string(u"lone \xD800 and \xDC00 surrogates, NUL \0 end", 34),
      u"~zfs~1~ inside _ and ~ and \x02\x03\x0F\x16\x1D\x1F formatting, caf\u00E9 \U0001F600",
      std::u16string(5000, u'/') + std::u16string(3000, u'\u4E2D'),
      u"/home/bob/a\r/home/bob/ab\r\r/home/bob/a\r\n/home/bob/a\n/ho\r/ho\r/home",
  };
  for (const std::u16string& text : texts) {
    for (size_t size : {kIrcPieceBytes, kXmppPieceBytes, size_t{10}}) {
      SCOPED_TRACE(size);
      const std::vector<std::string> pieces = EncodeText(text, 0xABCDEF01, size);
      for (const std::string& p : pieces) {
        EXPECT_LE(p.size(), std::max(size, kMaxHeaderBytes + 5));
        // Nothing a network changes: no controls, blanks, markup, entities,
        // links or IRC formatting.
        EXPECT_TRUE(std::all_of(p.begin(), p.end(), [](char c) {
          return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 c == '-' || c == '_' || c == '~';
        })) << p;
      }
      // Out of order, too.
      std::vector<std::string> shuffled = pieces;
      std::reverse(shuffled.begin(), shuffled.end());
      Reassembler r;
      const Reassembler::Result result = Feed(r, "bob", shuffled, Clock::now());
      ASSERT_EQ(result.kind, Kind::kComplete);
      EXPECT_EQ(result.text, text);
      EXPECT_EQ(r.bufferedBytes(), 0u);
    }
  }
}

TEST(Wire, AListingTravelsInFewPieces) {
  std::u16string listing = u"Accepted Request, Offering...";
  for (int i = 0; i < 200; ++i) {
    listing +=
        u"\r/home/bob/Public/photos/2024/holiday/IMG_" + Ascii(std::to_string(1000 + i)) + u".jpg";
  }
  // About 16 bytes a path instead of 60 and more.
  EXPECT_LT(EscapeText(listing).size(), 200u * 18);
}

TEST(Wire, OrdinaryMessagesAreNotPiecesAndBrokenPiecesAreNotRead) {
  Piece piece;
  for (const char* text :
       {"hello", "", "~zfs", "zfs~1~00000000~0~1~abc", "/xrlist", "I typed ~zfs by hand"}) {
    EXPECT_EQ(ParsePiece(text, piece), PieceKind::kNotWire) << text;
  }
  EXPECT_EQ(ParsePiece("  ~zfs~1~0000000a~0~1~abc_a \n", piece), PieceKind::kPiece);
  EXPECT_EQ(piece.id, 10u);
  EXPECT_EQ(ParsePiece("~zfs~2~0000000a~0~1~abc", piece), PieceKind::kOtherVersion);
  for (const char* text : {"~zfs~1~0000000a~1~1~abc",   // index beyond the count
                           "~zfs~1~0000000a~0~0~",      // no pieces
                           "~zfs~1~0000000A~0~1~abc",   // upper-case id
                           "~zfs~1~000000a~0~1~abc",    // short id
                           "~zfs~1~0000000a~00~1~abc",  // leading zero
                           "~zfs~1~0000000a~0~1~a<b",   // outside the alphabet
                           "~zfs~1~0000000a~0~1~a~b",   // a field too many
                           "~zfs~1~0000000a~0~99999999~", "~zfs~x~"}) {
    EXPECT_EQ(ParsePiece(text, piece), PieceKind::kMalformed) << text;
  }
  std::u16string out;
  // "_Z" repeats only at a line's start, and no more than the line before.
  EXPECT_TRUE(UnescapeText("abcd_e_Z04x", out));
  EXPECT_EQ(out, u"abcd\rabcdx");
  for (const char* payload : {"_", "_A", "_00G0", "_0A", "a b", "_\x80", "_Z03", "abcd_Z03",
                              "abc_e_Z04", "abc_e_Z02", "abc_ex_Z03", "abc_e_Z0"}) {
    EXPECT_FALSE(UnescapeText(payload, out)) << payload;
  }
}

// ---- Reassembly within bounds ------------------------------------------------

TEST(Wire, ReassemblyKeepsToItsLimits) {
  Reassembler::Limits limits;
  limits.maxTextBytes = 1000;
  limits.maxTextsPerSender = 2;
  limits.maxTotalBytes = 3000;
  limits.timeout = std::chrono::seconds(60);
  const Clock::time_point t0 = Clock::now();
  auto firstHalf = [](uint32_t id, size_t bytes) {
    std::vector<std::string> p = EncodeText(std::u16string(bytes, u'x'), id, 100);
    p.resize(p.size() / 2);
    return p;
  };

  // A text larger than the cap is dropped as soon as it passes it.
  Reassembler r(limits);
  EXPECT_EQ(Feed(r, "a", EncodeText(std::u16string(2000, u'x'), 1, 100), t0).kind, Kind::kDropped);
  EXPECT_EQ(r.bufferedBytes(), 0u);

  // A sender's third text pushes out its oldest.
  Feed(r, "a", firstHalf(1, 400), t0);
  Feed(r, "a", firstHalf(2, 400), t0 + std::chrono::seconds(1));
  Feed(r, "a", firstHalf(3, 400), t0 + std::chrono::seconds(2));
  EXPECT_EQ(r.textsInProgress(), 2u);

  // Other senders fill the rest; the total never passes its cap, and the
  // least recently fed texts give way.
  for (int s = 0; s < 20; ++s) {
    Feed(r, "s" + std::to_string(s), firstHalf(7, 900), t0 + std::chrono::seconds(3 + s));
    EXPECT_LE(r.bufferedBytes(), limits.maxTotalBytes);
  }

  // Pieces that disagree, or come twice, end their text.
  Reassembler d(limits);
  Piece piece;
  ParsePiece("~zfs~1~00000001~0~3~ab", piece);
  EXPECT_EQ(d.Add("a", piece, t0).kind, Kind::kPending);
  EXPECT_EQ(d.Add("a", piece, t0).kind, Kind::kDropped);
  ParsePiece("~zfs~1~00000001~1~3~ab", piece);
  d.Add("a", piece, t0);
  ParsePiece("~zfs~1~00000001~2~4~ab", piece);
  EXPECT_EQ(d.Add("a", piece, t0).kind, Kind::kDropped);
  EXPECT_EQ(d.bufferedBytes(), 0u);

  // An unfinished text expires after the time limit, and only then.
  Reassembler e(limits);
  Feed(e, "late", firstHalf(9, 400), t0);
  EXPECT_TRUE(e.Expire(t0 + std::chrono::seconds(59)).empty());
  EXPECT_EQ(e.Expire(t0 + std::chrono::seconds(60)), std::vector<std::string>{"late"});
  EXPECT_EQ(e.bufferedBytes(), 0u);
}

}  // namespace
}  // namespace zuvo::purple
