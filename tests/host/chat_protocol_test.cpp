#include <gtest/gtest.h>

#include <random>

#include "host/chat/protocol.h"
#include "host/chat/socket.h"
#include "host/common/checksum.h"

namespace zuvo::chat {
namespace {

TEST(ChatChecksum, KnownVectorsAndPieceIndependence) {
  struct Case {
    std::string input;
    const char* hex;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input.substr(0, 20));
    EXPECT_EQ(DigestHex(Sha256Of(c.input)), c.hex);
    // The same bytes fed in uneven pieces give the same digest.
    Sha256 h;
    size_t pos = 0;
    for (size_t step = 1; pos < c.input.size(); step = step * 3 % 97 + 1) {
      const size_t n = std::min(step, c.input.size() - pos);
      h.Update(c.input.data() + pos, n);
      pos += n;
    }
    EXPECT_EQ(DigestHex(h.Final()), c.hex);
  }
}

std::vector<Message> DecodeAll(const std::string& stream, size_t pieceSize) {
  FrameDecoder decoder;
  std::vector<Message> out;
  for (size_t pos = 0; pos < stream.size(); pos += pieceSize) {
    decoder.Feed(stream.data() + pos, std::min(pieceSize, stream.size() - pos));
    Frame frame;
    FrameDecoder::Status status;
    while ((status = decoder.Next(frame)) == FrameDecoder::Status::kFrame) {
      Message m;
      std::string why;
      EXPECT_TRUE(DecodeMessage(frame, m, why)) << why;
      out.push_back(m);
    }
    EXPECT_NE(status, FrameDecoder::Status::kBad);
  }
  EXPECT_EQ(decoder.pending(), 0u);
  return out;
}

TEST(ChatFraming, MessagesSurviveAnySplitOfTheStream) {
  // Texts keep every code unit: CR, LF, the marker, a lone surrogate, NUL.
  const std::u16string text = u"\x12rlist*.txt\r\nline\x00two\xD800 end";
  Digest digest = Sha256Of("data");
  std::string stream = EncodeMessage(HelloMessage(u"Ann")) + EncodeMessage(TextMessage(text)) +
                       EncodeMessage(TextMessage(u"")) +
                       EncodeMessage(OfferMessage(7, 1ull << 40, digest, u"a b.txt")) +
                       EncodeMessage(DataMessage(7, std::string("\0\1\2", 3))) +
                       EncodeMessage(EndMessage(7)) + EncodeMessage(AbortMessage(9, u"why")) +
                       EncodeMessage(ResultMessage(7, true, u"ok")) + EncodeMessage(ByeMessage());
  for (size_t piece : {size_t{1}, size_t{3}, size_t{7}, stream.size()}) {
    SCOPED_TRACE(piece);
    std::vector<Message> got = DecodeAll(stream, piece);
    ASSERT_EQ(got.size(), 9u);
    EXPECT_EQ(got[0].kind, Kind::kHello);
    EXPECT_EQ(got[0].text, u"Ann");
    EXPECT_EQ(got[0].version, kProtocolVersion);
    EXPECT_EQ(got[1].text, text);
    EXPECT_EQ(got[2].kind, Kind::kText);
    EXPECT_EQ(got[2].text, u"");
    EXPECT_EQ(got[3].id, 7u);
    EXPECT_EQ(got[3].size, 1ull << 40);
    EXPECT_EQ(got[3].sha256, digest);
    EXPECT_EQ(got[3].text, u"a b.txt");
    EXPECT_EQ(got[4].data, std::string("\0\1\2", 3));
    EXPECT_EQ(got[5].kind, Kind::kFileEnd);
    EXPECT_EQ(got[6].text, u"why");
    EXPECT_TRUE(got[7].ok);
    EXPECT_EQ(got[8].kind, Kind::kBye);
  }
}

TEST(ChatFraming, LargeTextsTravelInPiecesAndLargestFrameFits) {
  std::u16string big(kTextPieceUnits * 2 + 5, u'x');
  big[kTextPieceUnits] = u'\r';
  std::vector<Message> got = DecodeAll(EncodeText(big), 65536);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].kind, Kind::kTextPart);
  EXPECT_EQ(got[1].kind, Kind::kTextPart);
  EXPECT_EQ(got[2].kind, Kind::kText);
  EXPECT_EQ(got[0].text + got[1].text + got[2].text, big);

  // A frame of exactly the largest length is accepted.
  const std::string body(kMaxFrameLength - 1, 'a');
  FrameDecoder decoder;
  const std::string frame = EncodeFrame(Kind::kTextPart, body);
  decoder.Feed(frame.data(), frame.size());
  Frame f;
  ASSERT_EQ(decoder.Next(f), FrameDecoder::Status::kFrame);
  EXPECT_EQ(f.body.size(), body.size());
}

TEST(ChatFraming, BadLengthsAndBodiesAreRejected) {
  struct Case {
    const char* what;
    std::string bytes;
  } badLengths[] = {
      {"zero length", std::string("\0\0\0\0", 4)},
      {"just over the limit",
       [] {
         std::string s;
         const uint32_t n = kMaxFrameLength + 1;
         for (int shift = 24; shift >= 0; shift -= 8) s.push_back(static_cast<char>(n >> shift));
         return s;
       }()},
      {"4 GiB claimed", std::string("\xff\xff\xff\xff\x02", 5)},
  };
  for (const Case& c : badLengths) {
    SCOPED_TRACE(c.what);
    FrameDecoder decoder;
    decoder.Feed(c.bytes.data(), c.bytes.size());
    Frame f;
    EXPECT_EQ(decoder.Next(f), FrameDecoder::Status::kBad);
    EXPECT_FALSE(decoder.error().empty());
    // Once bad, always bad: later bytes are not taken as a fresh start.
    const std::string good = EncodeMessage(TextMessage(u"hi"));
    decoder.Feed(good.data(), good.size());
    EXPECT_EQ(decoder.Next(f), FrameDecoder::Status::kBad);
  }

  const Case badBodies[] = {
      {"odd text length", EncodeFrame(Kind::kText, "abc")},
      {"short offer", EncodeFrame(Kind::kFileOffer, std::string(10, '\0'))},
      {"empty data", EncodeFrame(Kind::kFileData, std::string(4, '\0'))},
      {"data over a piece", EncodeFrame(Kind::kFileData, std::string(4 + kChunkSize + 1, 'd'))},
      {"end with extra bytes", EncodeFrame(Kind::kFileEnd, std::string(5, '\0'))},
      {"result flag 2", EncodeFrame(Kind::kFileResult, std::string("\0\0\0\1\2", 5))},
      {"unknown kind", EncodeFrame(static_cast<Kind>(200), "")},
      {"hello without version", EncodeFrame(Kind::kHello, "")},
  };
  for (const Case& c : badBodies) {
    SCOPED_TRACE(c.what);
    FrameDecoder decoder;
    decoder.Feed(c.bytes.data(), c.bytes.size());
    Frame f;
    ASSERT_EQ(decoder.Next(f), FrameDecoder::Status::kFrame);
    Message m;
    std::string why;
    EXPECT_FALSE(DecodeMessage(f, m, why));
    EXPECT_FALSE(why.empty());
  }
}

TEST(ChatFraming, RandomBytesNeverCrashTheDecoder) {
  std::mt19937 rng(42);
  for (int round = 0; round < 200; ++round) {
    std::string junk(rng() % 300, '\0');
    for (char& c : junk) c = static_cast<char>(rng());
    if (round % 2 && junk.size() >= 4) junk[0] = junk[1] = 0;  // plausible small lengths
    FrameDecoder decoder;
    decoder.Feed(junk.data(), junk.size());
    Frame f;
    while (decoder.Next(f) == FrameDecoder::Status::kFrame) {
      Message m;
      std::string why;
      DecodeMessage(f, m, why);
    }
  }
}

TEST(ChatEndpoint, ParsesPortsAndAddresses) {
  struct Case {
    const char* text;
    bool ok;
    const char* host;
    uint16_t port;
  } cases[] = {
      {"5000", true, "127.0.0.1", 5000},
      {"0", true, "127.0.0.1", 0},
      {"127.0.0.1:6001", true, "127.0.0.1", 6001},
      {"localhost:80", true, "localhost", 80},
      {"[::1]:7000", true, "::1", 7000},
      {"", false, "", 0},
      {"65536", false, "", 0},
      {"host:", false, "", 0},
      {":80", false, "", 0},
      {"::1:80", false, "", 0},
      {"[::1]7000", false, "", 0},
      {"12ab", false, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Endpoint e;
    std::string why;
    EXPECT_EQ(ParseEndpoint(c.text, e, why), c.ok) << why;
    if (c.ok) {
      EXPECT_EQ(e.host, c.host);
      EXPECT_EQ(e.port, c.port);
    }
  }
}

}  // namespace
}  // namespace zuvo::chat
