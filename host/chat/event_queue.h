// The events of one chat, and the queue that carries them from the
// connection's threads and the user's input to the host's thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/chat/protocol.h"
#include "host/common/host_error.h"

namespace zuvo::chat {

// One thing that happened. Events are made by the functions below, one per
// type, which say which fields the type uses; |why| is an error already in
// words.
struct Event {
  enum class Type {
    kLine,              // the user typed |text|
    kInputEnd,          // the user's input ended
    kMessage,           // |message| arrived (hello, text, bye)
    kFileOffered,       // the contact offers |name|, |total| bytes (|id|): the host decides
    kIncomingStarted,   // the file offered as |id| is arriving, stored as |name|
    kIncomingProgress,  // |done| of |total| bytes have arrived
    kIncomingDone,      // |ok|: stored as |path|; otherwise |why|
    kIncomingRefused,   // the offer of |name| (or a text) was refused: |why|
    kOutgoingStarted,   // the offer of |name| (|total| bytes) went out
    kOutgoingProgress,  // |done| of |total| bytes sent
    kOutgoingFailed,    // this side could not send |name|: |why|
    kOutgoingResult,    // the contact's verdict: |ok|, |text|
    kClosed,            // the connection ended: |ok| when the contact said goodbye, |why|
  };

  static Event Line(std::u16string text);
  static Event InputEnd();
  static Event Arrived(Message message);
  static Event FileOffered(uint32_t id, std::u16string name, uint64_t size);
  // kIncomingStarted, kIncomingProgress, kOutgoingStarted, kOutgoingProgress.
  static Event Transfer(Type type, uint32_t id, std::u16string name, uint64_t done, uint64_t total);
  static Event IncomingDone(uint32_t id, std::u16string name, uint64_t done, uint64_t total,
                            std::filesystem::path path);
  // kIncomingDone that failed, kIncomingRefused, kOutgoingFailed.
  static Event Failed(Type type, uint32_t id, std::u16string name, const HostError& error);
  static Event OutgoingResult(uint32_t id, bool ok, std::u16string text);
  static Event Closed(bool bye, std::string why);

  Type type = Type::kLine;
  Message message;
  uint32_t id = 0;
  uint64_t done = 0;
  uint64_t total = 0;
  bool ok = false;
  std::u16string name;
  std::u16string text;
  std::string why;
  std::filesystem::path path;
};

// A queue of events from any thread to the host's thread. It counts what
// its events hold, so a producer can wait for room instead of letting a
// fast contact pile up work the host has not reached yet.
class EventQueue {
 public:
  // What an event holds in memory, as the queue counts it.
  static size_t Cost(const Event& event);

  void Push(Event event);
  // Waits up to |timeout| for the next event.
  std::optional<Event> Pop(std::chrono::milliseconds timeout);
  // The next event if one is waiting, without blocking.
  std::optional<Event> TryPop();
  // Puts |events| back in front of the queue, in their order.
  void PushFront(std::vector<Event> events);
  // Counts an event the consumer took but keeps aside, until Release.
  void Hold(const Event& event);
  void Release(const Event& event);

  // Waits until the queue holds fewer than |maxEvents| events and
  // |maxBytes| bytes, or |stop| is set; false when stopped.
  bool WaitForRoom(size_t maxEvents, size_t maxBytes, const std::atomic<bool>& stop);
  bool HasRoom(size_t maxEvents, size_t maxBytes) const;
  size_t queuedBytes() const;
  // The most the queue ever held, in bytes.
  size_t peakBytes() const;

 private:
  void Add(size_t cost);
  Event Take();  // the first event, under the lock

  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::condition_variable room_;
  std::deque<Event> events_;
  size_t held_ = 0;  // events kept aside by the consumer
  size_t bytes_ = 0;
  size_t peak_ = 0;
};

}  // namespace zuvo::chat
