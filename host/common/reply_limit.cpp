#include "host/common/reply_limit.h"

#include "base/text.h"

namespace zuvo {

std::u16string LimitReplyLines(const std::u16string& reply, size_t maxLines) {
  if (maxLines == 0) return reply;
  size_t lines = 1;
  size_t cut = std::u16string::npos;  // where line |maxLines| ends
  for (size_t i = 0; i < reply.size(); ++i) {
    const char16_t c = reply[i];
    if (c != kCR && c != kLF) continue;
    if (lines == maxLines) cut = i;
    if (c == kCR && i + 1 < reply.size() && reply[i + 1] == kLF) ++i;
    ++lines;
  }
  if (lines <= maxLines) return reply;
  const size_t left = lines - maxLines;
  std::u16string out = reply.substr(0, cut);
  out += kCR;
  out += Ascii("... " + std::to_string(left) + " more line" + (left == 1 ? "" : "s") +
               " not sent (" + std::to_string(lines) +
               " in all). Ask with a pattern to narrow the list, e.g. /xrlist *.txt");
  return out;
}

}  // namespace zuvo
