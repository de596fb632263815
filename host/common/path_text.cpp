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

}  // namespace zuvo
