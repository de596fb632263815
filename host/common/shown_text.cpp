#include "host/common/shown_text.h"

#include "base/text.h"

namespace zuvo {
namespace {

bool TurnsDirection(char16_t c) {
  return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

std::string ShownText(std::u16string_view text) {
  std::u16string shown;
  shown.reserve(text.size());
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  for (const char16_t c : text) {
    if (!TurnsDirection(c)) {
      shown += c;
      continue;
    }
    shown += u"<U+";
    for (int shift = 12; shift >= 0; shift -= 4) shown += kHex[(c >> shift) & 0xF];
    shown += u'>';
  }
  return PrintableText(shown);
}

std::string ShownName(std::string_view utf8) { return ShownText(Utf8ToUtf16(utf8)); }

}  // namespace zuvo
