// Paths in the host's text: the core's UTF-16 text and the platform's path
// form, converted at this one seam.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace zuvo {

std::filesystem::path PathFromText(std::u16string_view text);
std::u16string TextFromPath(const std::filesystem::path& path);

// The last component of a path in either platform's form: what follows the
// last "/" or "\" (a contact's machine may use either). Empty for a path
// that ends in a separator.
std::u16string_view LastComponent(std::u16string_view path);

}  // namespace zuvo
