#include "files/path_list.h"

#include "base/text.h"

namespace zuvo {
namespace {

// Whether |text| holds a character below code 32. Looks at every character
// without stopping early, so that the loop is vectorised.
bool HasControlCharacter(std::u16string_view text) {
  bool found = false;
  for (const char16_t c : text) found |= c < 32;
  return found;
}

}  // namespace

void AppendPathLines(std::u16string& text, const PathList& list) {
  text.reserve(text.size() + list.size() + list.chars());
  for (const std::u16string_view path : list) {
    if (HasControlCharacter(path)) continue;
    text += kCR;
    text += path;
  }
}

}  // namespace zuvo
