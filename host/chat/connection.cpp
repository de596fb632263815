#include "host/chat/connection.h"

#include <algorithm>
#include <vector>

#include "base/file_name_case.h"
#include "base/text.h"
#include "host/common/drop_file.h"

namespace zuvo::chat {
namespace fs = std::filesystem;
namespace {

constexpr std::u16string_view kAcceptedFile = u"Accepted Request, Sending File ";
// File requests remembered at once; the oldest goes first.
constexpr size_t kMaxExpected = 64;

// The last component of a path in either platform's form.
std::u16string LastComponent(std::u16string_view path) {
  const size_t cut = path.find_last_of(u"/\\");
  return std::u16string(cut == std::u16string_view::npos ? path : path.substr(cut + 1));
}

// At most this many files arrive at the same time.
constexpr size_t kMaxIncoming = 8;
constexpr size_t kReadBuffer = 256 * 1024;

unsigned Percent(uint64_t done, uint64_t total) {
  return total == 0 ? 100 : static_cast<unsigned>(done * 100 / total);
}

}  // namespace

size_t EventQueue::Cost(const Event& e) {
  return sizeof(Event) + 2 * (e.message.text.size() + e.name.size() + e.text.size()) +
         e.message.data.size() + e.why.size() +
         e.path.native().size() * sizeof(fs::path::value_type);
}

void EventQueue::Add(size_t cost) {
  bytes_ += cost;
  peak_ = std::max(peak_, bytes_);
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
  Event e = std::move(events_.front());
  events_.pop_front();
  bytes_ -= Cost(e);
  room_.notify_all();
  return e;
}

std::optional<Event> EventQueue::TryPop() {
  std::lock_guard lock(mutex_);
  if (events_.empty()) return std::nullopt;
  Event e = std::move(events_.front());
  events_.pop_front();
  bytes_ -= Cost(e);
  room_.notify_all();
  return e;
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

Connection::Connection(std::unique_ptr<StreamSocket> socket, EventQueue& events,
                       std::filesystem::path downloads)
    : socket_(std::move(socket)), events_(events), downloads_(std::move(downloads)) {}

Connection::~Connection() { Close(false); }

void Connection::Start() {
  std::lock_guard lock(mutex_);
  if (started_) return;
  started_ = true;
  reader_ = std::thread([this] { ReadLoop(); });
  writer_ = std::thread([this] { WriteLoop(); });
}

void Connection::Queue(std::string bytes) {
  {
    std::lock_guard lock(mutex_);
    if (closing_) return;
    unsent_ += bytes.size();
    peakUnsent_ = std::max(peakUnsent_, unsent_);
    control_.push_back(std::move(bytes));
  }
  wake_.notify_one();
}

void Connection::SendText(std::u16string_view text) { Queue(EncodeText(text)); }

void Connection::Send(const Message& message) { Queue(EncodeMessage(message)); }

size_t Connection::unsent() const {
  std::lock_guard lock(mutex_);
  return unsent_;
}

size_t Connection::peakUnsent() const {
  std::lock_guard lock(mutex_);
  return peakUnsent_;
}

uint32_t Connection::SendFile(const std::filesystem::path& path, std::string& why) {
  Outgoing out;
  out.name = TextFromPath(path.filename());
  out.open = [path](std::string& openWhy) { return OutgoingFile::Open(path, openWhy); };
  return Enqueue(std::move(out), why);
}

uint32_t Connection::SendSharedFile(std::u16string path, std::u16string sharedFolder,
                                    std::u16string name, std::string& why) {
  Outgoing out;
  out.name = name;
  out.open = [path = std::move(path), share = std::move(sharedFolder),
              name = std::move(name)](std::string& openWhy) -> std::unique_ptr<OutgoingFile> {
    SharedFile file;
    if (!OpenInsideSharedFolder(path, share, file, openWhy)) return nullptr;
    return OutgoingFile::FromOpen(file, name);
  };
  return Enqueue(std::move(out), why);
}

uint32_t Connection::Enqueue(Outgoing out, std::string& why) {
  uint32_t id;
  {
    std::lock_guard lock(mutex_);
    if (closing_) {
      why = "the conversation has ended";
      return 0;
    }
    if (outgoing_.size() >= kMaxOpenOutgoing + kMaxWaitingFiles) {
      why = "too many files are waiting to be sent";
      return 0;
    }
    id = nextId_++;
    sending_.insert(id);
    out.id = id;
    outgoing_.push_back(std::move(out));
  }
  wake_.notify_one();
  return id;
}

void Connection::ExpectFile(std::u16string_view path) {
  std::lock_guard lock(expectedMutex_);
  if (expected_.size() >= kMaxExpected) expected_.pop_front();
  Expected e;
  e.path = path;
  e.name = LastComponent(path);
  e.deadline = std::chrono::steady_clock::now() + offerWait_;
  expected_.push_back(std::move(e));
}

void Connection::NoteAccepted(const std::u16string& text) {
  // Only the first line counts: "Accepted Request, Sending File P...".
  const std::u16string_view line = std::u16string_view(text).substr(0, text.find(u'\n'));
  if (line.size() < kAcceptedFile.size() + 3 ||
      line.substr(0, kAcceptedFile.size()) != kAcceptedFile ||
      line.substr(line.size() - 3) != u"...") {
    return;
  }
  const std::u16string_view path =
      line.substr(kAcceptedFile.size(), line.size() - kAcceptedFile.size() - 3);
  std::lock_guard lock(expectedMutex_);
  for (Expected& e : expected_) {
    if (!e.accepted && e.path == path) {
      e.accepted = true;
      e.deadline = std::chrono::steady_clock::now() + offerWait_;
      return;
    }
  }
}

bool Connection::TakeExpected(const std::u16string& name, std::string& why) {
  const auto now = std::chrono::steady_clock::now();
  std::lock_guard lock(expectedMutex_);
  std::erase_if(expected_, [&](const Expected& e) { return e.deadline < now; });
  bool asked = false;
  for (auto it = expected_.begin(); it != expected_.end(); ++it) {
    if (!FileNamesEqual(it->name, name)) continue;
    asked = true;
    if (!it->accepted) continue;
    expected_.erase(it);
    return true;
  }
  why = asked ? "the contact did not accept that request" : "no file of that name was requested";
  return false;
}

bool Connection::WaitForRoom() {
  if (!events_.HasRoom(kMaxQueuedEvents, kMaxQueuedBytes) || outputFull()) readerWaiting_ = true;
  if (!events_.WaitForRoom(kMaxQueuedEvents, kMaxQueuedBytes, stopping_)) return false;
  std::unique_lock lock(mutex_);
  while (unsent_ > kMaxUnsentBytes && !closing_) {
    if (stopping_.load()) return false;
    drained_.wait_for(lock, std::chrono::milliseconds(50));
  }
  return !stopping_.load();
}

void Connection::Close(bool bye) {
  {
    std::unique_lock lock(mutex_);
    if (closed_) return;
    closed_ = true;
    if (!started_) {
      socket_->Shutdown();
      return;
    }
    if (bye && !closing_) {
      control_.push_back(EncodeMessage(ByeMessage()));
      unsent_ += control_.back().size();
    }
    closing_ = true;
    wake_.notify_one();
    // Give the writer a moment to send what is queued; a contact that
    // stopped reading must not hold the chat open.
    wake_.wait_for(lock, std::chrono::seconds(3), [&] { return writerDone_; });
  }
  stopping_ = true;  // a reader waiting for room gives up
  socket_->Shutdown();
  writer_.join();
  reader_.join();
}

bool Connection::Write(const std::string& bytes) {
  if (socket_->SendAll(bytes.data(), bytes.size())) return true;
  // The reader sees the same failure and reports the end of the connection.
  socket_->Shutdown();
  return false;
}

void Connection::WriteLoop() {
  for (;;) {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [&] { return closing_ || !control_.empty() || !outgoing_.empty(); });
    if (!control_.empty()) {
      std::string bytes = std::move(control_.front());
      control_.pop_front();
      lock.unlock();
      const bool written = Write(bytes);
      lock.lock();
      unsent_ -= bytes.size();
      drained_.notify_all();
      if (!written) break;
      continue;
    }
    if (closing_) break;
    Outgoing out = std::move(outgoing_.front());
    outgoing_.pop_front();
    const bool cancelled = cancelled_.erase(out.id) > 0;
    lock.unlock();
    const bool more = !cancelled && TransferStep(out);
    lock.lock();
    if (more) {
      // Round robin among the open transfers; the files waiting behind
      // them stay closed until one ends.
      const size_t open = std::min(outgoing_.size(), kMaxOpenOutgoing - 1);
      outgoing_.insert(outgoing_.begin() + static_cast<ptrdiff_t>(open), std::move(out));
    } else if (cancelled || out.failed) {
      sending_.erase(out.id);  // otherwise it waits for the receiver's verdict
    }
  }
  std::lock_guard lock(mutex_);
  writerDone_ = true;
  closing_ = true;
  wake_.notify_all();
}

bool Connection::TransferStep(Outgoing& out) {
  std::string why;
  if (!out.file) {
    out.file = out.open(why);
    out.open = nullptr;
    if (!out.file) {
      out.failed = true;
      Event e;
      e.type = Event::Type::kOutgoingFailed;
      e.id = out.id;
      e.name = out.name;
      e.why = why;
      Post(std::move(e));
      Write(EncodeMessage(AbortMessage(out.id, u"the file was not sent: " + Utf8ToUtf16(why))));
      return false;
    }
  }
  OutgoingFile& file = *out.file;
  auto fail = [&] {
    out.failed = true;
    Event e;
    e.type = Event::Type::kOutgoingFailed;
    e.id = out.id;
    e.name = file.name();
    e.why = why;
    Post(std::move(e));
    const std::u16string reason = Ascii("could not send ") + file.name() + u": " + Utf8ToUtf16(why);
    Write(EncodeMessage(AbortMessage(out.id, reason)));
    return false;
  };
  if (!out.hashed) {
    bool done = false;
    if (!file.HashStep(done, why)) return fail();
    out.hashed = done;
    return true;
  }
  if (!out.offered) {
    if (!Write(EncodeMessage(OfferMessage(out.id, file.size(), file.sha256(), file.name())))) {
      return false;
    }
    out.offered = true;
    Event e;
    e.type = Event::Type::kOutgoingStarted;
    e.id = out.id;
    e.name = file.name();
    e.total = file.size();
    Post(std::move(e));
    return true;
  }
  std::string piece;
  if (!file.ReadPiece(piece, why)) return fail();
  if (piece.empty()) {
    Write(EncodeMessage(EndMessage(out.id)));
    return false;
  }
  if (!Write(EncodeMessage(DataMessage(out.id, std::move(piece))))) return false;
  PostProgress(Event::Type::kOutgoingProgress, out.id, file.name(), file.sent(), file.size(),
               out.percent);
  return true;
}

void Connection::PostProgress(Event::Type type, uint32_t id, const std::u16string& name,
                              uint64_t done, uint64_t total, unsigned& lastPercent) {
  const unsigned percent = Percent(done, total);
  if (percent == lastPercent) return;
  lastPercent = percent;
  Event e;
  e.type = type;
  e.id = id;
  e.name = name;
  e.done = done;
  e.total = total;
  Post(std::move(e));
}

void Connection::ReadLoop() {
  std::vector<char> buffer(kReadBuffer);
  FrameDecoder decoder;
  std::string why;
  bool running = true;
  while (running) {
    const ptrdiff_t n = socket_->Receive(buffer.data(), buffer.size(), why);
    if (n <= 0) {
      if (n == 0 && why.empty()) why = "the connection was closed";
      break;
    }
    decoder.Feed(buffer.data(), static_cast<size_t>(n));
    Frame frame;
    for (;;) {
      // Nothing more is taken from the contact while the host has not
      // caught up or the contact is not reading what it asked for.
      const bool room = WaitForRoom();
      readerWaiting_ = false;
      if (!room) {
        running = false;
        break;
      }
      const FrameDecoder::Status status = decoder.Next(frame);
      if (status == FrameDecoder::Status::kNeedMore) break;
      if (status == FrameDecoder::Status::kBad) {
        why = "protocol error: " + decoder.error();
        running = false;
        break;
      }
      Message message;
      if (!DecodeMessage(frame, message, why) || !OnMessage(message, why)) {
        if (why.empty()) why = "protocol error";
        running = false;
        break;
      }
      if (message.kind == Kind::kBye) {
        running = false;
        break;
      }
    }
  }
  socket_->Shutdown();
  // Files still arriving are cut off: their temporary files go.
  for (auto& [id, in] : incoming_) {
    Event e;
    e.type = Event::Type::kIncomingDone;
    e.id = id;
    e.name = in.file->name();
    e.why = "the connection ended after " + std::to_string(in.file->received()) + " of " +
            std::to_string(in.file->size()) + " bytes";
    in.file->Discard();
    Post(std::move(e));
  }
  incoming_.clear();
  Event e;
  e.type = Event::Type::kClosed;
  e.ok = byeReceived_.load();
  e.why = e.ok ? "" : why;
  Post(std::move(e));
}

bool Connection::OnMessage(Message& m, std::string& why) {
  switch (m.kind) {
    case Kind::kHello:
    case Kind::kBye: {
      if (m.kind == Kind::kBye) byeReceived_ = true;
      Event e;
      e.type = Event::Type::kMessage;
      e.message = std::move(m);
      Post(std::move(e));
      return true;
    }
    case Kind::kTextPart:
    case Kind::kText: {
      if (!textTooLong_ && textPieces_.size() + m.text.size() <= kMaxTextUnits) {
        textPieces_ += m.text;
      } else {
        textTooLong_ = true;
        textPieces_.clear();
      }
      if (m.kind == Kind::kTextPart) return true;
      if (!textTooLong_) NoteAccepted(textPieces_);
      Event e;
      e.type = Event::Type::kMessage;
      e.message = std::move(m);
      if (textTooLong_) {
        // Too long to keep: the text is dropped and the user told so.
        e.type = Event::Type::kIncomingRefused;
        e.why = "a text longer than " + std::to_string(kMaxTextUnits) + " characters was dropped";
      } else {
        e.message.text = std::move(textPieces_);
      }
      textPieces_.clear();
      textTooLong_ = false;
      Post(std::move(e));
      return true;
    }
    case Kind::kFileOffer: {
      if (incoming_.count(m.id)) {
        why = "protocol error: a second offer for transfer " + std::to_string(m.id);
        return false;
      }
      Event e;
      e.id = m.id;
      e.name = m.text;
      e.total = m.size;
      std::string openWhy;
      std::unique_ptr<IncomingFile> file;
      if (!TakeExpected(m.text, openWhy)) {
      } else if (incoming_.size() >= kMaxIncoming) {
        openWhy = "too many files at once";
      } else {
        file = IncomingFile::Open(downloads_, m.text, m.size, m.sha256, openWhy);
      }
      if (!file) {
        Send(AbortMessage(m.id, u"refused: " + Utf8ToUtf16(openWhy)));
        e.type = Event::Type::kIncomingRefused;
        e.why = openWhy;
        Post(std::move(e));
        return true;
      }
      e.type = Event::Type::kIncomingStarted;
      e.name = file->name();
      incoming_[m.id].file = std::move(file);
      Post(std::move(e));
      return true;
    }
    case Kind::kFileData:
    case Kind::kFileEnd: {
      auto it = incoming_.find(m.id);
      // Data still in flight after this side stopped a transfer.
      if (it == incoming_.end()) return true;
      IncomingFile& file = *it->second.file;
      std::string failure;
      bool finished = false;
      if (m.kind == Kind::kFileData) {
        if (file.Write(m.data, failure)) {
          PostProgress(Event::Type::kIncomingProgress, m.id, file.name(), file.received(),
                       file.size(), it->second.percent);
          return true;
        }
      } else {
        finished = file.Finish(failure);
      }
      Event e;
      e.type = Event::Type::kIncomingDone;
      e.id = m.id;
      e.name = file.name();
      e.ok = finished;
      e.done = file.received();
      e.total = file.size();
      e.why = failure;
      e.path = file.finalPath();
      if (finished) {
        Send(ResultMessage(m.id, true, u"stored and verified"));
      } else {
        file.Discard();
        // Mid-stream the sender has to stop at once; after the end it
        // waits for the verdict.
        if (m.kind == Kind::kFileData) {
          Send(AbortMessage(m.id, Utf8ToUtf16(failure)));
        } else {
          Send(ResultMessage(m.id, false, Utf8ToUtf16(failure)));
        }
      }
      incoming_.erase(it);
      Post(std::move(e));
      return true;
    }
    case Kind::kFileAbort: {
      auto in = incoming_.find(m.id);
      if (in != incoming_.end()) {
        // The sender stopped its transfer to us.
        Event e;
        e.type = Event::Type::kIncomingDone;
        e.id = m.id;
        e.name = in->second.file->name();
        e.why = "the sender stopped: " + Utf16ToUtf8(m.text);
        in->second.file->Discard();
        incoming_.erase(in);
        Post(std::move(e));
        return true;
      }
      bool ours = false;
      {
        std::lock_guard lock(mutex_);
        ours = sending_.erase(m.id) > 0;
        if (ours) cancelled_.insert(m.id);
      }
      Event e;
      e.id = m.id;
      e.text = m.text;
      if (ours) {
        // The receiver stopped our transfer.
        e.type = Event::Type::kOutgoingResult;
        e.ok = false;
      } else {
        // A transfer that never began: the sender's host did not send a
        // file. Which one it does not say; a request it had accepted stays
        // open until its time is up.
        e.type = Event::Type::kIncomingDone;
        e.why = Utf16ToUtf8(m.text);
      }
      Post(std::move(e));
      return true;
    }
    case Kind::kFileResult: {
      {
        std::lock_guard lock(mutex_);
        sending_.erase(m.id);
      }
      Event e;
      e.type = Event::Type::kOutgoingResult;
      e.id = m.id;
      e.ok = m.ok;
      e.text = m.text;
      Post(std::move(e));
      return true;
    }
  }
  why = "protocol error: unexpected message";
  return false;
}

}  // namespace zuvo::chat
