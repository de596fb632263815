// Text a contact chose (a name, a line of a reply) as the user is shown
// it: control characters in caret notation ("^[", PrintableText), and the
// characters that turn the reading direction of what follows (U+202A to
// U+202E, U+2066 to U+2069) named as "<U+202E>", so that a name or a path
// cannot make a line read as something else ("txt.exe" shown as
// "exe.txt"), while the text stays recognisable.
#pragma once

#include <string>
#include <string_view>

namespace zuvo {

std::string ShownText(std::u16string_view text);
// The same for a UTF-8 text (a contact's name as the client gives it).
std::string ShownName(std::string_view utf8);

}  // namespace zuvo
