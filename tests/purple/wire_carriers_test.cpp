#include "purple/wire_carriers.h"

#include <gtest/gtest.h>

namespace zuvo::purple {
namespace {

// A piece's fields as an element carries them.
struct Element {
  std::string ns = kXmppNamespace;
  std::vector<std::string> attributes;
  std::string payload;
  PieceFields fields() const {
    PieceFields f;
    f.ns = ns;
    const char** slots[] = {&f.id, &f.index, &f.count, &f.kind, &f.flags};
    for (size_t i = 0; i < 5; ++i)
      *slots[i] = i < attributes.size() ? attributes[i].c_str() : nullptr;
    f.payload = payload;
    return f;
  }
};

TEST(WireCarriers, AnElementCarriesEveryPieceExactly) {
  const std::string message(5000, 'x');
  for (const FrameKind kind : {FrameKind::kRequest, FrameKind::kReply, FrameKind::kRecord}) {
    const EncodedFrame frame = EncodeFrame(kind, message, 0x00c0ffee, 400);
    for (size_t i = 0; i < frame.payloads.size(); ++i) {
      const Piece sent = frame.piece(i);
      const Element element{kXmppNamespace, PieceAttributes(sent), std::string(sent.payload)};
      std::string storage;
      Piece got;
      ASSERT_EQ(ReadPieceFields(element.fields(), storage, got), PieceKind::kPiece);
      EXPECT_EQ(PieceText(got), PieceText(sent));
    }
  }
}

TEST(WireCarriers, AnElementIsReadByTheRulesOfTheTextForm) {
  const std::vector<std::string> good = {"0123abcd", "0", "1", "2", "0"};
  struct Case {
    const char* what;
    Element element;
    PieceKind expected;
  };
  const Case cases[] = {
      {"well formed", {kXmppNamespace, good, ""}, PieceKind::kPiece},
      {"another namespace", {"jabber:x:data", good, ""}, PieceKind::kNotWire},
      {"a later version", {"urn:zuvo:file-sharing:3", good, ""}, PieceKind::kNewerVersion},
      {"an earlier version", {"urn:zuvo:file-sharing:1", good, ""}, PieceKind::kMalformed},
      {"a version with a leading zero",
       {"urn:zuvo:file-sharing:02", good, ""},
       PieceKind::kNotWire},
      {"an attribute missing",
       {kXmppNamespace, {"0123abcd", "0", "1", "2"}, ""},
       PieceKind::kMalformed},
      {"upper-case hex",
       {kXmppNamespace, {"0123ABCD", "0", "1", "2", "0"}, ""},
       PieceKind::kMalformed},
      {"a leading zero",
       {kXmppNamespace, {"0123abcd", "00", "1", "2", "0"}, ""},
       PieceKind::kMalformed},
      // Fields that would shift the text form if they were joined as they are.
      {"a blank in a field",
       {kXmppNamespace, {"0123abcd", "0", "1 2", "0", "0"}, ""},
       PieceKind::kMalformed},
      {"a slash in a field",
       {kXmppNamespace, {"0123abcd", "0/1", "1", "2", "0"}, ""},
       PieceKind::kMalformed},
      {"a blank in the payload", {kXmppNamespace, good, "AAAA AAAA"}, PieceKind::kMalformed},
      {"a payload not base64", {kXmppNamespace, good, "AAA"}, PieceKind::kMalformed},
      {"index past count",
       {kXmppNamespace, {"0123abcd", "1", "1", "2", "0"}, ""},
       PieceKind::kMalformed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string storage;
    Piece piece;
    EXPECT_EQ(ReadPieceFields(c.element.fields(), storage, piece), c.expected);
  }
}

TEST(WireCarriers, IrcLinesAndCtcp) {
  struct Case {
    std::string line;
    bool parses;
    std::string nick, command;
    std::vector<std::string> params;
  };
  const Case cases[] = {
      {":bob!~bob@127.0.0.1 NOTICE ann :\x01ZFS2 0123abcd 0/1 2 0\x01\r\n",
       true,
       "bob",
       "NOTICE",
       {"ann", "\x01ZFS2 0123abcd 0/1 2 0\x01"}},
      {"@time=2024-01-01T00:00:00Z :eve PRIVMSG ann :hi there",
       true,
       "eve",
       "PRIVMSG",
       {"ann", "hi there"}},
      {":irc.localhost 401 ann bob :No such nick/channel",
       true,
       "irc.localhost",
       "401",
       {"ann", "bob", "No such nick/channel"}},
      {"PING :irc.localhost", true, "", "PING", {"irc.localhost"}},
      {":bob PRIVMSG #room ::-)", true, "bob", "PRIVMSG", {"#room", ":-)"}},
      {"", false, "", "", {}},
      {":only.a.prefix", false, "", "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    IrcLine line;
    ASSERT_EQ(ParseIrcLine(c.line, line), c.parses);
    if (!c.parses) continue;
    EXPECT_EQ(line.nick, c.nick);
    EXPECT_EQ(line.command, c.command);
    EXPECT_EQ(std::vector<std::string>(line.params.begin(), line.params.end()), c.params);
  }
  EXPECT_TRUE(IsIrcChannel("#room"));
  EXPECT_FALSE(IsIrcChannel("bob"));
  EXPECT_FALSE(IsIrcChannel(std::string_view("\0x", 2)));
  EXPECT_EQ(CtcpBody("\x01VERSION\x01"), "VERSION");
  EXPECT_EQ(CtcpBody("\x01ZFS2 cut sho"), "ZFS2 cut sho");
  EXPECT_FALSE(CtcpBody("ZFS2 0123abcd 0/1 1 0"));

  // What is sent reads back as what was meant.
  const std::string relayed = ":ann " + CtcpLine(true, "bob", "ZFS2 0123abcd 0/1 2 0 AAAA");
  IrcLine sent;
  ASSERT_TRUE(ParseIrcLine(relayed, sent));
  EXPECT_EQ(sent.command, "NOTICE");
  EXPECT_EQ(CtcpBody(sent.params.at(1)), "ZFS2 0123abcd 0/1 2 0 AAAA");
  EXPECT_TRUE(CtcpLine(false, "bob", "x").starts_with("PRIVMSG bob :\x01x\x01\r\n"));
}

}  // namespace
}  // namespace zuvo::purple
