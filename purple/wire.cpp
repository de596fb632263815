#include "purple/wire.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <climits>

namespace zuvo::purple {
namespace {

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kHex[] = "0123456789abcdef";
constexpr std::string_view kBlanks = " \t\r\n";
// "ZFS2 " and the id.
constexpr size_t kIdEnd = 5 + 8;
// The longest header: "ZFS2 ", the id, two 7-digit numbers, two 3-digit
// numbers and the blanks between them and before the payload.
constexpr size_t kMaxHeaderBytes = kIdEnd + 1 + 7 + 1 + 7 + 1 + 3 + 1 + 3 + 1;

// Each character's value in base64, -1 for those outside it.
constexpr std::array<int8_t, 256> kBase64Values = [] {
  std::array<int8_t, 256> values{};
  values.fill(-1);
  for (int8_t i = 0; i < 64; ++i) values[static_cast<uint8_t>(kBase64[i])] = i;
  return values;
}();

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

size_t Digits(uint32_t value) {
  size_t digits = 1;
  while (value >= 10) value /= 10, ++digits;
  return digits;
}

// A decimal number of 1 to |maxDigits| digits without leading zeros.
bool ParseNumber(std::string_view text, size_t maxDigits, uint32_t& value) {
  if (text.empty() || text.size() > maxDigits || (text.size() > 1 && text[0] == '0')) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  return true;
}

// Cuts |rest| at the next blank, or takes all of it.
std::string_view NextField(std::string_view& rest) {
  const size_t blank = rest.find(' ');
  const std::string_view field = rest.substr(0, blank);
  rest.remove_prefix(blank == std::string_view::npos ? rest.size() : blank + 1);
  return field;
}

// Reads base64 of the form the pieces use, into |bytes| when given.
bool ReadBase64(std::string_view payload, std::string* bytes) {
  if (payload.size() % 4 != 0) return false;
  // "=" only in the last group, as its last one or two characters.
  const size_t pad = payload.ends_with("==") ? 2 : payload.ends_with('=') ? 1 : 0;
  if (bytes) bytes->resize(payload.size() / 4 * 3 - pad);
  char* out = bytes ? bytes->data() : nullptr;
  for (size_t i = 0; i < payload.size(); i += 4) {
    const size_t used = i + 4 == payload.size() ? 4 - pad : 4;
    uint32_t v = 0;
    for (size_t k = 0; k < used; ++k) {
      const int value = kBase64Values[static_cast<uint8_t>(payload[i + k])];
      if (value < 0) return false;
      v = v << 6 | static_cast<uint32_t>(value);
    }
    v <<= 6 * (4 - used);
    // The bits past the last byte are zero, so a payload has one form.
    if ((used == 3 && (v & 0xFF) != 0) || (used == 2 && (v & 0xFFFF) != 0)) return false;
    if (!out) continue;
    *out++ = static_cast<char>(v >> 16);
    if (used > 2) *out++ = static_cast<char>(v >> 8 & 0xFF);
    if (used > 3) *out++ = static_cast<char>(v & 0xFF);
  }
  return true;
}

// The message as it is sent: deflated when that is shorter.
std::string_view ChooseBytes(std::string_view message, std::string& deflated, uint8_t& flags) {
  flags = 0;
  if (message.empty()) return message;
  deflated = Deflate(message);
  if (deflated.empty() || deflated.size() >= message.size()) return message;
  flags = kFlagDeflated;
  return deflated;
}

std::vector<std::string> SplitPayloads(std::string_view bytes, size_t payloadChars) {
  const size_t chunk = std::max<size_t>(payloadChars / 4, 1) * 3;
  std::vector<std::string> payloads;
  payloads.reserve(bytes.size() / chunk + 1);
  size_t at = 0;
  do {
    payloads.push_back(EncodePayload(bytes.substr(at, chunk)));
    at += chunk;
  } while (at < bytes.size());
  return payloads;
}

}  // namespace

size_t MaxMessageBytes(FrameKind kind) {
  switch (kind) {
    case FrameKind::kRequest:
      return kMaxRequestBytes;
    case FrameKind::kReply:
      return kMaxReplyBytes;
    case FrameKind::kNotice:
      return kMaxNoticeBytes;
    case FrameKind::kHandshake:
      return kMaxHandshakeBytes;
    case FrameKind::kRecord:
      return kMaxRecordBytes;
  }
  return 0;
}

PieceKind ParsePiece(std::string_view message, Piece& piece) {
  const size_t first = message.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return PieceKind::kNotWire;
  message = message.substr(first, message.find_last_not_of(kBlanks) + 1 - first);
  if (message.starts_with(kWireVersion1Prefix)) return PieceKind::kOlderVersion;
  if (!message.starts_with(kWireMarker)) return PieceKind::kNotWire;

  // The beginning every version keeps: the marker, a version, an id.
  std::string_view rest = message.substr(std::string_view(kWireMarker).size());
  uint32_t version = 0;
  if (!ParseNumber(NextField(rest), 3, version)) return PieceKind::kNotWire;
  const std::string_view id = NextField(rest);
  if (id.size() != 8 ||
      !std::all_of(id.begin(), id.end(), [](char c) { return HexValue(c) >= 0; })) {
    return PieceKind::kNotWire;
  }
  if (version > kWireVersion) return PieceKind::kNewerVersion;
  if (version < kWireVersion) return PieceKind::kMalformed;

  Piece parsed;
  for (char c : id) parsed.id = parsed.id << 4 | static_cast<uint32_t>(HexValue(c));
  const std::string_view place = NextField(rest);
  const size_t slash = place.find('/');
  uint32_t kind = 0, flags = 0;
  if (slash == std::string_view::npos || !ParseNumber(place.substr(0, slash), 7, parsed.index) ||
      !ParseNumber(place.substr(slash + 1), 7, parsed.count) || parsed.index >= parsed.count ||
      !ParseNumber(NextField(rest), 3, kind) || kind > 255 ||
      !ParseNumber(NextField(rest), 3, flags) || flags > 255) {
    return PieceKind::kMalformed;
  }
  // The payload is all that is left (the blanks at the end are gone).
  if (!ReadBase64(rest, nullptr)) return PieceKind::kMalformed;
  parsed.kind = static_cast<FrameKind>(kind);
  parsed.flags = static_cast<uint8_t>(flags);
  parsed.payload = rest;
  piece = parsed;
  return PieceKind::kPiece;
}

std::string PieceText(const Piece& piece) {
  std::string text = kWireMarker + std::to_string(kWireVersion) + ' ';
  for (int shift = 28; shift >= 0; shift -= 4) text.push_back(kHex[(piece.id >> shift) & 0xF]);
  text += ' ' + std::to_string(piece.index) + '/' + std::to_string(piece.count) + ' ' +
          std::to_string(static_cast<unsigned>(piece.kind)) + ' ' +
          std::to_string(static_cast<unsigned>(piece.flags));
  if (!piece.payload.empty()) {
    text += ' ';
    text += piece.payload;
  }
  return text;
}

std::string TextToBytes(std::u16string_view text) {
  std::string bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

bool BytesToText(std::string_view bytes, std::u16string& text) {
  text.clear();
  if (bytes.size() % 2 != 0) return false;
  text.reserve(bytes.size() / 2);
  for (size_t i = 0; i < bytes.size(); i += 2) {
    text.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                         static_cast<uint8_t>(bytes[i + 1]) << 8));
  }
  return true;
}

std::string Deflate(std::string_view bytes) {
  z_stream stream{};
  if (bytes.size() > UINT_MAX || deflateInit(&stream, 9) != Z_OK) return {};
  std::string out(deflateBound(&stream, static_cast<uLong>(bytes.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(bytes.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int status = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (status != Z_STREAM_END) return {};
  return out;
}

bool Inflate(std::string_view deflated, size_t maxBytes, std::string& bytes) {
  bytes.clear();
  z_stream stream{};
  if (deflated.size() > UINT_MAX || inflateInit(&stream) != Z_OK) return false;
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(deflated.data()));
  stream.avail_in = static_cast<uInt>(deflated.size());
  // One byte over the cap tells a message that is too large from one that
  // fills the cap exactly.
  const size_t room = std::min<size_t>(maxBytes, UINT_MAX - 1) + 1;
  size_t produced = 0;
  int status = Z_OK;
  while (status == Z_OK && produced < room) {
    // The output grows as the stream gives more, never past the room.
    bytes.resize(std::min(room, std::max<size_t>({4096, 2 * produced, 4 * deflated.size()})));
    stream.next_out = reinterpret_cast<Bytef*>(bytes.data() + produced);
    stream.avail_out = static_cast<uInt>(bytes.size() - produced);
    status = inflate(&stream, Z_NO_FLUSH);
    produced = bytes.size() - stream.avail_out;
    // Input used up with room left over: the stream is cut short.
    if ((status == Z_OK || status == Z_BUF_ERROR) && stream.avail_out != 0) break;
    if (status == Z_BUF_ERROR) status = Z_OK;
  }
  const bool whole = status == Z_STREAM_END && stream.avail_in == 0 && produced <= maxBytes;
  inflateEnd(&stream);
  bytes.resize(whole ? produced : 0);
  return whole;
}

Piece EncodedFrame::piece(size_t index) const {
  Piece p;
  p.id = id;
  p.index = static_cast<uint32_t>(index);
  p.count = static_cast<uint32_t>(payloads.size());
  p.kind = kind;
  p.flags = flags;
  p.payload = payloads[index];
  return p;
}

EncodedFrame EncodeFrame(FrameKind kind, std::string_view message, uint32_t id,
                         size_t payloadChars) {
  EncodedFrame frame;
  frame.id = id;
  frame.kind = kind;
  if (message.size() > MaxMessageBytes(kind)) return frame;
  std::string deflated;
  frame.payloads = SplitPayloads(ChooseBytes(message, deflated, frame.flags), payloadChars);
  return frame;
}

std::vector<std::string> EncodePieceTexts(FrameKind kind, std::string_view message, uint32_t id,
                                          size_t pieceBytes) {
  if (message.size() > MaxMessageBytes(kind)) return {};
  pieceBytes = std::max(pieceBytes, kMaxHeaderBytes + 4);
  EncodedFrame frame;
  frame.id = id;
  frame.kind = kind;
  std::string deflated;
  const std::string_view bytes = ChooseBytes(message, deflated, frame.flags);
  // The header's length depends on the count's digits, and the count on the
  // room the header leaves: try counts of 1, 2, ... digits.
  const size_t fixed = kIdEnd + 5 + Digits(static_cast<uint32_t>(kind)) + Digits(frame.flags);
  size_t chars = 4;
  for (size_t digits = 1; digits <= 7; ++digits) {
    chars = (pieceBytes - fixed - 2 * digits) / 4 * 4;
    const size_t chunk = chars / 4 * 3;
    if (Digits(static_cast<uint32_t>((bytes.size() + chunk - 1) / chunk)) <= digits) break;
  }
  frame.payloads = SplitPayloads(bytes, chars);
  std::vector<std::string> texts;
  texts.reserve(frame.payloads.size());
  for (size_t i = 0; i < frame.payloads.size(); ++i) texts.push_back(PieceText(frame.piece(i)));
  return texts;
}

std::string EncodePayload(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t v = static_cast<uint8_t>(bytes[i]) << 16 |
                       static_cast<uint8_t>(bytes[i + 1]) << 8 | static_cast<uint8_t>(bytes[i + 2]);
    for (int shift = 18; shift >= 0; shift -= 6) out.push_back(kBase64[(v >> shift) & 63]);
  }
  if (i < bytes.size()) {
    const bool two = i + 1 < bytes.size();
    const uint32_t v =
        static_cast<uint8_t>(bytes[i]) << 16 | (two ? static_cast<uint8_t>(bytes[i + 1]) << 8 : 0);
    out.push_back(kBase64[v >> 18]);
    out.push_back(kBase64[(v >> 12) & 63]);
    out.push_back(two ? kBase64[(v >> 6) & 63] : '=');
    out.push_back('=');
  }
  return out;
}

bool DecodePayload(std::string_view payload, std::string& bytes) {
  if (ReadBase64(payload, &bytes)) return true;
  bytes.clear();
  return false;
}

std::string TextBody(std::u16string_view text) {
  const std::string bytes = TextToBytes(text);
  std::string deflated = Deflate(bytes);
  if (deflated.size() < bytes.size()) return char(kFlagDeflated) + deflated;
  return char(0) + bytes;
}

bool BodyText(std::string_view body, size_t maxBytes, std::u16string& text) {
  if (body.empty()) return false;
  const uint8_t flags = static_cast<uint8_t>(body[0]);
  body.remove_prefix(1);
  if (flags == 0) return body.size() <= maxBytes && BytesToText(body, text);
  std::string bytes;
  return flags == kFlagDeflated && Inflate(body, maxBytes, bytes) && BytesToText(bytes, text);
}

}  // namespace zuvo::purple
