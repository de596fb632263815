// The chat's queued input for a modal form.
#pragma once

#include <streambuf>
#include <string>
#include <vector>

#include "host/chat/event_queue.h"

namespace zuvo::chat {

// Standard input for a modal form while the chat runs: the user's typed
// lines come from the chat's event queue; every other event that arrives
// meanwhile waits until the form is closed (Requeue puts them back).
class QueuedInput : public std::streambuf {
 public:
  explicit QueuedInput(EventQueue& events) : events_(events) {}
  // Puts the events set aside while the form read its input back at the
  // front of the queue.
  void Requeue();

 protected:
  int_type underflow() override;

 private:
  EventQueue& events_;
  std::vector<Event> deferred_;
  std::string line_;
  bool ended_ = false;
};

}  // namespace zuvo::chat
