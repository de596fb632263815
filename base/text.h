// Text helpers for the portable core. The core works in UTF-16
// (std::u16string), as the host contract defines its texts; conversions to
// narrow text happen only at the platform seams, through these functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zuvo {

// Special characters of the chat protocol.
inline constexpr char16_t kMarker = 18;  // starts a notification text
inline constexpr char16_t kCR = 13;      // separates lines of toasts and lists
inline constexpr char16_t kLF = 10;      // starts the host-command line of a reply

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
// the case folding used for command and code recognition and for file-name
// matching.
char16_t FoldCase(char16_t c);
bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b);

// Whether |text| holds a character below code 32 (a line break, a tab, the
// marker...).
bool HasControlCharacter(std::u16string_view text);

// A text for one terminal line, in UTF-8: control characters in caret
// notation (ESC as "^["), C1 controls as "^[" and their 7-bit form (U+009B
// as "^[["), so a stored or received text cannot drive the terminal.
std::string PrintableText(std::u16string_view text);

// Decimal text of a non-negative integer, as UTF-16.
std::u16string DecimalText(uint64_t value);

}  // namespace zuvo
