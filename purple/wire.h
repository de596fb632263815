// The wire form two plug-ins use to carry a text (a request or a reply)
// through an ordinary chat conversation. Chat networks do not carry texts
// as they are: XMPP cannot carry the marker or CR at all and treats bodies
// as HTML, IRC cuts a message at CR, splits it at LF and at about 450
// bytes, and turns formatting bytes into markup. So a text travels as one
// or more pieces, each one plain message of safe ASCII:
//
//   ~zfs~1~<id>~<index>~<count>~<payload>
//
//   "~zfs~"   the prefix: no person types it, so an ordinary message is
//             never read as a piece
//   "1"       the version of this form; a piece of another version is
//             recognised (and not shown) but not decoded
//   id        8 lower-case hex digits, chosen by the sender per text
//   index     the piece's place, decimal from 0, no leading zeros
//   count     how many pieces the text has, decimal, 1 or more
//   payload   this piece's share of the escaped text
//
// The escaped text keeps A-Z, a-z, 0-9 and "-" as they are; every other
// UTF-16 unit is "_" and one lower-case letter for the common ones (a
// blank, ".", "/", CR ...; table in wire.cpp) or "_" and four upper-case hex
// digits. A line (after CR or LF) that begins as the line before it begins
// with "_Z" and two upper-case hex digits, the number of units (3 to 255)
// repeated from the start of that line: a listing's paths share most of
// their length, and a network such as IRC pays per message. Nothing in a piece is markup, a link,
// an entity or a control character on any network, and every UTF-16 text (lone surrogates too)
// comes back exactly. Pieces split the payload only between escapes.
//
// Reassembler puts the pieces of each sender's texts back together with
// bounded memory: a cap on a text's payload, on the texts in progress per
// sender and on everything buffered, and a time limit after which an
// unfinished text is dropped.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zuvo::purple {

inline constexpr char kWirePrefix[] = "~zfs~";
inline constexpr unsigned kWireVersion = 1;

// Whole pieces (header and payload), in bytes. IRC: well under one line,
// which the server's own prefix makes shorter than 512 bytes. XMPP: well
// under the usual 256 KiB stanza limit. Others: a size every network takes.
inline constexpr size_t kIrcPieceBytes = 350;
inline constexpr size_t kXmppPieceBytes = 32 * 1024;
inline constexpr size_t kOtherPieceBytes = 400;
// The longest header: prefix, version, id and two 7-digit numbers.
inline constexpr size_t kMaxHeaderBytes = 36;
inline constexpr size_t kMaxPieceCount = 9999999;

// The escaped form of |text| and back. Unescape fails on any byte outside
// the alphabet, on a broken escape and on a text longer than |maxUnits|.
std::string EscapeText(std::u16string_view text);
bool UnescapeText(std::string_view payload, std::u16string& text, size_t maxUnits = 4u << 20);

// The pieces that carry |text|, each at most |pieceBytes| bytes (at least
// kMaxHeaderBytes + 5 are used).
std::vector<std::string> EncodeText(std::u16string_view text, uint32_t id, size_t pieceBytes);

struct Piece {
  uint32_t id = 0;
  uint32_t index = 0;
  uint32_t count = 0;
  std::string_view payload;
};

enum class PieceKind {
  kNotWire,       // an ordinary message
  kPiece,         // a well-formed piece of this version
  kOtherVersion,  // the prefix with a version this plug-in does not read
  kMalformed,     // the prefix, then something that is not a piece
};

// Reads one received message (HTML already removed). Blanks around it are
// ignored. |piece| refers into |message|.
PieceKind ParsePiece(std::string_view message, Piece& piece);

class Reassembler {
 public:
  using Clock = std::chrono::steady_clock;

  struct Limits {
    size_t maxTextBytes = 4u << 20;    // payload bytes of one text
    size_t maxTextUnits = 4u << 20;    // UTF-16 units of one decoded text
    size_t maxTextsPerSender = 2;      // texts in progress per sender
    size_t maxTotalBytes = 16u << 20;  // everything buffered, with a per-piece charge
    Clock::duration timeout = std::chrono::seconds(120);  // since a text's last piece
  };

  // What each buffered piece costs beyond its payload.
  static constexpr size_t kPieceCharge = 64;

  struct Result {
    enum class Kind {
      kPending,   // kept; the text is not complete yet
      kComplete,  // |text| is the whole text
      kDropped,   // the piece, and the text it belonged to, were thrown away (|why|)
    };
    Kind kind = Kind::kPending;
    std::u16string text;
    std::string why;
  };

  Reassembler() = default;
  explicit Reassembler(const Limits& limits) : limits_(limits) {}

  Result Add(const std::string& sender, const Piece& piece, Clock::time_point now);
  // Drops the texts whose last piece is older than the time limit; returns
  // the senders whose texts were dropped, one entry per text.
  std::vector<std::string> Expire(Clock::time_point now);

  size_t bufferedBytes() const { return total_; }
  size_t textsInProgress() const { return texts_.size(); }

 private:
  struct Text {
    uint32_t count = 0;
    std::map<uint32_t, std::string> pieces;
    size_t payloadBytes = 0;
    size_t charged = 0;
    Clock::time_point last;
  };
  using Key = std::pair<std::string, uint32_t>;  // sender, id

  void Drop(std::map<Key, Text>::iterator it);
  // Frees room for |bytes| more by dropping the least recently fed texts
  // other than |keep|; false when it cannot.
  bool MakeRoom(size_t bytes, const Key& keep);

  // Remembers a text that was given up, so its later pieces do not start
  // it again; the newest kRememberDropped are kept.
  void Forget(const Key& key);
  static constexpr size_t kRememberDropped = 64;

  Limits limits_;
  std::map<Key, Text> texts_;
  std::deque<Key> dropped_;
  size_t total_ = 0;
};

}  // namespace zuvo::purple
