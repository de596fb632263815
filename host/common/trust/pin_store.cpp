// The pinned contacts: their file, read strictly and replaced whole, and
// the answers for a presented key.
#include "host/common/trust/pin_store.h"

#include <charconv>
#include <cstdint>

#include "host/common/trust/private_file.h"

namespace zuvo::trust {
namespace {

constexpr std::string_view kHeaderLine = "zuvo-pins 1";
constexpr char kHexDigits[] = "0123456789ABCDEF";

bool NeedsEscape(uint8_t c) { return c <= 0x20 || c == 0x7F || c == '%'; }

void AppendEscaped(std::string& out, std::string_view name) {
  for (char ch : name) {
    const uint8_t c = static_cast<uint8_t>(ch);
    if (NeedsEscape(c)) {
      out += '%';
      out += kHexDigits[c >> 4];
      out += kHexDigits[c & 15];
    } else {
      out += ch;
    }
  }
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The canonical escaped form only: an escape exactly where one is needed.
bool Unescape(std::string_view field, size_t maxBytes, std::string& name) {
  name.clear();
  for (size_t i = 0; i < field.size() && name.size() <= maxBytes; ++i) {
    const uint8_t c = static_cast<uint8_t>(field[i]);
    if (c != '%') {
      if (NeedsEscape(c)) return false;
      name += field[i];
      continue;
    }
    if (field.size() - i < 3) return false;
    const int high = HexValue(field[i + 1]), low = HexValue(field[i + 2]);
    if (high < 0 || low < 0 || !NeedsEscape(static_cast<uint8_t>(high * 16 + low))) return false;
    name += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return !name.empty() && name.size() <= maxBytes;
}

// Splits |line| at single blanks into exactly |count| non-empty fields.
bool SplitFields(std::string_view line, std::string_view* fields, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const size_t end = i + 1 < count ? line.find(' ') : line.size();
    if (end == std::string_view::npos || end == 0) return false;
    fields[i] = line.substr(0, end);
    line.remove_prefix(i + 1 < count ? end + 1 : end);
  }
  return line.empty();
}

// Seconds since 1970: decimal digits, no sign, no leading zero.
bool ParseSeconds(std::string_view field, std::chrono::sys_seconds& when) {
  if (field.empty() || (field.size() > 1 && field[0] == '0')) return false;
  int64_t value = 0;
  const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), value);
  if (ec != std::errc() || end != field.data() + field.size() || value < 0) return false;
  when = std::chrono::sys_seconds(std::chrono::seconds(value));
  return true;
}

}  // namespace

PinStore::PinStore(std::filesystem::path path, const Limits& limits)
    : path_(std::move(path)), limits_(limits) {
  // Each line: key, date, flag, two names of up to three bytes per byte.
  const size_t maxLine = 2 * kKeyBytes + 20 + 1 + 2 * 3 * limits_.maxNameBytes + 5;
  const size_t maxBytes = kHeaderLine.size() + 1 + limits_.maxPins * maxLine;
  std::string text;
  const FileOutcome read = ReadPrivateFile(path_, maxBytes, text);
  if (read.error != StoreError::kNone) {
    loaded_ = {read.error, read.detail};
    return;
  }
  std::string why;
  if (!read.missing && !Parse(text, limits_, pins_, why)) {
    pins_.clear();
    loaded_ = {StoreError::kCorrupt, path_.string() + ": " + why};
  }
}

std::string PinStore::Format(const Pins& pins) {
  std::string out = std::string(kHeaderLine) + "\n";
  for (const auto& [names, pin] : pins) {
    out += KeyHex(pin.key);
    out += ' ';
    out += std::to_string(pin.firstSeen.time_since_epoch().count());
    out += pin.verified ? " 1 " : " 0 ";
    AppendEscaped(out, names.first);
    out += ' ';
    AppendEscaped(out, names.second);
    out += '\n';
  }
  return out;
}

bool PinStore::Parse(std::string_view text, const Limits& limits, Pins& pins, std::string& why) {
  pins.clear();
  size_t lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    const size_t end = text.find('\n');
    if (end == std::string_view::npos) {
      why = "line " + std::to_string(lineNumber) + ": no line end";
      return false;
    }
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    const auto bad = [&](const char* what) {
      why = "line " + std::to_string(lineNumber) + ": " + what;
      return false;
    };
    if (lineNumber == 1) {
      if (line != kHeaderLine) return bad("not a pin file of this plug-in");
      continue;
    }
    std::string_view fields[5];
    if (!SplitFields(line, fields, 5)) return bad("not five fields");
    Pin pin;
    std::pair<std::string, std::string> names;
    if (!KeyFromHex(fields[0], pin.key)) return bad("not a key");
    if (!ParseSeconds(fields[1], pin.firstSeen)) return bad("not a date");
    if (fields[2] != "0" && fields[2] != "1") return bad("not a verified flag");
    pin.verified = fields[2] == "1";
    if (!Unescape(fields[3], limits.maxNameBytes, names.first) ||
        !Unescape(fields[4], limits.maxNameBytes, names.second)) {
      return bad("not an account and contact name");
    }
    if (pins.size() >= limits.maxPins) return bad("more pins than the store holds");
    if (!pins.emplace(std::move(names), pin).second) return bad("a contact pinned twice");
  }
  if (lineNumber == 0) {
    why = "empty";
    return false;
  }
  return true;
}

StoreResult PinStore::Usable(std::string_view account, std::string_view contact) const {
  if (!loaded_.ok()) return {StoreError::kBroken, loaded_.detail};
  if (account.empty() || contact.empty() || account.size() > limits_.maxNameBytes ||
      contact.size() > limits_.maxNameBytes) {
    return {StoreError::kBadName, "an account or contact name that is empty or longer than " +
                                      std::to_string(limits_.maxNameBytes) + " bytes"};
  }
  return {};
}

StoreResult PinStore::Save(Pins pins) {
  const FileOutcome written = WritePrivateFile(path_, Format(pins), WriteMode::kReplace);
  if (written.error != StoreError::kNone) return {written.error, written.detail};
  pins_ = std::move(pins);
  return {};
}

const Pin* PinStore::Find(std::string_view account, std::string_view contact) const {
  const auto it = pins_.find({std::string(account), std::string(contact)});
  return it == pins_.end() ? nullptr : &it->second;
}

Presented PinStore::Present(std::string_view account, std::string_view contact,
                            const PublicKey& key, std::chrono::sys_seconds now) {
  Presented out;
  if (StoreResult usable = Usable(account, contact); !usable.ok()) {
    out.error = usable.error;
    out.detail = std::move(usable.detail);
    return out;
  }
  if (const Pin* pin = Find(account, contact)) {
    out.verdict = pin->key == key ? Verdict::kSame : Verdict::kChanged;
    out.pin = *pin;
    return out;
  }
  out.verdict = Verdict::kNew;
  out.pin.key = key;
  out.pin.firstSeen = std::max(now, std::chrono::sys_seconds{});
  if (pins_.size() >= limits_.maxPins) {
    out.error = StoreError::kFull;
    out.detail =
        path_.string() + ": holds " + std::to_string(limits_.maxPins) + " pins, the most it takes";
    return out;
  }
  Pins pins = pins_;
  pins.emplace(std::pair(std::string(account), std::string(contact)), out.pin);
  StoreResult saved = Save(std::move(pins));
  out.error = saved.error;
  out.detail = std::move(saved.detail);
  return out;
}

StoreResult PinStore::Accept(std::string_view account, std::string_view contact,
                             const PublicKey& key, std::chrono::sys_seconds now) {
  if (StoreResult usable = Usable(account, contact); !usable.ok()) return usable;
  Pins pins = pins_;
  const auto names = std::pair(std::string(account), std::string(contact));
  if (!pins.contains(names) && pins.size() >= limits_.maxPins) {
    return {StoreError::kFull, path_.string() + ": holds " + std::to_string(limits_.maxPins) +
                                   " pins, the most it takes"};
  }
  pins[names] = Pin{key, std::max(now, std::chrono::sys_seconds{}), false};
  return Save(std::move(pins));
}

StoreResult PinStore::SetVerified(std::string_view account, std::string_view contact,
                                  const PublicKey& key, bool verified) {
  if (StoreResult usable = Usable(account, contact); !usable.ok()) return usable;
  const Pin* pin = Find(account, contact);
  if (!pin || pin->key != key) return {StoreError::kNotFound, "that key is not pinned"};
  if (pin->verified == verified) return {};
  Pins pins = pins_;
  pins[{std::string(account), std::string(contact)}].verified = verified;
  return Save(std::move(pins));
}

StoreResult PinStore::Remove(std::string_view account, std::string_view contact) {
  if (StoreResult usable = Usable(account, contact); !usable.ok()) return usable;
  if (!Find(account, contact)) return {StoreError::kNotFound, "no pin for that contact"};
  Pins pins = pins_;
  pins.erase({std::string(account), std::string(contact)});
  return Save(std::move(pins));
}

}  // namespace zuvo::trust
