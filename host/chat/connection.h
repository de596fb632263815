// One conversation between two hosts over a stream socket: the chat's
// transport. Two threads of its own: the reader splits the stream into
// messages and reports them as events (event_queue.h), writing the files
// the host lets in straight into the downloads folder; the writer sends
// queued messages ahead of file data, and file data one piece at a time, so
// a long transfer never holds a text back for more than one piece.
//
// The host's thread consumes the events and judges every file offered: the
// reader hands an offer over as a kFileOffered event, behind every message
// that came before it, and reads no further until the host has answered
// with Decide. So the host has seen the contact's answer to a request
// before it judges the file that follows it, and the transport itself knows
// nothing of the plug-in's words.
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

#include "host/chat/event_queue.h"
#include "host/chat/protocol.h"
#include "host/chat/socket.h"
#include "host/chat/transfer.h"
#include "host/common/received_file.h"

namespace zuvo::chat {

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
// Files arriving at once; a further offer is refused without asking.
inline constexpr size_t kMaxIncoming = 8;

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

  // Queues the file at |path| inside |sharedFolder|, sent as |name|: opened
  // beneath the shared folder when its turn comes (a file that by then lies
  // elsewhere, or is gone, fails then). Its transfer id, or 0 with |error|
  // when too many files are waiting already.
  uint32_t SendSharedFile(std::u16string path, std::u16string sharedFolder, std::u16string name,
                          HostError& error);

  // The host's verdict on the offer |id| (a kFileOffered event): the file
  // is stored when |verdict| is no failure, else refused with its words.
  void Decide(uint32_t id, const HostError& verdict);
  const std::filesystem::path& downloads() const { return downloads_; }

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
    std::function<std::unique_ptr<OutgoingFile>(HostError& error)> open;
    std::unique_ptr<OutgoingFile> file;
    bool hashed = false;
    bool offered = false;
    bool failed = false;
    unsigned percent = 0;
  };

  // Reader thread.
  void ReadLoop();
  // Waits until the host and the contact have caught up; false on close.
  bool WaitForRoom();
  // One handler per kind of message; false ends the connection with |why|.
  bool OnMessage(Message& message, std::string& why);
  void OnText(Message& message);
  bool OnOffer(const Message& message, std::string& why);
  void OnData(const Message& message);
  void OnAbort(const Message& message);
  void OnResult(const Message& message);
  // Waits for the host's verdict on the offer |id|; nothing on close.
  std::optional<HostError> AwaitVerdict(uint32_t id);
  // Cuts off the files still arriving.
  void DiscardIncoming();

  // Writer thread.
  void WriteLoop();
  bool Write(const std::string& bytes);
  // One step of |out|; false when the transfer is over (done or failed).
  bool TransferStep(Outgoing& out);
  bool FailTransfer(Outgoing& out, const HostError& error);

  void Queue(std::string bytes);
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

  // The host's verdict on the offer the reader waits for, under verdictMutex_.
  std::mutex verdictMutex_;
  std::condition_variable verdictReady_;
  uint32_t awaitedOffer_ = 0;
  std::optional<HostError> verdict_;

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
