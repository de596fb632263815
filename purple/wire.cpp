#include "purple/wire.h"

#include <algorithm>

namespace zuvo::purple {
namespace {

// The short escapes: "_" and the letter at the same place.
constexpr char16_t kShortEscapes[] = u" ./\\\r\n_:(),'&+~*?;[]#!=@$%";
constexpr char kShortLetters[] = "abcdefghijklmnopqrstuvwxyz";
static_assert(std::size(kShortEscapes) == std::size(kShortLetters));

constexpr char16_t kLineCR = 13;
constexpr char16_t kLineLF = 10;
// The longest prefix one "_Z" escape repeats.
constexpr size_t kMaxRepeat = 255;

// Where the line that ends at |end| begins.
size_t LineStartBefore(std::u16string_view text, size_t end) {
  size_t start = end;
  while (start > 0 && text[start - 1] != kLineCR && text[start - 1] != kLineLF) --start;
  return start;
}

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
  size_t prevStart = 0, prevEnd = 0;  // the previous line, once there is one
  bool hasPrev = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (hasPrev && (i == 0 || text[i - 1] == kLineCR || text[i - 1] == kLineLF)) {
      // A line that begins as the one before it: "_Z" and how many units.
      size_t same = 0;
      while (same < kMaxRepeat && prevStart + same < prevEnd && i + same < text.size() &&
             text[prevStart + same] == text[i + same]) {
        ++same;
      }
      if (same >= 3) {
        out += "_Z";
        out.push_back(kHex[same >> 4]);
        out.push_back(kHex[same & 0xF]);
        i += same - 1;
        continue;
      }
    }
    if (c == kLineCR || c == kLineLF) {
      // |i| ends the current line, which started after the last break.
      prevStart = LineStartBefore(text, i);
      prevEnd = i;
      hasPrev = true;
    }
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

bool UnescapeText(std::string_view payload, std::u16string& text, size_t maxUnits) {
  text.clear();
  text.reserve(std::min(payload.size(), maxUnits));
  size_t lineStart = 0, prevStart = 0, prevEnd = 0;
  bool hasPrev = false;
  for (size_t i = 0; i < payload.size(); ++i) {
    if (text.size() >= maxUnits) return false;
    const char c = payload[i];
    char16_t unit;
    if (c != '_') {
      if (!Plain(static_cast<unsigned char>(c))) return false;
      unit = static_cast<char16_t>(c);
    } else {
      if (++i >= payload.size()) return false;
      const char e = payload[i];
      if (e >= 'a' && e <= 'z') {
        unit = kShortEscapes[e - 'a'];
      } else if (e == 'Z') {
        // Only at the start of a line, and no more than the line before has.
        if (payload.size() - i < 3 || !hasPrev || text.size() != lineStart) return false;
        const int high = HexValue(payload[i + 1]), low = HexValue(payload[i + 2]);
        if (high < 0 || low < 0) return false;
        const size_t same = static_cast<size_t>(high * 16 + low);
        if (same < 3 || same > prevEnd - prevStart || text.size() + same > maxUnits) return false;
        const std::u16string repeated = text.substr(prevStart, same);
        text += repeated;
        i += 2;
        continue;
      } else {
        if (payload.size() - i < 4) return false;
        unit = 0;
        for (size_t k = 0; k < 4; ++k) {
          const int v = HexValue(payload[i + k]);
          if (v < 0) return false;
          unit = static_cast<char16_t>((unit << 4) | v);
        }
        i += 3;
      }
    }
    if (unit == kLineCR || unit == kLineLF) {
      prevStart = lineStart;
      prevEnd = text.size();
      hasPrev = true;
      lineStart = text.size() + 1;
    }
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
    const char next = payload[pos] == '_' ? payload[pos + 1] : 0;
    const size_t escape = next == 0 ? 1 : next >= 'a' ? 2 : next == 'Z' ? 4 : 6;
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

void Reassembler::Forget(const Key& key) {
  if (dropped_.size() >= kRememberDropped) dropped_.pop_front();
  dropped_.push_back(key);
}

bool Reassembler::MakeRoom(size_t bytes, const Key& keep) {
  while (total_ + bytes > limits_.maxTotalBytes) {
    auto oldest = texts_.end();
    for (auto it = texts_.begin(); it != texts_.end(); ++it) {
      if (it->first == keep) continue;
      if (oldest == texts_.end() || it->second.last < oldest->second.last) oldest = it;
    }
    if (oldest == texts_.end()) return false;
    Forget(oldest->first);
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
    Forget(key);
    if (it != texts_.end()) Drop(it);
    result.kind = Result::Kind::kDropped;
    result.why = why;
    return result;
  };
  if (it == texts_.end()) {
    if (std::find(dropped_.begin(), dropped_.end(), key) != dropped_.end()) {
      result.kind = Result::Kind::kDropped;
      result.why = "the rest of its text was given up";
      return result;
    }
    // A sender's oldest text in progress gives way to a new one.
    std::vector<std::map<Key, Text>::iterator> own;
    for (auto o = texts_.lower_bound({sender, 0}); o != texts_.end() && o->first.first == sender;
         ++o) {
      own.push_back(o);
    }
    while (!own.empty() && own.size() >= limits_.maxTextsPerSender) {
      auto oldest = std::min_element(
          own.begin(), own.end(), [](auto a, auto b) { return a->second.last < b->second.last; });
      Forget((*oldest)->first);
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
  if (!UnescapeText(payload, result.text, limits_.maxTextUnits)) {
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
      Forget(it->first);
      Drop(it);
    }
    it = next;
  }
  return senders;
}

}  // namespace zuvo::purple
