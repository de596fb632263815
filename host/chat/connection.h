// One conversation between two hosts over a stream socket. Two threads of
// its own: the reader splits the stream into messages, receives files
// straight into the downloads folder and reports everything else as events;
// the writer sends queued messages ahead of file data, and file data one
// piece at a time, so a long transfer never holds a text back for more than
// one piece. The host's own thread only consumes the events.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host/chat/platform.h"
#include "host/chat/protocol.h"
#include "host/chat/transfer.h"

namespace zuvo::chat {

struct Event {
  enum class Type {
    kLine,              // the user typed |text|
    kInputEnd,          // the user's input ended
    kMessage,           // |message| arrived (hello, text, bye)
    kIncomingStarted,   // a file |name| of |total| bytes is arriving (|id|)
    kIncomingProgress,  // |done| of |total| bytes have arrived
    kIncomingDone,      // |ok|: stored as |path|; otherwise |why|
    kIncomingRefused,   // the contact offered |name| without being asked
    kOutgoingStarted,   // the offer of |name| (|total| bytes) went out
    kOutgoingProgress,  // |done| of |total| bytes sent
    kOutgoingFailed,    // this side could not send |name|: |why|
    kOutgoingResult,    // the contact's verdict: |ok|, |text|
    kClosed,            // the connection ended: |ok| when the contact said goodbye, |why|
  };
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

  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::condition_variable room_;
  std::deque<Event> events_;
  size_t held_ = 0;  // events kept aside by the consumer
  size_t bytes_ = 0;
  size_t peak_ = 0;
};

// The bounds of one conversation. The reader takes no further message from
// the contact while the host has kMaxQueuedEvents events or kMaxQueuedBytes
// bytes of them still to handle, or while more than kMaxUnsentBytes of
// output wait for the contact to read them.
inline constexpr size_t kMaxQueuedEvents = 256;
inline constexpr size_t kMaxQueuedBytes = 8u << 20;
inline constexpr size_t kMaxUnsentBytes = 4u << 20;
// Files being sent at once (each holds an open file); further files wait
// as paths, at most kMaxWaitingFiles of them.
inline constexpr size_t kMaxOpenOutgoing = 4;
inline constexpr size_t kMaxWaitingFiles = 1024;
// How long an accepted file request waits for the contact's offer.
inline constexpr std::chrono::seconds kOfferWait{600};

class Connection {
 public:
  Connection(std::unique_ptr<StreamSocket> socket, EventQueue& events,
             std::filesystem::path downloads);
  ~Connection();  // closes without a goodbye if still open
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void Start();

  // Queues one text (split into pieces when long) or another message.
  void SendText(std::u16string_view text);
  void Send(const Message& message);

  // Queues the file at |path|, opened when its turn comes; its transfer
  // id, or 0 with |why| when too many files are waiting already.
  uint32_t SendFile(const std::filesystem::path& path, std::string& why);
  // As SendFile, for the file at |path| inside |sharedFolder|: opened
  // beneath the shared folder when its turn comes (a file that by then
  // lies elsewhere, or is gone, fails then), sent as |name|.
  uint32_t SendSharedFile(std::u16string path, std::u16string sharedFolder, std::u16string name,
                          std::string& why);

  // The local user asked the contact for the file at |path|. One offer of a
  // file by that name is taken, after the contact's plug-in answered
  // "Accepted Request, Sending File " + |path| + "..." and within
  // |offerWait| of that; other offers are refused.
  void ExpectFile(std::u16string_view path);
  void SetOfferWait(std::chrono::milliseconds wait) { offerWait_ = wait; }

  // Bytes queued for the contact and not yet handed to the socket.
  size_t unsent() const;
  // The most that was ever queued.
  size_t peakUnsent() const;
  bool outputFull() const { return unsent() > kMaxUnsentBytes; }
  // Whether the reader has had to wait for room (the host or the contact
  // was behind) since the last call.
  bool readerWaited() { return readerWaiting_.exchange(false); }

  // Ends the conversation: with |bye|, says goodbye after the messages
  // already queued; transfers still running are cut off (the receiver
  // discards them). Waits for both threads.
  void Close(bool bye);

 private:
  struct Outgoing {
    uint32_t id = 0;
    std::u16string name;
    // Opens the file when its turn comes; |file| is open from then on.
    std::function<std::unique_ptr<OutgoingFile>(std::string& why)> open;
    std::unique_ptr<OutgoingFile> file;
    bool hashed = false;
    bool offered = false;
    bool failed = false;
    unsigned percent = 0;
  };

  void ReadLoop();
  void WriteLoop();
  // Handles one incoming message on the reader thread; false ends the
  // connection with |why|.
  bool OnMessage(Message& message, std::string& why);
  bool Write(const std::string& bytes);
  void Queue(std::string bytes);
  // Queues |out| for sending; 0 with |why| when too many files wait.
  uint32_t Enqueue(Outgoing out, std::string& why);
  // Waits until the host and the contact have caught up; false on close.
  bool WaitForRoom();
  // A file request answered by |text| ("Accepted Request, Sending File ...").
  void NoteAccepted(const std::u16string& text);
  // Takes the request an offer of |name| answers; false with |why| if none.
  bool TakeExpected(const std::u16string& name, std::string& why);
  // One step of |out|; false when the transfer is over (done or failed).
  bool TransferStep(Outgoing& out);
  void Post(Event event) { events_.Push(std::move(event)); }
  // Posts a progress event of |type| when the whole percent of |done| out
  // of |total| differs from |lastPercent|, which it then updates.
  void PostProgress(Event::Type type, uint32_t id, const std::u16string& name, uint64_t done,
                    uint64_t total, unsigned& lastPercent);

  std::unique_ptr<StreamSocket> socket_;
  EventQueue& events_;
  std::filesystem::path downloads_;
  std::thread reader_;
  std::thread writer_;
  std::atomic<bool> byeReceived_{false};
  std::atomic<bool> stopping_{false};
  std::atomic<bool> readerWaiting_{false};

  // The files asked for, under expectedMutex_.
  struct Expected {
    std::u16string path;
    std::u16string name;
    bool accepted = false;
    std::chrono::steady_clock::time_point deadline;
  };
  std::mutex expectedMutex_;
  std::deque<Expected> expected_;
  std::chrono::milliseconds offerWait_ = kOfferWait;

  // Writer state, under mutex_.
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable drained_;
  std::deque<std::string> control_;
  size_t unsent_ = 0;
  size_t peakUnsent_ = 0;
  std::deque<Outgoing> outgoing_;  // the first kMaxOpenOutgoing are open
  std::set<uint32_t> sending_;     // transfers without the receiver's verdict yet
  std::set<uint32_t> cancelled_;   // stopped by the receiver
  uint32_t nextId_ = 1;
  bool closing_ = false;
  bool writerDone_ = false;
  bool started_ = false;
  bool closed_ = false;

  // Reader state (reader thread only).
  struct Incoming {
    std::unique_ptr<IncomingFile> file;
    unsigned percent = 0;
  };
  std::map<uint32_t, Incoming> incoming_;
  std::u16string textPieces_;
  bool textTooLong_ = false;
};

}  // namespace zuvo::chat
