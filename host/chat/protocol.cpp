#include "host/chat/protocol.h"

#include <cstring>

#include "host/common/host_notice.h"

namespace zuvo::chat {
namespace {

void PutU32(std::string& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(v >> shift));
}

void PutU64(std::string& out, uint64_t v) {
  for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<char>(v >> shift));
}

void PutText(std::string& out, std::u16string_view text) {
  for (char16_t c : text) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
}

// Reads the fields of a body front to back; any read past the end fails.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : bytes_(bytes) {}
  bool U8(uint8_t& v) {
    if (bytes_.size() < 1) return false;
    v = static_cast<uint8_t>(bytes_[0]);
    bytes_.remove_prefix(1);
    return true;
  }
  bool U32(uint32_t& v) {
    if (bytes_.size() < 4) return false;
    v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | static_cast<uint8_t>(bytes_[i]);
    bytes_.remove_prefix(4);
    return true;
  }
  bool U64(uint64_t& v) {
    if (bytes_.size() < 8) return false;
    v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | static_cast<uint8_t>(bytes_[i]);
    bytes_.remove_prefix(8);
    return true;
  }
  bool Bytes(uint8_t* out, size_t n) {
    if (bytes_.size() < n) return false;
    std::memcpy(out, bytes_.data(), n);
    bytes_.remove_prefix(n);
    return true;
  }
  // The rest of the body as UTF-16LE text.
  bool RestText(std::u16string& text) {
    if (bytes_.size() % 2 != 0) return false;
    text.clear();
    text.reserve(bytes_.size() / 2);
    for (size_t i = 0; i < bytes_.size(); i += 2) {
      text.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes_[i]) |
                                           (static_cast<uint8_t>(bytes_[i + 1]) << 8)));
    }
    bytes_ = {};
    return true;
  }
  std::string_view rest() const { return bytes_; }
  bool done() const { return bytes_.empty(); }

 private:
  std::string_view bytes_;
};

}  // namespace

std::string EncodeFrame(Kind kind, std::string_view body) {
  std::string out;
  out.reserve(5 + body.size());
  PutU32(out, static_cast<uint32_t>(body.size() + 1));
  out.push_back(static_cast<char>(kind));
  out.append(body);
  return out;
}

void FrameDecoder::Feed(const char* data, size_t size) {
  if (bad_) return;
  // Drop what has been handed out before growing the buffer.
  if (start_ > 0 && start_ >= buffer_.size() / 2) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
  buffer_.append(data, size);
}

FrameDecoder::Status FrameDecoder::Next(Frame& frame) {
  if (bad_) return Status::kBad;
  const size_t avail = buffer_.size() - start_;
  if (avail < 4) return Status::kNeedMore;
  uint32_t length = 0;
  for (int i = 0; i < 4; ++i) length = (length << 8) | static_cast<uint8_t>(buffer_[start_ + i]);
  if (length == 0 || length > kMaxFrameLength) {
    bad_ = true;
    error_ = "bad frame length " + std::to_string(length);
    buffer_.clear();
    start_ = 0;
    return Status::kBad;
  }
  if (avail - 4 < length) return Status::kNeedMore;
  frame.kind = static_cast<Kind>(static_cast<uint8_t>(buffer_[start_ + 4]));
  frame.body.assign(buffer_, start_ + 5, length - 1);
  start_ += 4 + length;
  if (start_ == buffer_.size()) {
    buffer_.clear();
    start_ = 0;
  }
  return Status::kFrame;
}

Message HelloMessage(std::u16string_view name) {
  Message m;
  m.kind = Kind::kHello;
  m.version = kProtocolVersion;
  m.text = name;
  return m;
}

Message NoticeMessage(std::u16string_view text) {
  Message m;
  m.kind = Kind::kNotice;
  m.text = text.substr(0, kMaxNoticeUnits);
  return m;
}

Message TextMessage(std::u16string_view text) {
  Message m;
  m.kind = Kind::kText;
  m.text = text;
  return m;
}

std::string EncodeText(std::u16string_view text) {
  std::string out;
  while (text.size() > kTextPieceUnits) {
    Message piece = TextMessage(text.substr(0, kTextPieceUnits));
    piece.kind = Kind::kTextPart;
    out += EncodeMessage(piece);
    text.remove_prefix(kTextPieceUnits);
  }
  out += EncodeMessage(TextMessage(text));
  return out;
}

Message OfferMessage(uint32_t id, uint64_t size, const Digest& sha256, std::u16string_view name) {
  Message m;
  m.kind = Kind::kFileOffer;
  m.id = id;
  m.size = size;
  m.sha256 = sha256;
  m.text = name;
  return m;
}

Message DataMessage(uint32_t id, std::string data) {
  Message m;
  m.kind = Kind::kFileData;
  m.id = id;
  m.data = std::move(data);
  return m;
}

Message EndMessage(uint32_t id) {
  Message m;
  m.kind = Kind::kFileEnd;
  m.id = id;
  return m;
}

Message AbortMessage(uint32_t id, std::u16string_view reason) {
  Message m;
  m.kind = Kind::kFileAbort;
  m.id = id;
  m.text = reason;
  return m;
}

Message ResultMessage(uint32_t id, bool ok, std::u16string_view text) {
  Message m;
  m.kind = Kind::kFileResult;
  m.id = id;
  m.ok = ok;
  m.text = text;
  return m;
}

Message ByeMessage() {
  Message m;
  m.kind = Kind::kBye;
  return m;
}

std::string EncodeMessage(const Message& m) {
  std::string body;
  switch (m.kind) {
    case Kind::kHello:
      body.push_back(static_cast<char>(m.version));
      PutText(body, m.text);
      break;
    case Kind::kText:
    case Kind::kTextPart:
    case Kind::kNotice:
      PutText(body, m.text);
      break;
    case Kind::kFileOffer:
      PutU32(body, m.id);
      PutU64(body, m.size);
      body.append(reinterpret_cast<const char*>(m.sha256.data()), m.sha256.size());
      PutText(body, m.text);
      break;
    case Kind::kFileData:
      PutU32(body, m.id);
      body.append(m.data);
      break;
    case Kind::kFileEnd:
      PutU32(body, m.id);
      break;
    case Kind::kFileAbort:
      PutU32(body, m.id);
      PutText(body, m.text);
      break;
    case Kind::kFileResult:
      PutU32(body, m.id);
      body.push_back(m.ok ? 1 : 0);
      PutText(body, m.text);
      break;
    case Kind::kBye:
      break;
  }
  return EncodeFrame(m.kind, body);
}

bool DecodeMessage(const Frame& frame, Message& m, std::string& why) {
  m = Message{};
  m.kind = frame.kind;
  Reader r(frame.body);
  bool ok = false;
  switch (frame.kind) {
    case Kind::kHello:
      ok = r.U8(m.version) && r.RestText(m.text);
      break;
    case Kind::kText:
    case Kind::kTextPart:
      ok = r.RestText(m.text);
      break;
    case Kind::kNotice:
      ok = r.RestText(m.text) && m.text.size() <= kMaxNoticeUnits;
      break;
    case Kind::kFileOffer:
      ok = r.U32(m.id) && r.U64(m.size) && r.Bytes(m.sha256.data(), m.sha256.size()) &&
           r.RestText(m.text);
      break;
    case Kind::kFileData:
      ok = r.U32(m.id) && !r.done() && r.rest().size() <= kChunkSize;
      if (ok) m.data.assign(r.rest());
      break;
    case Kind::kFileEnd:
      ok = r.U32(m.id) && r.done();
      break;
    case Kind::kFileAbort:
      ok = r.U32(m.id) && r.RestText(m.text);
      break;
    case Kind::kFileResult: {
      uint8_t flag = 0;
      ok = r.U32(m.id) && r.U8(flag) && flag <= 1 && r.RestText(m.text);
      m.ok = flag == 1;
      break;
    }
    case Kind::kBye:
      ok = r.done();
      break;
    default:
      why = "unknown message kind " + std::to_string(static_cast<int>(frame.kind));
      return false;
  }
  if (!ok) why = "malformed message of kind " + std::to_string(static_cast<int>(frame.kind));
  return ok;
}

}  // namespace zuvo::chat
