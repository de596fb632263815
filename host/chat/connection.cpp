#include "host/chat/connection.h"

#include <algorithm>
#include <vector>

#include "base/text.h"
#include "host/chat/progress.h"
#include "host/common/drop_file.h"

namespace zuvo::chat {
namespace {

constexpr size_t kReadBuffer = 256 * 1024;

std::u16string Words(const HostError& error) { return Utf8ToUtf16(Describe(error)); }

}  // namespace

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

// ---- Sending ------------------------------------------------------------

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

uint32_t Connection::SendSharedFile(std::u16string path, std::u16string sharedFolder,
                                    std::u16string name, HostError& error) {
  Outgoing out;
  out.name = name;
  out.open = [path = std::move(path), share = std::move(sharedFolder),
              name = std::move(name)](HostError& openError) -> std::unique_ptr<OutgoingFile> {
    SharedFile file;
    openError = OpenInsideSharedFolder(path, share, file);
    if (openError.failed()) return nullptr;
    return OutgoingFile::FromOpen(file, name);
  };
  uint32_t id;
  {
    std::lock_guard lock(mutex_);
    if (closing_) {
      error = Failure(HostErrorKind::kEnded);
      return 0;
    }
    if (outgoing_.size() >= kMaxOpenOutgoing + kMaxWaitingFiles) {
      error = Failure(HostErrorKind::kTooMany, "files are waiting to be sent");
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
  // Nothing more goes out: what still waits is dropped, so that neither the
  // host (holding the contact's messages while the output is full) nor the
  // reader waits for output that will never drain.
  control_.clear();
  unsent_ = 0;
  wake_.notify_all();
  drained_.notify_all();
}

bool Connection::FailTransfer(Outgoing& out, const HostError& error) {
  out.failed = true;
  Post(Event::Failed(Event::Type::kOutgoingFailed, out.id, out.name, error));
  const std::u16string reason = out.file
                                    ? Ascii("could not send ") + out.name + u": " + Words(error)
                                    : u"the file was not sent: " + Words(error);
  Write(EncodeMessage(AbortMessage(out.id, reason)));
  return false;
}

bool Connection::TransferStep(Outgoing& out) {
  HostError error;
  if (!out.file) {
    out.file = out.open(error);
    out.open = nullptr;
    if (!out.file) return FailTransfer(out, error);
    out.name = out.file->name();
  }
  OutgoingFile& file = *out.file;
  if (!out.hashed) {
    bool done = false;
    if ((error = file.HashStep(done)).failed()) return FailTransfer(out, error);
    out.hashed = done;
    return true;
  }
  if (!out.offered) {
    if (!Write(EncodeMessage(OfferMessage(out.id, file.size(), file.sha256(), file.name())))) {
      return false;
    }
    out.offered = true;
    Post(Event::Transfer(Event::Type::kOutgoingStarted, out.id, file.name(), 0, file.size()));
    return true;
  }
  std::string piece;
  if ((error = file.ReadPiece(piece)).failed()) return FailTransfer(out, error);
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
  Post(Event::Transfer(type, id, name, done, total));
}

// ---- Ending -------------------------------------------------------------

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
  stopping_ = true;  // a reader waiting for room or for a verdict gives up
  socket_->Shutdown();
  writer_.join();
  reader_.join();
}

// ---- Receiving ----------------------------------------------------------

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
  DiscardIncoming();
  Post(Event::Closed(byeReceived_.load(), why));
}

void Connection::DiscardIncoming() {
  for (auto& [id, in] : incoming_) {
    const std::string cut = "the connection ended after " + std::to_string(in.file->received()) +
                            " of " + std::to_string(in.file->size()) + " bytes";
    in.file->Discard();
    Post(Event::Failed(Event::Type::kIncomingDone, id, in.file->name(),
                       Failure(HostErrorKind::kEnded, cut)));
  }
  incoming_.clear();
}

bool Connection::OnMessage(Message& m, std::string& why) {
  switch (m.kind) {
    case Kind::kHello:
    case Kind::kNotice:
      Post(Event::Arrived(std::move(m)));
      return true;
    case Kind::kBye:
      byeReceived_ = true;
      Post(Event::Arrived(std::move(m)));
      return true;
    case Kind::kTextPart:
    case Kind::kText:
      OnText(m);
      return true;
    case Kind::kFileOffer:
      return OnOffer(m, why);
    case Kind::kFileData:
    case Kind::kFileEnd:
      OnData(m);
      return true;
    case Kind::kFileAbort:
      OnAbort(m);
      return true;
    case Kind::kFileResult:
      OnResult(m);
      return true;
  }
  why = "protocol error: unexpected message";
  return false;
}

void Connection::OnText(Message& m) {
  if (!textTooLong_ && textPieces_.size() + m.text.size() <= kMaxTextUnits) {
    textPieces_ += m.text;
  } else {
    textTooLong_ = true;
    textPieces_.clear();
  }
  if (m.kind == Kind::kTextPart) return;
  if (textTooLong_) {
    // Too long to keep: the text is dropped and the user told so.
    Post(Event::Failed(
        Event::Type::kIncomingRefused, 0, u"",
        Failure(HostErrorKind::kBadTransfer, "a text longer than " + std::to_string(kMaxTextUnits) +
                                                 " characters was dropped")));
  } else {
    m.text = std::move(textPieces_);
    Post(Event::Arrived(std::move(m)));
  }
  textPieces_.clear();
  textTooLong_ = false;
}

bool Connection::OnOffer(const Message& m, std::string& why) {
  if (incoming_.count(m.id)) {
    why = "protocol error: a second offer for transfer " + std::to_string(m.id);
    return false;
  }
  HostError error;
  std::unique_ptr<IncomingFile> file;
  if (incoming_.size() >= kMaxIncoming) {
    error = Failure(HostErrorKind::kTooMany, "files at once");
  } else {
    {
      std::lock_guard lock(verdictMutex_);
      awaitedOffer_ = m.id;
      verdict_.reset();
    }
    Post(Event::FileOffered(m.id, m.text, m.size));
    const std::optional<HostError> verdict = AwaitVerdict(m.id);
    if (!verdict) {
      why = "the conversation has ended";
      return false;
    }
    error = *verdict;
    if (!error.failed()) {
      file = IncomingFile::Open(downloads_, m.text, {m.size, m.sha256}, error);
    }
  }
  if (!file) {
    Send(AbortMessage(m.id, u"refused: " + Words(error)));
    Post(Event::Failed(Event::Type::kIncomingRefused, m.id, m.text, error));
    return true;
  }
  Post(Event::Transfer(Event::Type::kIncomingStarted, m.id, file->name(), 0, file->size()));
  incoming_[m.id].file = std::move(file);
  return true;
}

void Connection::Decide(uint32_t id, const HostError& verdict) {
  {
    std::lock_guard lock(verdictMutex_);
    if (id != awaitedOffer_) return;
    verdict_ = verdict;
  }
  verdictReady_.notify_all();
}

std::optional<HostError> Connection::AwaitVerdict(uint32_t id) {
  std::unique_lock lock(verdictMutex_);
  while (!verdict_) {
    if (stopping_.load()) return std::nullopt;
    // |stopping_| has no way to wake this wait: look again now and then.
    verdictReady_.wait_for(lock, std::chrono::milliseconds(50));
  }
  std::optional<HostError> verdict = std::exchange(verdict_, std::nullopt);
  if (awaitedOffer_ == id) awaitedOffer_ = 0;
  return verdict;
}

void Connection::OnData(const Message& m) {
  auto it = incoming_.find(m.id);
  // Data still in flight after this side stopped a transfer.
  if (it == incoming_.end()) return;
  IncomingFile& file = *it->second.file;
  HostError error;
  if (m.kind == Kind::kFileData) {
    error = file.Write(m.data);
    if (!error.failed()) {
      PostProgress(Event::Type::kIncomingProgress, m.id, file.name(), file.received(), file.size(),
                   it->second.percent);
      return;
    }
    // Mid-stream the sender has to stop at once.
    Send(AbortMessage(m.id, Words(error)));
  } else {
    error = file.Finish();
    // After the end the sender waits for the verdict.
    Send(error.failed() ? ResultMessage(m.id, false, Words(error))
                        : ResultMessage(m.id, true, u"stored and verified"));
  }
  if (error.failed()) {
    file.Discard();
    Post(Event::Failed(Event::Type::kIncomingDone, m.id, file.name(), error));
  } else {
    Post(Event::IncomingDone(m.id, file.name(), file.received(), file.size(), file.finalPath()));
  }
  incoming_.erase(it);
}

void Connection::OnAbort(const Message& m) {
  auto in = incoming_.find(m.id);
  if (in != incoming_.end()) {
    // The sender stopped its transfer to us.
    in->second.file->Discard();
    Post(Event::Failed(
        Event::Type::kIncomingDone, m.id, in->second.file->name(),
        Failure(HostErrorKind::kBadTransfer, "the sender stopped: " + Utf16ToUtf8(m.text))));
    incoming_.erase(in);
    return;
  }
  bool ours = false;
  {
    std::lock_guard lock(mutex_);
    ours = sending_.erase(m.id) > 0;
    if (ours) cancelled_.insert(m.id);
  }
  if (ours) {
    // The receiver stopped our transfer.
    Post(Event::OutgoingResult(m.id, false, m.text));
  } else {
    // A transfer that never began: the sender's host did not send a file.
    // Which one it does not say; a request it had accepted stays open until
    // its time is up.
    Post(Event::Failed(Event::Type::kIncomingDone, m.id, u"",
                       Failure(HostErrorKind::kBadTransfer, Utf16ToUtf8(m.text))));
  }
}

void Connection::OnResult(const Message& m) {
  {
    std::lock_guard lock(mutex_);
    sending_.erase(m.id);
  }
  Post(Event::OutgoingResult(m.id, m.ok, m.text));
}

}  // namespace zuvo::chat
