// Exact conversion of a contact's text to the platform's narrow code page,
// for the platform calls that take narrow text (the tree search). A
// conversion that maps a character to a look-alike ("best fit": fullwidth
// "．．＼" to "..\") would let a contact's text name what it does not say,
// so a text that has no exact narrow form gives nothing, and its caller
// treats it as matching nothing. Variants: narrow_text_posix.cpp (UTF-8),
// narrow_text_win32.cpp (the ANSI code page, without best fit).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zuvo {

// |text| in the narrow code page, or nothing when some character has no
// exact form there or the result does not convert back to |text| unchanged.
std::optional<std::string> ToNarrowExact(std::u16string_view text);

}  // namespace zuvo
