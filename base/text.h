// Text helpers for the portable core. The core works in UTF-16
// (std::u16string), as the host contract defines its texts; conversions to
// narrow text happen only at the platform seams, through these functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zuvo {

// Special characters of the chat protocol (the notification marker is
// core/notify_text.h's).
inline constexpr char16_t kCR = 13;  // separates lines of toasts and lists
inline constexpr char16_t kLF = 10;  // starts the host-command line of a reply

// One UTF-8 sequence: the code point that |bytes| begin with (a first byte
// of 0x80 or above) and how many bytes encode it. |length| is 0 when they
// do not begin with a well-formed sequence: a stray or cut-short sequence,
// an overlong form, a surrogate, or a value beyond U+10FFFF.
struct Utf8Sequence {
  uint32_t codePoint = 0;
  size_t length = 0;
};
inline Utf8Sequence DecodeUtf8Sequence(std::string_view bytes) {
  const unsigned char b0 = static_cast<unsigned char>(bytes[0]);
  size_t length;
  uint32_t cp;
  uint32_t min;
  if ((b0 & 0xE0) == 0xC0) {
    length = 2, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    length = 3, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    length = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    return {};
  }
  if (length > bytes.size()) return {};
  for (size_t k = 1; k < length; ++k) {
    const unsigned char b = static_cast<unsigned char>(bytes[k]);
    if ((b & 0xC0) != 0x80) return {};
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {};
  return {cp, length};
}

// Writes |codePoint| (at most U+10FFFF, not a surrogate) at |out| as one or
// two UTF-16 units; returns how many.
inline size_t EncodeUtf16(uint32_t codePoint, char16_t* out) {
  if (codePoint < 0x10000) {
    out[0] = static_cast<char16_t>(codePoint);
    return 1;
  }
  codePoint -= 0x10000;
  out[0] = static_cast<char16_t>(0xD800 + (codePoint >> 10));
  out[1] = static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF));
  return 2;
}

// UTF-8 -> UTF-16. Malformed sequences become U+FFFD; |valid| (when given)
// tells whether the input was well-formed UTF-8.
std::u16string Utf8ToUtf16(std::string_view in, bool* valid = nullptr);

// UTF-16 -> UTF-8. Unpaired surrogates become U+FFFD; |valid| (when given)
// tells whether the input was well-formed UTF-16.
std::string Utf16ToUtf8(std::u16string_view in, bool* valid = nullptr);

// ASCII-only convenience for literals and diagnostics.
std::u16string Ascii(std::string_view in);

// Lower-cases the ASCII letters and the Latin-1/Latin Extended-A letters that
// have simple one-to-one case pairs; every other code unit is kept. This is
// the case folding used for command and code recognition; file names have
// their own rule (base/file_name_case.h).
char16_t FoldCase(char16_t c);
bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b);

// Whether |text| holds a character that a chat client may take as a line
// break or act on: below code 32 (CR, LF, a tab, the marker...), DEL, the C1
// controls U+0080..U+009F (U+0085 is a line break) and the line and
// paragraph separators U+2028 and U+2029.
bool HasControlCharacter(std::u16string_view text);

// A text for one terminal line, in UTF-8: control characters in caret
// notation (ESC as "^["), C1 controls as "^[" and their 7-bit form (U+009B
// as "^[["), so a stored or received text cannot drive the terminal.
std::string PrintableText(std::u16string_view text);

// Decimal text of a non-negative integer, as UTF-16.
std::u16string DecimalText(uint64_t value);

}  // namespace zuvo
