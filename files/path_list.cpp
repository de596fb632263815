#include "files/path_list.h"

#include <algorithm>
#include <cstdint>
#include <functional>

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

PathList::PathList(const PathList& other) : ends_(other.ends_) {
  if (other.chars_ == 0) return;
  text_ = static_cast<char16_t*>(std::malloc(other.chars_ * sizeof(char16_t)));
  if (text_ == nullptr) throw std::bad_alloc();
  std::char_traits<char16_t>::copy(text_, other.text_, other.chars_);
  chars_ = capacity_ = other.chars_;
}

bool PathList::Grow(size_t needed, std::u16string_view& prefix, std::u16string_view& name) {
  constexpr size_t kMaxChars = SIZE_MAX / sizeof(char16_t) / 2;
  if (needed > kMaxChars || needed < chars_) return false;
  const size_t capacity = std::max({needed, 2 * capacity_, size_t{1024}});
  // Where |prefix| and |name| lie in the old block, if they do.
  const std::less<const char16_t*> before;
  auto offsetIn = [&](std::u16string_view v) -> size_t {
    if (v.empty() || text_ == nullptr || before(v.data(), text_) ||
        !before(v.data(), text_ + chars_)) {
      return SIZE_MAX;
    }
    return static_cast<size_t>(v.data() - text_);
  };
  const size_t prefixAt = offsetIn(prefix);
  const size_t nameAt = offsetIn(name);
  void* grown = std::realloc(text_, capacity * sizeof(char16_t));
  if (grown == nullptr) return false;
  text_ = static_cast<char16_t*>(grown);
  capacity_ = capacity;
  if (prefixAt != SIZE_MAX) prefix = std::u16string_view(text_ + prefixAt, prefix.size());
  if (nameAt != SIZE_MAX) name = std::u16string_view(text_ + nameAt, name.size());
  return true;
}

void AppendPathLines(std::u16string& text, const PathList& list) {
  text.reserve(text.size() + list.size() + list.chars());
  for (const std::u16string_view path : list) {
    if (HasControlCharacter(path)) continue;
    text += kCR;
    text += path;
  }
}

}  // namespace zuvo
