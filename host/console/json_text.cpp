#include "host/console/json_text.h"

#include <charconv>

#include "base/text.h"

namespace zuvo::json {

Value::Value() = default;
Value::Value(const Value&) = default;
Value::Value(Value&&) noexcept = default;
Value& Value::operator=(const Value&) = default;
Value& Value::operator=(Value&&) noexcept = default;
Value::~Value() = default;

namespace {

// Nesting deeper than this is refused, so that no input can exhaust the
// stack.
constexpr int kMaxDepth = 64;

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  Value ParseDocument() {
    Value value = ParseValue(0);
    SkipSpace();
    if (pos_ != text_.size()) Fail("unexpected text after the value");
    return value;
  }

 private:
  [[noreturn]] void Fail(const std::string& why) const {
    throw ParseError(why + " at offset " + std::to_string(pos_));
  }

  void SkipSpace() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                   text_[pos_] == '\n' || text_[pos_] == '\r')) {
      ++pos_;
    }
  }

  bool Literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  Value ParseValue(int depth) {
    if (depth > kMaxDepth) Fail("nesting too deep");
    SkipSpace();
    if (pos_ >= text_.size()) Fail("unexpected end of input");
    Value value;
    const char c = text_[pos_];
    if (c == '{') {
      value.type = Value::Type::kObject;
      ++pos_;
      SkipSpace();
      if (pos_ < text_.size() && text_[pos_] == '}') {
        ++pos_;
        return value;
      }
      while (true) {
        SkipSpace();
        if (pos_ >= text_.size() || text_[pos_] != '"') Fail("expected a member name");
        std::u16string key = ParseString();
        SkipSpace();
        if (pos_ >= text_.size() || text_[pos_] != ':') Fail("expected ':'");
        ++pos_;
        value.object.emplace_back(std::move(key), ParseValue(depth + 1));
        SkipSpace();
        if (pos_ < text_.size() && text_[pos_] == ',') {
          ++pos_;
        } else if (pos_ < text_.size() && text_[pos_] == '}') {
          ++pos_;
          return value;
        } else {
          Fail("expected ',' or '}'");
        }
      }
    }
    if (c == '[') {
      value.type = Value::Type::kArray;
      ++pos_;
      SkipSpace();
      if (pos_ < text_.size() && text_[pos_] == ']') {
        ++pos_;
        return value;
      }
      while (true) {
        value.array.push_back(ParseValue(depth + 1));
        SkipSpace();
        if (pos_ < text_.size() && text_[pos_] == ',') {
          ++pos_;
        } else if (pos_ < text_.size() && text_[pos_] == ']') {
          ++pos_;
          return value;
        } else {
          Fail("expected ',' or ']'");
        }
      }
    }
    if (c == '"') {
      value.type = Value::Type::kString;
      value.string = ParseString();
      return value;
    }
    if (Literal("true")) {
      value.type = Value::Type::kBool;
      value.boolean = true;
      return value;
    }
    if (Literal("false")) {
      value.type = Value::Type::kBool;
      return value;
    }
    if (Literal("null")) return value;
    if (c == '-' || (c >= '0' && c <= '9')) {
      value.type = Value::Type::kNumber;
      value.number = ParseNumber();
      return value;
    }
    Fail("unexpected character");
  }

  bool Digit() const { return pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9'; }

  std::string ParseNumber() {
    const size_t start = pos_;
    if (text_[pos_] == '-') ++pos_;
    if (!Digit()) Fail("bad number");
    if (text_[pos_] == '0') {
      ++pos_;
    } else {
      while (Digit()) ++pos_;
    }
    if (pos_ < text_.size() && text_[pos_] == '.') {
      ++pos_;
      if (!Digit()) Fail("bad number");
      while (Digit()) ++pos_;
    }
    if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
      ++pos_;
      if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
      if (!Digit()) Fail("bad number");
      while (Digit()) ++pos_;
    }
    return std::string(text_.substr(start, pos_ - start));
  }

  int Hex(char c) const {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  // A string starting at the opening quote. Raw characters are UTF-8;
  // each \u escape is one UTF-16 code unit.
  std::u16string ParseString() {
    std::u16string out;
    ++pos_;
    while (true) {
      if (pos_ >= text_.size()) Fail("unterminated string");
      const unsigned char c = static_cast<unsigned char>(text_[pos_]);
      if (c == '"') {
        ++pos_;
        return out;
      }
      if (c < 0x20) Fail("control character in string");
      if (c == '\\') {
        if (++pos_ >= text_.size()) Fail("unterminated string");
        const char e = text_[pos_++];
        switch (e) {
          case '"':
            out.push_back(u'"');
            break;
          case '\\':
            out.push_back(u'\\');
            break;
          case '/':
            out.push_back(u'/');
            break;
          case 'b':
            out.push_back(u'\b');
            break;
          case 'f':
            out.push_back(u'\f');
            break;
          case 'n':
            out.push_back(u'\n');
            break;
          case 'r':
            out.push_back(u'\r');
            break;
          case 't':
            out.push_back(u'\t');
            break;
          case 'u': {
            if (pos_ + 4 > text_.size()) Fail("bad \\u escape");
            uint32_t unit = 0;
            for (int i = 0; i < 4; ++i) {
              const int h = Hex(text_[pos_ + i]);
              if (h < 0) Fail("bad \\u escape");
              unit = unit * 16 + static_cast<uint32_t>(h);
            }
            pos_ += 4;
            out.push_back(static_cast<char16_t>(unit));
            break;
          }
          default:
            --pos_;
            Fail("bad escape");
        }
        continue;
      }
      if (c < 0x80) {
        out.push_back(c);
        ++pos_;
        continue;
      }
      // One UTF-8 sequence, checked strictly.
      const Utf8Sequence seq = DecodeUtf8Sequence(text_.substr(pos_));
      if (seq.length == 0) Fail("invalid UTF-8");
      pos_ += seq.length;
      char16_t units[2];
      out.append(units, EncodeUtf16(seq.codePoint, units));
    }
  }

  std::string_view text_;
  size_t pos_ = 0;
};

}  // namespace

const Value* Value::Find(std::u16string_view key) const {
  const Value* found = nullptr;
  for (const auto& [name, value] : object) {
    if (name == key) found = &value;
  }
  return found;
}

std::optional<int32_t> Value::AsInt32() const {
  if (type != Type::kNumber || number.find_first_of(".eE") != std::string::npos) {
    return std::nullopt;
  }
  int32_t result = 0;
  const char* end = number.data() + number.size();
  const auto [ptr, ec] = std::from_chars(number.data(), end, result);
  if (ec != std::errc() || ptr != end) return std::nullopt;
  return result;
}

Value Parse(std::string_view text) { return Parser(text).ParseDocument(); }

void AppendString(std::string& out, std::u16string_view text) {
  static constexpr char kDigits[] = "0123456789abcdef";
  out.push_back('"');
  for (char16_t c : text) {
    if (c == u'"' || c == u'\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else if (c >= 0x20 && c < 0x7F) {
      out.push_back(static_cast<char>(c));
    } else {
      out += "\\u";
      out.push_back(kDigits[(c >> 12) & 15]);
      out.push_back(kDigits[(c >> 8) & 15]);
      out.push_back(kDigits[(c >> 4) & 15]);
      out.push_back(kDigits[c & 15]);
    }
  }
  out.push_back('"');
}

std::string Quote(std::u16string_view text) {
  std::string out;
  AppendString(out, text);
  return out;
}

}  // namespace zuvo::json
