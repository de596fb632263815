#include "base/text.h"
#include "files/narrow_text.h"

namespace zuvo {

// UTF-8 represents every well-formed UTF-16 text exactly.
std::optional<std::string> ToNarrowExact(std::u16string_view text) {
  bool valid = false;
  std::string narrow = Utf16ToUtf8(text, &valid);
  if (!valid) return std::nullopt;
  return narrow;
}

}  // namespace zuvo
