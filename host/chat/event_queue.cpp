#include "host/chat/event_queue.h"

#include <algorithm>

namespace zuvo::chat {
namespace fs = std::filesystem;

Event Event::Line(std::u16string text) {
  Event e;
  e.type = Type::kLine;
  e.text = std::move(text);
  return e;
}

Event Event::InputEnd() {
  Event e;
  e.type = Type::kInputEnd;
  return e;
}

Event Event::Arrived(Message message) {
  Event e;
  e.type = Type::kMessage;
  e.message = std::move(message);
  return e;
}

Event Event::FileOffered(uint32_t id, std::u16string name, uint64_t size) {
  return Transfer(Type::kFileOffered, id, std::move(name), 0, size);
}

Event Event::Transfer(Type type, uint32_t id, std::u16string name, uint64_t done, uint64_t total) {
  Event e;
  e.type = type;
  e.id = id;
  e.name = std::move(name);
  e.done = done;
  e.total = total;
  return e;
}

Event Event::IncomingDone(uint32_t id, std::u16string name, uint64_t done, uint64_t total,
                          fs::path path) {
  Event e = Transfer(Type::kIncomingDone, id, std::move(name), done, total);
  e.ok = true;
  e.path = std::move(path);
  return e;
}

Event Event::Failed(Type type, uint32_t id, std::u16string name, const HostError& error) {
  Event e = Transfer(type, id, std::move(name), 0, 0);
  e.why = Describe(error);
  return e;
}

Event Event::OutgoingResult(uint32_t id, bool ok, std::u16string text) {
  Event e;
  e.type = Type::kOutgoingResult;
  e.id = id;
  e.ok = ok;
  e.text = std::move(text);
  return e;
}

Event Event::Closed(bool bye, std::string why) {
  Event e;
  e.type = Type::kClosed;
  e.ok = bye;
  e.why = bye ? "" : std::move(why);
  return e;
}

size_t EventQueue::Cost(const Event& e) {
  return sizeof(Event) + 2 * (e.message.text.size() + e.name.size() + e.text.size()) +
         e.message.data.size() + e.why.size() +
         e.path.native().size() * sizeof(fs::path::value_type);
}

void EventQueue::Add(size_t cost) {
  bytes_ += cost;
  peak_ = std::max(peak_, bytes_);
}

Event EventQueue::Take() {
  Event e = std::move(events_.front());
  events_.pop_front();
  bytes_ -= Cost(e);
  room_.notify_all();
  return e;
}

void EventQueue::Push(Event event) {
  {
    std::lock_guard lock(mutex_);
    Add(Cost(event));
    events_.push_back(std::move(event));
  }
  ready_.notify_one();
}

std::optional<Event> EventQueue::Pop(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  if (!ready_.wait_for(lock, timeout, [&] { return !events_.empty(); })) return std::nullopt;
  return Take();
}

std::optional<Event> EventQueue::TryPop() {
  std::lock_guard lock(mutex_);
  if (events_.empty()) return std::nullopt;
  return Take();
}

void EventQueue::PushFront(std::vector<Event> events) {
  {
    std::lock_guard lock(mutex_);
    for (const Event& e : events) Add(Cost(e));
    events_.insert(events_.begin(), std::make_move_iterator(events.begin()),
                   std::make_move_iterator(events.end()));
  }
  ready_.notify_one();
}

void EventQueue::Hold(const Event& event) {
  std::lock_guard lock(mutex_);
  Add(Cost(event));
  ++held_;
}

void EventQueue::Release(const Event& event) {
  {
    std::lock_guard lock(mutex_);
    bytes_ -= Cost(event);
    --held_;
  }
  room_.notify_all();
}

bool EventQueue::WaitForRoom(size_t maxEvents, size_t maxBytes, const std::atomic<bool>& stop) {
  std::unique_lock lock(mutex_);
  while (events_.size() + held_ >= maxEvents || bytes_ >= maxBytes) {
    if (stop.load()) return false;
    // |stop| has no way to wake this wait: look again now and then.
    room_.wait_for(lock, std::chrono::milliseconds(50));
  }
  return !stop.load();
}

bool EventQueue::HasRoom(size_t maxEvents, size_t maxBytes) const {
  std::lock_guard lock(mutex_);
  return events_.size() + held_ < maxEvents && bytes_ < maxBytes;
}

size_t EventQueue::queuedBytes() const {
  std::lock_guard lock(mutex_);
  return bytes_;
}

size_t EventQueue::peakBytes() const {
  std::lock_guard lock(mutex_);
  return peak_;
}

}  // namespace zuvo::chat
