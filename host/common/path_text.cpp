#include "host/common/path_text.h"

#include "base/text.h"

namespace zuvo {
namespace fs = std::filesystem;

fs::path PathFromText(std::u16string_view text) {
  const std::string utf8 = Utf16ToUtf8(text);
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::u16string TextFromPath(const fs::path& path) {
  const std::u8string utf8 = path.u8string();
  return Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(utf8.data()), utf8.size()));
}

std::u16string_view LastComponent(std::u16string_view path) {
  const size_t cut = path.find_last_of(u"/\\");
  return cut == std::u16string_view::npos ? path : path.substr(cut + 1);
}

}  // namespace zuvo
