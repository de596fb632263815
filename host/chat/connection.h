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

// A queue of events from any thread to the host's thread.
class EventQueue {
 public:
  void Push(Event event);
  // Waits up to |timeout| for the next event.
  std::optional<Event> Pop(std::chrono::milliseconds timeout);
  // The next event if one is waiting, without blocking.
  std::optional<Event> TryPop();
  // Puts |events| back in front of the queue, in their order.
  void PushFront(std::vector<Event> events);

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Event> events_;
};

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

  // Queues the file at |path|; its transfer id, or 0 with |why| when it
  // cannot be opened (nothing is sent then).
  uint32_t SendFile(const std::filesystem::path& path, std::string& why);
  // As SendFile, from a file already open and checked, sent as |name|.
  uint32_t SendFile(SharedFile& file, std::u16string name, std::string& why);

  // Lets the contact send one more file (the local user asked for one).
  // Offers beyond the files asked for are refused.
  void ExpectFile() { expectedFiles_.fetch_add(1); }

  // Ends the conversation: with |bye|, says goodbye after the messages
  // already queued; transfers still running are cut off (the receiver
  // discards them). Waits for both threads.
  void Close(bool bye);

 private:
  // Queues |file| for sending; 0 with |why| when there is none.
  uint32_t Queue(std::unique_ptr<OutgoingFile> file, std::string& why);

  struct Outgoing {
    uint32_t id = 0;
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
  std::atomic<int> expectedFiles_{0};
  std::atomic<bool> byeReceived_{false};

  // Writer state, under mutex_.
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::string> control_;
  std::deque<Outgoing> outgoing_;
  std::set<uint32_t> sending_;    // transfers without the receiver's verdict yet
  std::set<uint32_t> cancelled_;  // stopped by the receiver
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
