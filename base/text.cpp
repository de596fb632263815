#include "base/text.h"

namespace zuvo {

std::u16string Utf8ToUtf16(std::string_view in, bool* valid) {
  std::u16string out;
  out.reserve(in.size());
  bool ok = true;
  size_t i = 0;
  const size_t n = in.size();
  while (i < n) {
    const unsigned char b0 = static_cast<unsigned char>(in[i]);
    if (b0 < 0x80) {
      out.push_back(b0);
      ++i;
      continue;
    }
    const Utf8Sequence seq = DecodeUtf8Sequence(in.substr(i));
    if (seq.length == 0) {
      ok = false;
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    char16_t units[2];
    out.append(units, EncodeUtf16(seq.codePoint, units));
    i += seq.length;
  }
  if (valid) *valid = ok;
  return out;
}

std::string Utf16ToUtf8(std::u16string_view in, bool* valid) {
  std::string out;
  out.reserve(in.size());
  bool ok = true;
  for (size_t i = 0; i < in.size(); ++i) {
    uint32_t cp = in[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 &&
        in[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      ok = false;
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  if (valid) *valid = ok;
  return out;
}

std::u16string Ascii(std::string_view in) { return std::u16string(in.begin(), in.end()); }

char16_t FoldCase(char16_t c) {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
  // Latin-1 upper-case letters (without the multiplication sign).
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 32);
  // Latin Extended-A pairs: even upper, odd lower, with the odd-aligned ranges.
  if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) {
    return static_cast<char16_t>(c | 1);
  }
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) {
    return (c & 1) ? static_cast<char16_t>(c + 1) : c;
  }
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return static_cast<char16_t>(c + 32);  // Greek
  if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 32);                // Cyrillic
  if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 80);
  if (c >= 0xFF21 && c <= 0xFF3A) return static_cast<char16_t>(c + 32);  // fullwidth Latin
  return c;
}

bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

bool HasControlCharacter(std::u16string_view text) {
  for (const char16_t c : text) {
    if (c < 32 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029) return true;
  }
  return false;
}

std::string PrintableText(std::u16string_view text) {
  std::u16string shown;
  for (const char16_t c : text) {
    if (c < 0x20 || c == 0x7F) {
      shown += u'^';
      shown += static_cast<char16_t>(c ^ 0x40);
    } else if (c >= 0x80 && c <= 0x9F) {
      // C1 controls: a terminal may act on them too.
      shown += u"^[";
      shown += static_cast<char16_t>(c - 0x40);
    } else {
      shown += c;
    }
  }
  return Utf16ToUtf8(shown);
}

std::u16string DecimalText(uint64_t value) {
  std::u16string out;
  do {
    out.insert(out.begin(), static_cast<char16_t>(u'0' + value % 10));
    value /= 10;
  } while (value != 0);
  return out;
}

}  // namespace zuvo
