#include "files/path_list.h"

#include <algorithm>
#include <functional>
#include <new>

namespace zuvo {

void PathList::Grow(size_t needed, std::u16string_view& prefix, std::u16string_view& name) {
  if (needed > text_.max_size()) throw std::bad_alloc();
  // Where |prefix| and |name| lie in the text, if they do.
  const std::less<const char16_t*> before;
  const char16_t* const begin = text_.data();
  auto offsetIn = [&](std::u16string_view v) {
    if (v.empty() || before(v.data(), begin) || !before(v.data(), begin + text_.size())) {
      return std::u16string_view::npos;
    }
    return static_cast<size_t>(v.data() - begin);
  };
  const size_t prefixAt = offsetIn(prefix);
  const size_t nameAt = offsetIn(name);
  // Doubling, but never past the limit (|needed| is within it).
  text_.reserve(
      std::min({text_.max_size(), limit_, std::max({needed, 2 * text_.capacity(), size_t{1024}})}));
  const std::u16string_view text(text_);
  if (prefixAt != std::u16string_view::npos) prefix = text.substr(prefixAt, prefix.size());
  if (nameAt != std::u16string_view::npos) name = text.substr(nameAt, name.size());
}

}  // namespace zuvo
