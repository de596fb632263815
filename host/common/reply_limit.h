// The host's limit on the lines of one reply. A listing of thousands of
// paths floods a chat network (IRC servers throttle or drop a client that
// sends too much) and nobody reads it in a conversation, so a reply with
// more lines than the limit is not sent whole: the first lines go, and one
// closing line says how many were left out and that a pattern narrows the
// list. The cut is never silent.
#pragma once

#include <cstddef>
#include <string>

namespace zuvo {

inline constexpr int kDefaultMaxReplyLines = 200;

// |reply| as the contact is to get it: the whole text when it has at most
// |maxLines| lines (CR, LF or CR LF end a line) or |maxLines| is 0, else its
// first |maxLines| lines and the notice line, joined with CR.
std::u16string LimitReplyLines(const std::u16string& reply, size_t maxLines);

}  // namespace zuvo
