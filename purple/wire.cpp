#include "purple/wire.h"

#include <algorithm>

namespace zuvo::purple {
namespace {

// The short escapes: "_" and the letter at the same place.
constexpr char16_t kShortEscapes[] = u" ./\\\r\n_:(),'&+~*?;[]#!=@$%";
constexpr char kShortLetters[] = "abcdefghijklmnopqrstuvwxyz";
static_assert(std::size(kShortEscapes) == std::size(kShortLetters));

bool Plain(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') ||
         c == u'-';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A decimal number of 1 to 7 digits without leading zeros.
bool ParseNumber(std::string_view text, uint32_t& value) {
  if (text.empty() || text.size() > 7 || (text.size() > 1 && text[0] == '0')) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  return true;
}

// Cuts |rest| at the next "~"; false when there is none.
bool NextField(std::string_view& rest, std::string_view& field) {
  const size_t tilde = rest.find('~');
  if (tilde == std::string_view::npos) return false;
  field = rest.substr(0, tilde);
  rest.remove_prefix(tilde + 1);
  return true;
}

}  // namespace

std::string EscapeText(std::u16string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  for (char16_t c : text) {
    if (Plain(c)) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    out.push_back('_');
    const char16_t* shortForm =
        std::char_traits<char16_t>::find(kShortEscapes, std::size(kShortEscapes) - 1, c);
    if (shortForm) {
      out.push_back(kShortLetters[shortForm - kShortEscapes]);
    } else {
      for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kHex[(c >> shift) & 0xF]);
    }
  }
  return out;
}

bool UnescapeText(std::string_view payload, std::u16string& text) {
  text.clear();
  text.reserve(payload.size());
  for (size_t i = 0; i < payload.size(); ++i) {
    const char c = payload[i];
    if (c != '_') {
      if (!Plain(static_cast<unsigned char>(c))) return false;
      text.push_back(static_cast<char16_t>(c));
      continue;
    }
    if (++i >= payload.size()) return false;
    const char e = payload[i];
    if (e >= 'a' && e <= 'z') {
      text.push_back(kShortEscapes[e - 'a']);
      continue;
    }
    if (payload.size() - i < 4) return false;
    char16_t unit = 0;
    for (size_t k = 0; k < 4; ++k) {
      const int v = HexValue(payload[i + k]);
      if (v < 0) return false;
      unit = static_cast<char16_t>((unit << 4) | v);
    }
    i += 3;
    text.push_back(unit);
  }
  return true;
}

std::vector<std::string> EncodeText(std::u16string_view text, uint32_t id, size_t pieceBytes) {
  const std::string payload = EscapeText(text);
  const size_t room = std::max(pieceBytes, kMaxHeaderBytes + 5) - kMaxHeaderBytes;
  // Where each piece's payload starts: never inside an escape.
  std::vector<size_t> starts{0};
  size_t pos = 0;
  while (pos < payload.size()) {
    const size_t escape = payload[pos] != '_' ? 1 : payload[pos + 1] >= 'a' ? 2 : 6;
    if (pos + escape - starts.back() > room) starts.push_back(pos);
    pos += escape;
  }
  char idText[9];
  static constexpr char kHex[] = "0123456789abcdef";
  for (int k = 0; k < 8; ++k) idText[k] = kHex[(id >> (28 - 4 * k)) & 0xF];
  idText[8] = '\0';
  const std::string count = std::to_string(starts.size());
  std::vector<std::string> pieces;
  pieces.reserve(starts.size());
  for (size_t i = 0; i < starts.size(); ++i) {
    const size_t end = i + 1 < starts.size() ? starts[i + 1] : payload.size();
    std::string piece = kWirePrefix;
    piece += std::to_string(kWireVersion);
    piece += '~';
    piece += idText;
    piece += '~';
    piece += std::to_string(i);
    piece += '~';
    piece += count;
    piece += '~';
    piece.append(payload, starts[i], end - starts[i]);
    pieces.push_back(std::move(piece));
  }
  return pieces;
}

PieceKind ParsePiece(std::string_view message, Piece& piece) {
  const size_t first = message.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return PieceKind::kNotWire;
  message.remove_prefix(first);
  message.remove_suffix(message.size() - 1 - message.find_last_not_of(" \t\r\n"));
  const std::string_view prefix = kWirePrefix;
  if (message.substr(0, prefix.size()) != prefix) return PieceKind::kNotWire;
  std::string_view rest = message.substr(prefix.size());
  std::string_view version, id, index, count;
  if (!NextField(rest, version) || version.empty()) return PieceKind::kMalformed;
  uint32_t versionNumber = 0;
  if (!ParseNumber(version, versionNumber)) return PieceKind::kMalformed;
  if (versionNumber != kWireVersion) return PieceKind::kOtherVersion;
  if (!NextField(rest, id) || !NextField(rest, index) || !NextField(rest, count)) {
    return PieceKind::kMalformed;
  }
  if (id.size() != 8) return PieceKind::kMalformed;
  uint32_t idValue = 0;
  for (char c : id) {
    int v = c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= '0' && c <= '9' ? c - '0' : -1;
    if (v < 0) return PieceKind::kMalformed;
    idValue = (idValue << 4) | static_cast<uint32_t>(v);
  }
  Piece parsed;
  parsed.id = idValue;
  if (!ParseNumber(index, parsed.index) || !ParseNumber(count, parsed.count) || parsed.count == 0 ||
      parsed.index >= parsed.count) {
    return PieceKind::kMalformed;
  }
  for (char c : rest) {
    if (c != '_' && !Plain(static_cast<unsigned char>(c))) return PieceKind::kMalformed;
  }
  parsed.payload = rest;
  piece = parsed;
  return PieceKind::kPiece;
}

void Reassembler::Drop(std::map<Key, Text>::iterator it) {
  total_ -= it->second.charged;
  texts_.erase(it);
}

bool Reassembler::MakeRoom(size_t bytes, const Key& keep) {
  while (total_ + bytes > limits_.maxTotalBytes) {
    auto oldest = texts_.end();
    for (auto it = texts_.begin(); it != texts_.end(); ++it) {
      if (it->first == keep) continue;
      if (oldest == texts_.end() || it->second.last < oldest->second.last) oldest = it;
    }
    if (oldest == texts_.end()) return false;
    Drop(oldest);
  }
  return true;
}

Reassembler::Result Reassembler::Add(const std::string& sender, const Piece& piece,
                                     Clock::time_point now) {
  Result result;
  const Key key{sender, piece.id};
  auto it = texts_.find(key);
  auto drop = [&](const char* why) {
    if (it != texts_.end()) Drop(it);
    result.kind = Result::Kind::kDropped;
    result.why = why;
    return result;
  };
  if (it == texts_.end()) {
    // A sender's oldest text in progress gives way to a new one.
    std::vector<std::map<Key, Text>::iterator> own;
    for (auto o = texts_.lower_bound({sender, 0}); o != texts_.end() && o->first.first == sender;
         ++o) {
      own.push_back(o);
    }
    while (!own.empty() && own.size() >= limits_.maxTextsPerSender) {
      auto oldest = std::min_element(
          own.begin(), own.end(), [](auto a, auto b) { return a->second.last < b->second.last; });
      Drop(*oldest);
      own.erase(oldest);
    }
    if (limits_.maxTextsPerSender == 0) return drop("no texts are taken from this sender");
    Text text;
    text.count = piece.count;
    text.last = now;
    it = texts_.emplace(key, std::move(text)).first;
  }
  Text& text = it->second;
  if (piece.count != text.count) return drop("its pieces disagree on their count");
  if (text.pieces.count(piece.index)) return drop("a piece came twice");
  if (text.payloadBytes + piece.payload.size() > limits_.maxTextBytes) {
    return drop("it is larger than a text may be");
  }
  const size_t charge = piece.payload.size() + kPieceCharge;
  if (!MakeRoom(charge, key)) return drop("there is no room for it");
  text.pieces.emplace(piece.index, std::string(piece.payload));
  text.payloadBytes += piece.payload.size();
  text.charged += charge;
  total_ += charge;
  text.last = now;
  if (text.pieces.size() < text.count) return result;

  std::string payload;
  payload.reserve(text.payloadBytes);
  for (const auto& [index, part] : text.pieces) payload += part;
  Drop(it);
  it = texts_.end();
  if (!UnescapeText(payload, result.text)) {
    result.text.clear();
    return drop("its text is not in the wire form");
  }
  result.kind = Result::Kind::kComplete;
  return result;
}

std::vector<std::string> Reassembler::Expire(Clock::time_point now) {
  std::vector<std::string> senders;
  for (auto it = texts_.begin(); it != texts_.end();) {
    auto next = std::next(it);
    if (now - it->second.last >= limits_.timeout) {
      senders.push_back(it->first.first);
      Drop(it);
    }
    it = next;
  }
  return senders;
}

}  // namespace zuvo::purple
