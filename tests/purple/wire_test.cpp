#include "purple/wire.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>

#include "base/text.h"
#include "files/path_access.h"
#include "purple/wire_reassembly.h"

namespace zuvo::purple {
namespace {

using Clock = Reassembler::Clock;
using Kind = Reassembler::Result::Kind;

std::u16string Listing(size_t entries) {
  std::u16string listing = u"Accepted Request, Offering...";
  for (size_t i = 0; i < entries; ++i) {
    listing += u"\r/home/bob/Public/photos/d" + Ascii(std::to_string(i / 100)) + u"/IMG_" +
               Ascii(std::to_string(1000 + i)) + u".jpg";
  }
  return listing;
}

// Units no compressor shrinks.
std::u16string Noise(size_t units) {
  std::mt19937 random(7);
  std::u16string text(units, u'\0');
  for (char16_t& c : text) c = static_cast<char16_t>(random());
  return text;
}

// ---- The form -------------------------------------------------------------

TEST(Wire, AnyTextComesBackExactlyInPiecesEveryNetworkCarries) {
  const std::u16string texts[] = {
      u"",
      u"\x12rlist*.txt;*.md",
      u"Accepted Request, Offering...\r/home/bob/a b.txt\r/home/bob/c&d<e>.txt",
      std::u16string(u"lone \xD800 and \xDC00 surrogates, NUL \0 end", 34),
      u"ZFS2 0123abcd 0/1 1 0 ~zfs~1~ \x01\x02\x03\x0F\x16\x1D\x1F caf\u00E9 \U0001F600",
      Listing(300),
      Noise(3000),
  };
  for (const std::u16string& text : texts) {
    for (size_t size : {kIrcPieceBytes, kOtherPieceBytes, kXmppPieceBytes, size_t{1}}) {
      SCOPED_TRACE(testing::Message() << Utf16ToUtf8(text.substr(0, 20)) << " at " << size);
      const std::vector<std::string> pieces = EncodeText(text, FrameKind::kReply, 0xABCDEF01, size);
      ASSERT_FALSE(pieces.empty());
      Reassembler r;
      Reassembler::Result result;
      // Out of order, too.
      for (auto p = pieces.rbegin(); p != pieces.rend(); ++p) {
        EXPECT_LE(p->size(), std::max<size_t>(size, 42));
        // Nothing a network changes: no controls, markup, entities,
        // links or IRC formatting.
        EXPECT_TRUE(std::all_of(p->begin(), p->end(), [](char c) {
          return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 c == '+' || c == '/' || c == '=' || c == ' ';
        })) << *p;
        Piece piece;
        ASSERT_EQ(ParsePiece(*p, piece), PieceKind::kPiece) << *p;
        EXPECT_EQ(PieceText(piece), *p);
        // Deflated when that pays: a listing, never noise.
        if (text.size() > 1000) {
          EXPECT_EQ(piece.flags, text[0] == u'A' ? kFlagDeflated : 0);
        }
        result = r.Add("bob", piece, SenderClass::kExpectedReply, Clock::now());
      }
      ASSERT_EQ(result.kind, Kind::kComplete);
      std::u16string back;
      ASSERT_TRUE(BytesToText(result.message, back));
      EXPECT_EQ(back, text);
      EXPECT_EQ(r.bufferedBytes(), 0u);
    }
  }
  // A message over its kind's cap is not sent at all.
  EXPECT_TRUE(EncodeText(Noise(kMaxRequestBytes / 2 + 1), FrameKind::kRequest, 1, 400).empty());
}

TEST(Wire, ARequestCapHoldsTheLongestPath) {
  EXPECT_EQ(kMaxRequestBytes, 2 * (6 + PathAccess::kMaxPathLength));
  EXPECT_LT(kMaxRequestBytes * 100, kMaxReplyBytes);
}

TEST(Wire, OrdinaryMessagesAreNotPiecesAndBrokenPiecesAreNotRead) {
  const struct {
    const char* message;
    PieceKind kind;
  } cases[] = {
      {"hello", PieceKind::kNotWire},
      {"", PieceKind::kNotWire},
      {"ZFS2 is out", PieceKind::kNotWire},
      {"ZFS3 rocks, ZFS2 0123abcd 0/1 1 0", PieceKind::kNotWire},
      {"ZFS2 0123ABCD 0/1 1 0", PieceKind::kNotWire},  // upper-case id
      {"ZFS 2 0123abcd 0/1 1 0", PieceKind::kNotWire},
      {"  ZFS2 0123abcd 0/1 1 0 \r\n", PieceKind::kPiece},
      {"ZFS2 0123abcd 2/3 2 1 QUJD", PieceKind::kPiece},
      {"ZFS2 0123abcd 0/1 200 7 QQ==", PieceKind::kPiece},  // unknown kind and flags parse
      {"~zfs~1~26962f41~0~1~_0012rfile", PieceKind::kOlderVersion},
      {"ZFS3 0123abcd", PieceKind::kNewerVersion},
      {"ZFS12 0123abcd x", PieceKind::kNewerVersion},
      {"ZFS1 0123abcd 0/1 1 0", PieceKind::kMalformed},
      {"ZFS2 0123abcd", PieceKind::kMalformed},
      {"ZFS2 0123abcd 1/1 1 0", PieceKind::kMalformed},   // index beyond the count
      {"ZFS2 0123abcd 0/0 1 0", PieceKind::kMalformed},   // no pieces
      {"ZFS2 0123abcd 00/1 1 0", PieceKind::kMalformed},  // leading zero
      {"ZFS2 0123abcd 0/12345678 1 0", PieceKind::kMalformed},
      {"ZFS2 0123abcd 0/1 256 0", PieceKind::kMalformed},
      {"ZFS2 0123abcd 0/1 1 0  QUJD", PieceKind::kMalformed},  // two blanks
      {"ZFS2 0123abcd 0/1 1 0 QUJ", PieceKind::kMalformed},    // not a multiple of 4
      {"ZFS2 0123abcd 0/1 1 0 QR==", PieceKind::kMalformed},   // bits past the byte
      {"ZFS2 0123abcd 0/1 1 0 Q===", PieceKind::kMalformed},
      {"ZFS2 0123abcd 0/1 1 0 QQ==QUJD", PieceKind::kMalformed},
      {"ZFS2 0123abcd 0/1 1 0 QU<D", PieceKind::kMalformed},
      {"ZFS2 0123abcd 0/1 1 0 QUJD x", PieceKind::kMalformed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    Piece piece;
    EXPECT_EQ(ParsePiece(c.message, piece), c.kind);
  }
  Piece piece;
  ASSERT_EQ(ParsePiece("ZFS2 0123abcd 2/3 2 1 QUJD", piece), PieceKind::kPiece);
  EXPECT_EQ(piece.id, 0x0123abcdu);
  EXPECT_EQ(piece.index, 2u);
  EXPECT_EQ(piece.count, 3u);
  EXPECT_EQ(piece.kind, FrameKind::kReply);
  EXPECT_EQ(piece.flags, kFlagDeflated);
  std::string bytes;
  ASSERT_TRUE(DecodePayload(piece.payload, bytes));
  EXPECT_EQ(bytes, "ABC");
}

TEST(Wire, InflateStopsAtTheCap) {
  const std::string big(1u << 20, 'x');
  const std::string bomb = Deflate(big);
  ASSERT_LT(bomb.size(), 2000u);
  std::string out = "old";
  EXPECT_FALSE(Inflate(bomb, kMaxRequestBytes, out));
  EXPECT_TRUE(out.empty());
  ASSERT_TRUE(Inflate(bomb, big.size(), out));
  EXPECT_EQ(out, big);

  const std::string text = Deflate("a short text, a short text, a short text");
  const std::string broken[] = {"", text.substr(0, text.size() - 1), text + "x",
                                std::string(text).replace(5, 1, "\xFF"), "not zlib at all"};
  for (const std::string& stream : broken) {
    EXPECT_FALSE(Inflate(stream, 1000, out)) << stream.size();
  }
}

TEST(Wire, ASealedTextIsDeflatedWhenThatPaysAndReadBackWithinItsCap) {
  const std::u16string listing =
      u"Accepted Request, Offering...\r/home/bob/Public/a.txt\r"
      u"/home/bob/Public/b.txt\r/home/bob/Public/c.txt";
  struct Case {
    const char* what;
    std::string body;
    size_t cap;
    std::optional<std::u16string> text;
  };
  const Case cases[] = {
      {"a listing, deflated", TextBody(listing), 1000, listing},
      {"a short text, as it is", TextBody(u"\x12rlist"), 1000, u"\x12rlist"},
      {"over the cap once inflated", TextBody(listing), 2 * listing.size() - 2, std::nullopt},
      {"a plain text over the cap", TextBody(u"\x12rlist"), 8, std::nullopt},
      {"other flags", "\x02" + TextBody(listing).substr(1), 1000, std::nullopt},
      {"an odd count", std::string("\0abc", 4), 1000, std::nullopt},
      {"empty", "", 1000, std::nullopt},
  };
  EXPECT_EQ(cases[0].body[0], char(kFlagDeflated));
  EXPECT_EQ(cases[1].body[0], '\0');
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::u16string text;
    EXPECT_EQ(BodyText(c.body, c.cap, text), c.text.has_value());
    if (c.text) {
      EXPECT_EQ(text, *c.text);
    }
  }
}

}  // namespace
}  // namespace zuvo::purple
