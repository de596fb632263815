#include "host/chat/connection.h"

#include <vector>

#include "base/text.h"

namespace zuvo::chat {
namespace {

// At most this many files arrive at the same time.
constexpr size_t kMaxIncoming = 8;
constexpr size_t kReadBuffer = 256 * 1024;

unsigned Percent(uint64_t done, uint64_t total) {
  return total == 0 ? 100 : static_cast<unsigned>(done * 100 / total);
}

}  // namespace

void EventQueue::Push(Event event) {
  {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
  }
  ready_.notify_one();
}

std::optional<Event> EventQueue::Pop(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  if (!ready_.wait_for(lock, timeout, [&] { return !events_.empty(); })) return std::nullopt;
  Event e = std::move(events_.front());
  events_.pop_front();
  return e;
}

std::optional<Event> EventQueue::TryPop() {
  std::lock_guard lock(mutex_);
  if (events_.empty()) return std::nullopt;
  Event e = std::move(events_.front());
  events_.pop_front();
  return e;
}

void EventQueue::PushFront(std::vector<Event> events) {
  {
    std::lock_guard lock(mutex_);
    events_.insert(events_.begin(), std::make_move_iterator(events.begin()),
                   std::make_move_iterator(events.end()));
  }
  ready_.notify_one();
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

void Connection::SendText(std::u16string_view text) {
  {
    std::lock_guard lock(mutex_);
    if (closing_) return;
    control_.push_back(EncodeText(text));
  }
  wake_.notify_one();
}

void Connection::Send(const Message& message) {
  {
    std::lock_guard lock(mutex_);
    if (closing_) return;
    control_.push_back(EncodeMessage(message));
  }
  wake_.notify_one();
}

uint32_t Connection::SendFile(SharedFile& file, std::u16string name, std::string& why) {
  return Queue(OutgoingFile::FromOpen(file, std::move(name)), why);
}

uint32_t Connection::SendFile(const std::filesystem::path& path, std::string& why) {
  return Queue(OutgoingFile::Open(path, why), why);
}

uint32_t Connection::Queue(std::unique_ptr<OutgoingFile> file, std::string& why) {
  if (!file) return 0;
  uint32_t id;
  {
    std::lock_guard lock(mutex_);
    if (closing_) {
      why = "the conversation has ended";
      return 0;
    }
    id = nextId_++;
    sending_.insert(id);
    Outgoing out;
    out.id = id;
    out.file = std::move(file);
    outgoing_.push_back(std::move(out));
  }
  wake_.notify_one();
  return id;
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
    if (bye && !closing_) control_.push_back(EncodeMessage(ByeMessage()));
    closing_ = true;
    wake_.notify_one();
    // Give the writer a moment to send what is queued; a contact that
    // stopped reading must not hold the chat open.
    wake_.wait_for(lock, std::chrono::seconds(3), [&] { return writerDone_; });
  }
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
      if (!Write(bytes)) break;
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
      outgoing_.push_back(std::move(out));  // round robin with other transfers
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
  OutgoingFile& file = *out.file;
  std::string why;
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
      int expected = expectedFiles_.load();
      while (expected > 0 && !expectedFiles_.compare_exchange_weak(expected, expected - 1)) {
      }
      std::string openWhy;
      std::unique_ptr<IncomingFile> file;
      if (expected <= 0) {
        openWhy = "no file was requested";
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
        // A transfer that never began: the sender's host did not send the
        // file asked for, so it is no longer expected.
        int expected = expectedFiles_.load();
        while (expected > 0 && !expectedFiles_.compare_exchange_weak(expected, expected - 1)) {
        }
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
