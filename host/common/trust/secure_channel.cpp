// The handshake and the records, in the order secure_channel.h states them.
#include "host/common/trust/secure_channel.h"

#include <cstring>
#include <limits>

#include "host/common/trust/sodium_ready.h"

namespace zuvo::trust {
namespace {

constexpr std::string_view kTranscriptLabel = "zuvo-trust-1";
constexpr std::string_view kResponderLabel = "zuvo-trust-1 responder";
constexpr std::string_view kInitiatorLabel = "zuvo-trust-1 initiator";
constexpr char kHandshakeContext[crypto_kdf_CONTEXTBYTES + 1] = "zuvohs01";
constexpr char kSessionContext[crypto_kdf_CONTEXTBYTES + 1] = "zuvoss01";

constexpr size_t kHeaderBytes = 2;
constexpr size_t kTagBytes = crypto_aead_chacha20poly1305_ietf_ABYTES;
// What REPLY and FINISH seal: an identity key and a signature.
constexpr size_t kProofBytes = kKeyBytes + kSignatureBytes;

static_assert(kHelloBytes == kHeaderBytes + kKeyBytes);
static_assert(kReplyBytes == kHeaderBytes + kKeyBytes + kProofBytes + kTagBytes);
static_assert(kFinishBytes == kHeaderBytes + kProofBytes + kTagBytes);
static_assert(kRecordOverhead == kHeaderBytes + 1 + kTagBytes);

using Key = std::array<uint8_t, 32>;
using Hash = std::array<uint8_t, 32>;

const uint8_t* Bytes(std::string_view s) { return reinterpret_cast<const uint8_t*>(s.data()); }

std::string_view View(const uint8_t* bytes, size_t size) {
  return {reinterpret_cast<const char*>(bytes), size};
}

std::string Header(MessageType type) {
  return {static_cast<char>(kProtocolVersion), static_cast<char>(type)};
}

Hash HashOf(std::string_view bytes) {
  Hash out;
  crypto_generichash(out.data(), out.size(), Bytes(bytes), bytes.size(), nullptr, 0);
  return out;
}

// What a side signs: its role's label and the hash of the transcript that
// ends with its own identity key.
std::string SignedText(std::string_view label, const std::string& transcript,
                       std::string_view header, const PublicKey& identity) {
  const Hash hash = HashOf(transcript + std::string(header) +
                           std::string(View(identity.data(), identity.size())));
  return std::string(label) + std::string(View(hash.data(), hash.size()));
}

// Two keys from the shared secret and the transcript so far.
void DeriveKeys(const Key& shared, std::string_view transcript, const char* context, Key& one,
                Key& two) {
  const Hash hash = HashOf(transcript);
  Key master;
  crypto_generichash(master.data(), master.size(), hash.data(), hash.size(), shared.data(),
                     shared.size());
  crypto_kdf_derive_from_key(one.data(), one.size(), 1, context, master.data());
  crypto_kdf_derive_from_key(two.data(), two.size(), 2, context, master.data());
  sodium_memzero(master.data(), master.size());
}

void Nonce(uint64_t counter, uint8_t (&nonce)[crypto_aead_chacha20poly1305_ietf_NPUBBYTES]) {
  std::memset(nonce, 0, sizeof nonce);
  for (size_t i = 0; i < 8; ++i) nonce[i] = static_cast<uint8_t>(counter >> (8 * i));
}

// Appends |plain| sealed under |key|, |counter| and |ad| to |out|.
void SealInto(std::string& out, const Key& key, uint64_t counter, std::string_view ad,
              std::string_view plain) {
  uint8_t nonce[crypto_aead_chacha20poly1305_ietf_NPUBBYTES];
  Nonce(counter, nonce);
  const size_t at = out.size();
  out.resize(at + plain.size() + kTagBytes);
  unsigned long long length = 0;
  crypto_aead_chacha20poly1305_ietf_encrypt(reinterpret_cast<uint8_t*>(out.data() + at), &length,
                                            Bytes(plain), plain.size(), Bytes(ad), ad.size(),
                                            nullptr, nonce, key.data());
}

// False when |sealed| does not open under |key|, |counter| and |ad|.
bool OpenBytes(const Key& key, uint64_t counter, std::string_view ad, std::string_view sealed,
               std::string& plain) {
  if (sealed.size() < kTagBytes) return false;
  uint8_t nonce[crypto_aead_chacha20poly1305_ietf_NPUBBYTES];
  Nonce(counter, nonce);
  plain.assign(sealed.size() - kTagBytes, '\0');
  unsigned long long length = 0;
  return crypto_aead_chacha20poly1305_ietf_decrypt(reinterpret_cast<uint8_t*>(plain.data()),
                                                   &length, nullptr, Bytes(sealed), sealed.size(),
                                                   Bytes(ad), ad.size(), nonce, key.data()) == 0;
}

// An identity key and its signature, sealed in REPLY and FINISH.
std::string Proof(const PublicKey& identity, const Signature& signature) {
  return std::string(View(identity.data(), identity.size())) +
         std::string(View(signature.data(), signature.size()));
}

void ReadProof(std::string_view plain, PublicKey& identity, Signature& signature) {
  std::memcpy(identity.data(), plain.data(), identity.size());
  std::memcpy(signature.data(), plain.data() + identity.size(), signature.size());
}

template <typename Array>
void Wipe(Array& a) {
  sodium_memzero(a.data(), a.size());
}

}  // namespace

MessageType PeekType(std::string_view message) {
  if (message.size() < kHeaderBytes || static_cast<uint8_t>(message[0]) != kProtocolVersion) {
    return MessageType::kNone;
  }
  const uint8_t type = static_cast<uint8_t>(message[1]);
  if (type < static_cast<uint8_t>(MessageType::kHello) ||
      type > static_cast<uint8_t>(MessageType::kRecord)) {
    return MessageType::kNone;
  }
  return static_cast<MessageType>(type);
}

// ---- Session ---------------------------------------------------------------

Session::Session(const Key& send, const Key& receive, const PublicKey& peer)
    : sendKey_(send), receiveKey_(receive), peer_(peer), open_(true) {}

Session::~Session() { Close(); }

Session::Session(Session&& other) noexcept { *this = std::move(other); }

Session& Session::operator=(Session&& other) noexcept {
  if (this != &other) {
    sendKey_ = other.sendKey_;
    receiveKey_ = other.receiveKey_;
    sent_ = other.sent_;
    received_ = other.received_;
    peer_ = other.peer_;
    open_ = other.open_;
    other.Close();
  }
  return *this;
}

void Session::Close() {
  Wipe(sendKey_);
  Wipe(receiveKey_);
  open_ = false;
}

std::string Session::Seal(RecordKind kind, std::string_view body) {
  if (!open_ || body.size() > kMaxRecordBytes - kRecordOverhead) return {};
  if (sent_ == std::numeric_limits<uint64_t>::max()) {
    Close();
    return {};
  }
  const std::string header = Header(MessageType::kRecord);
  std::string plain;
  plain.reserve(1 + body.size());
  plain.push_back(static_cast<char>(kind));
  plain.append(body);
  std::string out = header;
  SealInto(out, sendKey_, sent_++, header, plain);
  sodium_memzero(plain.data(), plain.size());
  return out;
}

Error Session::Open(std::string_view record, Opened& opened) {
  if (!open_) return Error::kClosed;
  Error error = Error::kNone;
  std::string plain;
  if (record.size() > kMaxRecordBytes) {
    error = Error::kTooLarge;
  } else if (record.size() < kHeaderBytes || static_cast<uint8_t>(record[0]) != kProtocolVersion) {
    error = record.size() < kHeaderBytes ? Error::kMalformed : Error::kVersion;
  } else if (PeekType(record) != MessageType::kRecord || record.size() < kRecordOverhead) {
    error = Error::kMalformed;
  } else if (received_ == std::numeric_limits<uint64_t>::max() ||
             !OpenBytes(receiveKey_, received_, record.substr(0, kHeaderBytes),
                        record.substr(kHeaderBytes), plain)) {
    error = Error::kNotAuthentic;
  } else {
    const uint8_t kind = static_cast<uint8_t>(plain[0]);
    if (kind < static_cast<uint8_t>(RecordKind::kRequest) ||
        kind > static_cast<uint8_t>(RecordKind::kNotice)) {
      error = Error::kMalformed;
    } else {
      ++received_;
      opened.kind = static_cast<RecordKind>(kind);
      opened.body.assign(plain, 1);
    }
  }
  sodium_memzero(plain.data(), plain.size());
  if (error != Error::kNone) Close();
  return error;
}

// ---- Handshake -------------------------------------------------------------

Handshake::Handshake(const Identity& me, Random random) : me_(me), random_(std::move(random)) {
  RequireSodium();
}

Handshake::~Handshake() { End(); }

std::string Handshake::Start() {
  if (state_ != State::kNew) return {};
  random_(ephemeralSecret_.data(), ephemeralSecret_.size());
  crypto_scalarmult_base(ephemeral_.data(), ephemeralSecret_.data());
  std::string hello = Header(MessageType::kHello);
  hello.append(View(ephemeral_.data(), ephemeral_.size()));
  transcript_ = std::string(kTranscriptLabel) + hello;
  state_ = State::kSentHello;
  return hello;
}

void Handshake::End() {
  state_ = State::kOver;
  Wipe(ephemeralSecret_);
  Wipe(shared_);
  Wipe(replyKey_);
  Wipe(finishKey_);
}

Handshake::Step Handshake::Fail(Error error) {
  End();
  Step step;
  step.kind = Step::kFailed;
  step.error = error;
  return step;
}

Handshake::Step Handshake::Receive(std::string_view message) {
  if (state_ == State::kOver || state_ == State::kPeerFromReply ||
      state_ == State::kPeerFromFinish) {
    return Fail(Error::kUnexpected);
  }
  if (message.size() < kHeaderBytes) return Fail(Error::kMalformed);
  if (static_cast<uint8_t>(message[0]) != kProtocolVersion) return Fail(Error::kVersion);
  switch (PeekType(message)) {
    case MessageType::kHello:
      if (message.size() != kHelloBytes) return Fail(Error::kMalformed);
      if (state_ == State::kSentHello) {
        const int order = std::memcmp(ephemeral_.data(), message.data() + kHeaderBytes, kKeyBytes);
        if (order == 0) return Fail(Error::kUnsafeKey);
        // Glare: the HELLO with the smaller key stands.
        if (order < 0) return Step{};
      }
      // New, the other side's HELLO stands, or the peer starts over.
      return Answer(message);
    case MessageType::kReply:
      if (state_ != State::kSentHello) return Fail(Error::kUnexpected);
      if (message.size() != kReplyBytes) return Fail(Error::kMalformed);
      return ReadReply(message);
    case MessageType::kFinish:
      if (state_ != State::kSentReply) return Fail(Error::kUnexpected);
      return ReadFinish(message);
    case MessageType::kRecord:
      return Fail(Error::kUnexpected);
    case MessageType::kNone:
      break;
  }
  return Fail(Error::kMalformed);
}

bool Handshake::AgreeOn(const uint8_t* peerEphemeral) {
  if (std::memcmp(peerEphemeral, ephemeral_.data(), kKeyBytes) == 0) return false;
  return crypto_scalarmult(shared_.data(), ephemeralSecret_.data(), peerEphemeral) == 0;
}

Handshake::Step Handshake::Answer(std::string_view hello) {
  random_(ephemeralSecret_.data(), ephemeralSecret_.size());
  crypto_scalarmult_base(ephemeral_.data(), ephemeralSecret_.data());
  if (!AgreeOn(Bytes(hello) + kHeaderBytes)) return Fail(Error::kUnsafeKey);
  std::string reply = Header(MessageType::kReply);
  reply.append(View(ephemeral_.data(), ephemeral_.size()));
  transcript_ = std::string(kTranscriptLabel) + std::string(hello) + reply;
  DeriveKeys(shared_, transcript_, kHandshakeContext, replyKey_, finishKey_);
  const Hash t1 = HashOf(transcript_);
  const Signature signature =
      me_.Sign(SignedText(kResponderLabel, transcript_, {}, me_.publicKey()));
  const std::string proof = Proof(me_.publicKey(), signature);
  SealInto(reply, replyKey_, 0, View(t1.data(), t1.size()), proof);
  transcript_ += proof;
  state_ = State::kSentReply;
  Step step;
  step.kind = Step::kSend;
  step.send = std::move(reply);
  return step;
}

Handshake::Step Handshake::ReadReply(std::string_view reply) {
  const uint8_t* peerEphemeral = Bytes(reply) + kHeaderBytes;
  if (!AgreeOn(peerEphemeral)) return Fail(Error::kUnsafeKey);
  transcript_.append(reply.substr(0, kHeaderBytes + kKeyBytes));
  DeriveKeys(shared_, transcript_, kHandshakeContext, replyKey_, finishKey_);
  const Hash t1 = HashOf(transcript_);
  std::string plain;
  if (!OpenBytes(replyKey_, 0, View(t1.data(), t1.size()), reply.substr(kHeaderBytes + kKeyBytes),
                 plain)) {
    return Fail(Error::kNotAuthentic);
  }
  PublicKey identity;
  Signature signature;
  ReadProof(plain, identity, signature);
  if (!VerifySignature(identity, SignedText(kResponderLabel, transcript_, {}, identity),
                       signature)) {
    return Fail(Error::kNotAuthentic);
  }
  transcript_ += plain;
  peer_ = identity;
  state_ = State::kPeerFromReply;
  Step step;
  step.kind = Step::kPeer;
  step.peer = identity;
  return step;
}

Handshake::Step Handshake::ReadFinish(std::string_view finish) {
  if (finish.size() < kFinishBytes) return Fail(Error::kMalformed);
  const std::string_view trailing = finish.substr(kFinishBytes);
  if (!trailing.empty() &&
      (PeekType(trailing) != MessageType::kRecord || trailing.size() < kRecordOverhead ||
       trailing.size() > kMaxRecordBytes)) {
    return Fail(Error::kMalformed);
  }
  const Hash t2 = HashOf(transcript_);
  std::string plain;
  if (!OpenBytes(finishKey_, 0, View(t2.data(), t2.size()),
                 finish.substr(kHeaderBytes, kFinishBytes - kHeaderBytes), plain)) {
    return Fail(Error::kNotAuthentic);
  }
  PublicKey identity;
  Signature signature;
  ReadProof(plain, identity, signature);
  const std::string header = Header(MessageType::kFinish);
  if (!VerifySignature(identity, SignedText(kInitiatorLabel, transcript_, header, identity),
                       signature)) {
    return Fail(Error::kNotAuthentic);
  }
  transcript_ += header + plain;
  peer_ = identity;
  pendingRecord_.assign(trailing);
  state_ = State::kPeerFromFinish;
  Step step;
  step.kind = Step::kPeer;
  step.peer = identity;
  return step;
}

void Handshake::SessionKeys(Key& initiatorToResponder, Key& responderToInitiator) const {
  DeriveKeys(shared_, transcript_, kSessionContext, initiatorToResponder, responderToInitiator);
}

Handshake::Established Handshake::Accept() { return Complete(std::nullopt, {}); }

Handshake::Established Handshake::Accept(RecordKind kind, std::string_view body) {
  return Complete(kind, body);
}

Handshake::Established Handshake::Complete(std::optional<RecordKind> kind, std::string_view body) {
  Established done;
  const State state = state_;
  if (state != State::kPeerFromReply && state != State::kPeerFromFinish) {
    End();
    return done;
  }
  if (state == State::kPeerFromReply) {
    // The initiator proves its identity in FINISH.
    const std::string header = Header(MessageType::kFinish);
    const Hash t2 = HashOf(transcript_);
    const Signature signature =
        me_.Sign(SignedText(kInitiatorLabel, transcript_, header, me_.publicKey()));
    const std::string proof = Proof(me_.publicKey(), signature);
    done.send = header;
    SealInto(done.send, finishKey_, 0, View(t2.data(), t2.size()), proof);
    transcript_ += header + proof;
  }
  Key initiatorToResponder, responderToInitiator;
  SessionKeys(initiatorToResponder, responderToInitiator);
  done.session = state == State::kPeerFromReply
                     ? Session(initiatorToResponder, responderToInitiator, peer_)
                     : Session(responderToInitiator, initiatorToResponder, peer_);
  Wipe(initiatorToResponder);
  Wipe(responderToInitiator);
  End();
  if (!pendingRecord_.empty()) {
    Session::Opened opened;
    done.firstError = done.session.Open(pendingRecord_, opened);
    if (done.firstError == Error::kNone) done.first = std::move(opened);
    pendingRecord_.clear();
  }
  if (kind) done.send += done.session.Seal(*kind, body);
  return done;
}

}  // namespace zuvo::trust
