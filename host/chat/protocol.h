// The conversation protocol between two hosts. A stream of frames over one
// TCP connection; each frame is
//
//   length  4 bytes, big-endian: the number of bytes that follow (kind + body)
//   kind    1 byte (Kind)
//   body    length - 1 bytes
//
// A length of 0 or above kMaxFrameLength is a protocol error: the reader
// stops at once instead of allocating what a broken or hostile peer claims.
// Texts travel as UTF-16LE code units, unchanged (CR, LF, the notification
// marker, lone surrogates), so both plug-ins see exactly what was sent.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "host/common/checksum.h"

namespace zuvo::chat {

enum class Kind : uint8_t {
  kHello = 1,       // version byte + the user's display name
  kText = 2,        // one conversation text
  kFileOffer = 3,   // id, size, SHA-256, file name: a transfer begins
  kFileData = 4,    // id, the next bytes of the file
  kFileEnd = 5,     // id: every byte has been sent
  kFileAbort = 6,   // id, reason: either side stops the transfer
  kFileResult = 7,  // id, ok, text: the receiver's verdict after the end
  kBye = 8,         // the user left the chat
  kTextPart = 9,    // the first pieces of a long text; a kText frame ends it
  kNotice = 10,     // a notice from one host to the other (host/common/host_notice.h)
};

inline constexpr uint8_t kProtocolVersion = 1;
// Largest kind + body a frame may carry.
inline constexpr uint32_t kMaxFrameLength = 1u << 20;
// A longer text travels as kTextPart pieces of this many code units and a
// final kText piece; the receiver joins them up to kMaxTextUnits.
inline constexpr size_t kTextPieceUnits = 256 * 1024;
inline constexpr size_t kMaxTextUnits = 32u << 20;
// File data travels in pieces of at most this size, so a conversation text
// never waits behind more than one piece.
inline constexpr size_t kChunkSize = 64 * 1024;

struct Frame {
  Kind kind = Kind::kText;
  std::string body;
};

// The bytes of one frame. |body| must fit kMaxFrameLength.
std::string EncodeFrame(Kind kind, std::string_view body);

// Splits a byte stream into frames, whatever pieces it arrives in.
class FrameDecoder {
 public:
  enum class Status { kNeedMore, kFrame, kBad };

  void Feed(const char* data, size_t size);
  // The next complete frame, if any. After kBad the decoder stays bad.
  Status Next(Frame& frame);
  const std::string& error() const { return error_; }
  // Bytes received but not yet returned as frames.
  size_t pending() const { return buffer_.size() - start_; }

 private:
  std::string buffer_;
  size_t start_ = 0;
  bool bad_ = false;
  std::string error_;
};

// One decoded message. Only the fields of its kind are meaningful.
struct Message {
  Kind kind = Kind::kText;
  uint32_t id = 0;      // transfer messages
  uint64_t size = 0;    // offer
  Digest sha256{};      // offer
  bool ok = false;      // result
  uint8_t version = 0;  // hello
  std::u16string text;  // hello (name), text, offer (file name), abort, result, notice
  std::string data;     // data
};

Message HelloMessage(std::u16string_view name);
Message TextMessage(std::u16string_view text);
// The frames of one text: pieces of kTextPieceUnits code units at most.
std::string EncodeText(std::u16string_view text);
Message OfferMessage(uint32_t id, uint64_t size, const Digest& sha256, std::u16string_view name);
Message DataMessage(uint32_t id, std::string data);
Message EndMessage(uint32_t id);
Message AbortMessage(uint32_t id, std::u16string_view reason);
Message ResultMessage(uint32_t id, bool ok, std::u16string_view text);
Message ByeMessage();
Message NoticeMessage(std::u16string_view text);

std::string EncodeMessage(const Message& message);
// False (with |why|) for a frame whose body does not fit its kind.
bool DecodeMessage(const Frame& frame, Message& message, std::string& why);

}  // namespace zuvo::chat
