// Paths in the host's text: the core's UTF-16 text and the platform's path
// form, converted at this one seam.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace zuvo {

std::filesystem::path PathFromText(std::u16string_view text);
std::u16string TextFromPath(const std::filesystem::path& path);

}  // namespace zuvo
