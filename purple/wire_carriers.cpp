#include "purple/wire_carriers.h"

#include <algorithm>

namespace zuvo::purple {
namespace {

constexpr size_t kMaxIrcParams = 15;

bool AllOf(std::string_view text, bool (*allowed)(char)) {
  return !text.empty() && std::all_of(text.begin(), text.end(), allowed);
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f'); }
bool IsBase64(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || IsDigit(c) || c == '+' || c == '/' ||
         c == '=';
}

}  // namespace

PieceKind ReadPieceFields(const PieceFields& fields, std::string& storage, Piece& piece) {
  const std::string_view prefix = kXmppNamespacePrefix;
  if (!fields.ns.starts_with(prefix)) return PieceKind::kNotWire;
  const std::string_view version = fields.ns.substr(prefix.size());
  if (!AllOf(version, IsDigit) || version.size() > 3 || version[0] == '0') {
    return PieceKind::kNotWire;
  }
  if (version != std::to_string(kWireVersion)) {
    return std::stoul(std::string(version)) > kWireVersion ? PieceKind::kNewerVersion
                                                           : PieceKind::kMalformed;
  }
  // Each field alone is of its characters, so the text form built from
  // them reads back into exactly these fields.
  if (!fields.id || !fields.index || !fields.count || !fields.kind || !fields.flags ||
      !AllOf(fields.id, IsHexDigit) || !AllOf(fields.index, IsDigit) ||
      !AllOf(fields.count, IsDigit) || !AllOf(fields.kind, IsDigit) ||
      !AllOf(fields.flags, IsDigit) ||
      !(fields.payload.empty() || AllOf(fields.payload, IsBase64))) {
    return PieceKind::kMalformed;
  }
  storage = std::string(kWireMarker) + std::to_string(kWireVersion) + ' ' + fields.id + ' ' +
            fields.index + '/' + fields.count + ' ' + fields.kind + ' ' + fields.flags;
  if (!fields.payload.empty()) {
    storage += ' ';
    storage += fields.payload;
  }
  const PieceKind kind = ParsePiece(storage, piece);
  return kind == PieceKind::kPiece ? kind : PieceKind::kMalformed;
}

std::vector<std::string> PieceAttributes(const Piece& piece) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string id;
  for (int shift = 28; shift >= 0; shift -= 4) id.push_back(kHex[(piece.id >> shift) & 0xF]);
  return {id, std::to_string(piece.index), std::to_string(piece.count),
          std::to_string(static_cast<unsigned>(piece.kind)),
          std::to_string(static_cast<unsigned>(piece.flags))};
}

bool ParseIrcLine(std::string_view line, IrcLine& out) {
  out = {};
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  auto word = [&line] {
    const size_t blank = line.find(' ');
    const std::string_view w = line.substr(0, blank);
    line.remove_prefix(blank == std::string_view::npos ? line.size() : blank);
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    return w;
  };
  if (line.starts_with('@')) word();
  if (line.starts_with(':')) {
    const std::string_view prefix = word().substr(1);
    out.nick = prefix.substr(0, prefix.find_first_of("!@"));
  }
  out.command = word();
  if (out.command.empty()) return false;
  while (!line.empty() && out.params.size() < kMaxIrcParams) {
    if (line.front() == ':') {
      out.params.push_back(line.substr(1));
      line = {};
    } else {
      out.params.push_back(word());
    }
  }
  return line.empty();
}

bool IsIrcChannel(std::string_view target) {
  return !target.empty() && std::string_view("#&+!").find(target.front()) != std::string_view::npos;
}

std::optional<std::string_view> CtcpBody(std::string_view text) {
  if (!text.starts_with(kCtcpDelimiter)) return std::nullopt;
  text.remove_prefix(1);
  if (text.ends_with(kCtcpDelimiter)) text.remove_suffix(1);
  return text;
}

std::string CtcpLine(bool notice, std::string_view target, std::string_view body) {
  std::string line = notice ? "NOTICE " : "PRIVMSG ";
  line += target;
  line += " :";
  line += kCtcpDelimiter;
  line += body;
  line += kCtcpDelimiter;
  line += "\r\n";
  return line;
}

}  // namespace zuvo::purple
