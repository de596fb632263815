#include "host/chat/queued_input.h"

#include "base/text.h"

namespace zuvo::chat {

void QueuedInput::Requeue() {
  if (!deferred_.empty()) events_.PushFront(std::move(deferred_));
  deferred_.clear();
}

QueuedInput::int_type QueuedInput::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  while (!ended_) {
    std::optional<Event> e = events_.Pop(std::chrono::milliseconds(500));
    if (!e) continue;
    if (e->type == Event::Type::kLine) {
      line_ = Utf16ToUtf8(e->text) + "\n";
      setg(line_.data(), line_.data(), line_.data() + line_.size());
      return traits_type::to_int_type(*gptr());
    }
    // The end of the input ends the form too, and the chat after it.
    if (e->type == Event::Type::kInputEnd) ended_ = true;
    deferred_.push_back(std::move(*e));
  }
  return traits_type::eof();
}

}  // namespace zuvo::chat
