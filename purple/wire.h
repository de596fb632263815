// The wire form, version 2: how two plug-ins carry a message over a chat
// network. The rules are stated whole here, in the order the code applies
// them; wire_reassembly.h puts received pieces back together.
//
// A frame is one message: a kind, flags and bytes.
//
//   kind   1 request    a text asking the contact's plug-in for something
//          2 reply      a text answering a request
//          3 notice     a text from one host to the other host
//          4 handshake  a message that sets up an encrypted channel
//          5 record     a message sealed by that channel
//          0 and 6..255 are reserved: a piece of such a kind parses, but
//          its frame is not read (a later version may give them a meaning)
//   flags  1 deflated   the bytes are a zlib stream (RFC 1950) of the
//                       message; without it the bytes are the message
//          every other bit is reserved: a frame with one set is not read
//   bytes  a text's bytes are its UTF-16 code units, each as two bytes,
//          low byte first, so every text (lone surrogates, NUL, CR, the
//          marker) comes back exactly
//
// The sender deflates the message (zlib, level 9) and sends the deflated
// bytes when they are shorter, else the message itself. Each kind has a cap
// on its message (kMaxRequestBytes ...): the receiver inflates only up to
// the cap and stops there, so a small frame never becomes a large message.
//
// A frame travels as one or more pieces, each with the frame's header and
// its share of the bytes, base64-encoded (RFC 4648, standard alphabet, with
// padding): letters, digits, "+", "/" and "=", so nothing in a piece is a
// control character, markup, an entity, a link or formatting on any
// network. The text form of a piece, which a network carries as text (IRC
// inside CTCP; any network as an ordinary message):
//
//   ZFS2 <id> <index>/<count> <kind> <flags>[ <payload>]
//
//   "ZFS2"    the marker "ZFS" and the version of this form, 2
//   id        8 lower-case hex digits, chosen at random per frame
//   index     the piece's place, decimal from 0
//   count     how many pieces the frame has, decimal, 1 to 9999999
//   kind      the frame's kind, decimal 0 to 255
//   flags     the frame's flags, decimal 0 to 255
//   payload   the base64 of this piece's bytes; left out (with its blank)
//             when the piece has none
//
// One blank separates the fields; blanks around the whole are ignored;
// numbers have no leading zeros, so each piece has exactly one text form.
// A network with structured messages (XMPP) may carry the same fields as
// attributes and text of an element of its own (Piece).
//
// A message is a piece when it begins with "ZFS", a version number, a
// blank and an id (8 lower-case hex digits, then a blank or the end): a
// person does not type that. Every later version keeps that beginning, so
// a piece of a newer version is recognised and not shown, and so is a
// piece of version 1, an ordinary message beginning "~zfs~1~".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zuvo::purple {

inline constexpr unsigned kWireVersion = 2;
inline constexpr char kWireMarker[] = "ZFS";
// Version 1's pieces began with this.
inline constexpr char kWireVersion1Prefix[] = "~zfs~1~";

enum class FrameKind : uint8_t {
  kRequest = 1,
  kReply = 2,
  kNotice = 3,
  kHandshake = 4,
  kRecord = 5,
};
inline constexpr uint8_t kFlagDeflated = 1;
inline constexpr uint8_t kKnownFlags = kFlagDeflated;

// The caps on a message once inflated, in bytes, by kind.
//
// A request is the marker, a five-letter code and an argument. The longest
// argument a plug-in reads is a path, and the access rules refuse a path
// over 32,767 UTF-16 units (the Windows limit), so no request worth reading
// is longer than 6 + 32,767 units: 64 KiB, 128 times less than a reply.
inline constexpr size_t kMaxRequestBytes = 2 * (6 + 32767);
// A reply is mostly a listing: 4 Mi UTF-16 units hold some 60,000 paths of
// 70 characters, 300 times the 200 lines a host sends by default.
inline constexpr size_t kMaxReplyBytes = size_t{8} << 20;
// A host's notice is a line or two; a handshake message a few keys and
// signatures.
inline constexpr size_t kMaxNoticeBytes = 4096;
inline constexpr size_t kMaxHandshakeBytes = 4096;
// A record seals a request or a reply, with room for the channel's own
// header and tag.
inline constexpr size_t kMaxRecordBytes = kMaxReplyBytes + 4096;

// The cap of |kind|; 0 for a kind this version does not read.
size_t MaxMessageBytes(FrameKind kind);

// Whole pieces in text form, in bytes. IRC: well under one line, which the
// server's prefix and the command make shorter than 512 bytes. XMPP: well
// under the smallest usual stanza limit (64 KiB). Others: a size every
// network takes.
inline constexpr size_t kIrcPieceBytes = 350;
inline constexpr size_t kXmppPieceBytes = 32 * 1024;
inline constexpr size_t kOtherPieceBytes = 400;
inline constexpr uint32_t kMaxPieceCount = 9999999;

// One piece: the frame's header and this piece's payload (base64). What
// ParsePiece reads refers into the message it read.
struct Piece {
  uint32_t id = 0;
  uint32_t index = 0;
  uint32_t count = 0;
  FrameKind kind = FrameKind::kRequest;
  uint8_t flags = 0;
  std::string_view payload;
};

enum class PieceKind {
  kNotWire,       // an ordinary message
  kPiece,         // a well-formed piece of this version
  kOlderVersion,  // a piece of version 1
  kNewerVersion,  // a piece of a version after this one
  kMalformed,     // begins as a piece (marker, version, id), then is not one of this version
};

// Reads one received message (HTML already removed). |piece| is set only
// for kPiece.
PieceKind ParsePiece(std::string_view message, Piece& piece);
// The text form of |piece|.
std::string PieceText(const Piece& piece);

// The bytes of a text and back; BytesToText fails on an odd count.
std::string TextToBytes(std::u16string_view text);
bool BytesToText(std::string_view bytes, std::u16string& text);

// zlib at level 9, and its inverse bounded by |maxBytes|: Inflate fails on
// a stream that is broken, does not end where |deflated| ends, or gives
// more than |maxBytes|. It stops as soon as the output passes |maxBytes|,
// so its memory is bounded by the cap whatever the stream says.
std::string Deflate(std::string_view bytes);
bool Inflate(std::string_view deflated, size_t maxBytes, std::string& bytes);

// A text sealed in a record of the protection (kind 5; the channel's
// record body, or what follows a file offer's facts) is deflated before it
// is sealed, as sealed bytes no longer shrink: one byte of flags (0, or
// kFlagDeflated), then the text's bytes, deflated when that is shorter.
// BodyText reads it back, inflating at most |maxBytes| and failing on
// other flags, a broken stream or an odd count.
std::string TextBody(std::u16string_view text);
bool BodyText(std::string_view body, size_t maxBytes, std::u16string& text);

// A frame cut into pieces, each payload at most |payloadChars| characters
// (a multiple of 4, at least 4). The message is deflated when that pays. A
// message over its kind's cap gives no pieces: the other side would not
// read it.
struct EncodedFrame {
  uint32_t id = 0;
  FrameKind kind = FrameKind::kRequest;
  uint8_t flags = 0;
  std::vector<std::string> payloads;  // base64, one a piece

  Piece piece(size_t index) const;
};
EncodedFrame EncodeFrame(FrameKind kind, std::string_view message, uint32_t id,
                         size_t payloadChars);

// The pieces of a frame in text form, each at most |pieceBytes| bytes (no
// less than the longest header and 4 are used); none over the cap.
std::vector<std::string> EncodePieceTexts(FrameKind kind, std::string_view message, uint32_t id,
                                          size_t pieceBytes);
inline std::vector<std::string> EncodeText(std::u16string_view text, FrameKind kind, uint32_t id,
                                           size_t pieceBytes) {
  return EncodePieceTexts(kind, TextToBytes(text), id, pieceBytes);
}

// A payload for |bytes|, and the bytes a payload stands for; DecodePayload
// fails on anything but base64 of the form above (length a multiple of 4,
// "=" only as the last one or two, nothing in the bits past the last byte).
std::string EncodePayload(std::string_view bytes);
bool DecodePayload(std::string_view payload, std::string& bytes);

}  // namespace zuvo::purple
