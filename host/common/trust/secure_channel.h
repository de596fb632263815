// The protection between two plug-ins: a handshake that gives each session
// fresh keys, authenticated by both identity keys (identity.h), and the
// records that then carry requests, replies and file offers encrypted and
// authenticated. Bytes in, bytes out: the host carries each message as one
// text of its wire form, in order, and keeps one handshake and one session
// per contact.
//
// Every message starts with two bytes, the version (1) and the type:
//
//   HELLO   01 01 | E_i                                       34 bytes
//   REPLY   01 02 | E_r | seal(k_reply,  ad = H(T1))[ ID_r | S_r ]     146 bytes
//   FINISH  01 03 |       seal(k_finish, ad = H(T2))[ ID_i | S_i ]     114 bytes
//           [ | RECORD ]  (the initiator's first record may follow directly)
//   RECORD  01 04 | seal(k_dir, nonce = counter, ad = 01 04)[ kind | body ]
//                                                     19 bytes + body
//
//   E_i, E_r   the initiator's and the responder's ephemeral X25519 public
//              keys, 32 bytes each, fresh for every handshake
//   ID_i, ID_r their Ed25519 identity public keys, 32 bytes each
//   S_i, S_r   Ed25519 signatures, 64 bytes each
//   seal       ChaCha20-Poly1305 (IETF) of libsodium: the ciphertext is as
//              long as the plaintext, followed by a 16-byte tag
//   H          BLAKE2b-256 (crypto_generichash)
//
// The handshake follows the SIGMA-I pattern of IKEv2 and TLS 1.3: each
// side signs the transcript, and the seal's tag, under a key from the key
// agreement, is the MAC that binds its identity to this session. With T the
// transcript so far, the bytes exactly as sent:
//
//   T1 = "zuvo-trust-1" | HELLO | 01 02 | E_r
//   q  = X25519(e_r, E_i) = X25519(e_i, E_r); an all-zero q (a low-order
//        point) fails, and so does an E that equals one's own
//   k_reply, k_finish = KDF(BLAKE2b-256(key q, H(T1)), "zuvohs01", 1 and 2)
//   S_r = sign_r("zuvo-trust-1 responder" | H(T1 | ID_r))
//   T2 = T1 | ID_r | S_r
//   S_i = sign_i("zuvo-trust-1 initiator" | H(T2 | 01 03 | ID_i))
//   T3 = T2 | 01 03 | ID_i | S_i
//   k_i->r, k_r->i = KDF(BLAKE2b-256(key q, H(T3)), "zuvoss01", 1 and 2)
//
// KDF is libsodium's crypto_kdf_derive_from_key. The seals' nonces are 0
// (each handshake key seals once). What this gives:
// - Forward secrecy: the session keys come from the ephemeral keys alone,
//   which are wiped when the handshake ends; a stolen identity key signs
//   future handshakes but opens no past session.
// - Mutual authentication and transcript binding: each side signs the
//   transcript hash, both ephemeral keys and its own identity included, and
//   seals that under a key only the holders of the ephemeral secrets have
//   (the MAC); the initiator's transcript covers the responder's identity
//   and signature too. The role labels keep a signature from being replayed
//   in the other role; a reflected HELLO fails.
// - The identities travel sealed, so the servers see two random keys only.
// - The responder learns the initiator's identity in FINISH; the initiator
//   learns the responder's in REPLY, and is asked (Step::kPeer) before it
//   sends FINISH, so a contact whose key is not the pinned one gets nothing
//   from it, not even its identity.
//
// One round trip: HELLO out, REPLY back, then FINISH goes out with the
// first record behind it. The responder sends records after FINISH.
//
// Both sides starting at once (glare): a side that has sent HELLO and
// receives one compares the two ephemeral keys as bytes; the HELLO with the
// smaller key stands. Its sender ignores the other HELLO and waits for
// REPLY; the other side drops its own HELLO and answers. Both reach the same
// decision alone.
//
// Records. Each direction has its own key and a counter from 0, the nonce
// (8 bytes little-endian, then 4 zero bytes); it is not sent, so a record
// opens only as the very next one of its direction: a replayed, reordered,
// dropped, truncated or altered record, or one of another session, fails
// its tag. After a rejected record the session is closed, both ways, for
// good: the host starts a new handshake, and the peer's records in flight
// under the old keys are lost. The kind byte inside tells request, reply
// and file offer apart (RecordKind); a record of another kind is rejected.
//
// Decoding is strict: every message has its exact length (a record at least
// its overhead and at most kMaxRecordBytes), the right version and a type
// that fits the state; nothing is allocated beyond the message's own size.
// A message of another version is kVersion (the contact's plug-in speaks
// another version of this protection).
//
// For the host:
// - Records must reach Open in the order they were sealed. Both networks
//   keep the order of one sender's messages, so seal a record when its text
//   is queued and send each text's pieces before the next text's; a text
//   that overtakes another closes the session.
// - Answering a HELLO costs an X25519 and a signature (about 0.1 ms) and
//   shows this side's identity key (a public key) to whoever sent it:
//   answer HELLOs only where the request gate would answer, within its rate.
// - Keep a session until a new handshake with the contact is accepted; a
//   HELLO over an open session starts a new handshake (a fresh Handshake),
//   it does not end the session.
// - One handshake per contact at a time; a message that does not fit ends
//   it (kFailed), and the next request starts another.
//
// Usage (one contact; `send` carries bytes to the contact's plug-in, `pins`
// is the PinStore, error handling abridged):
//
//   Handshake hs(identity);                          // ann, before her first request
//   send(hs.Start());                                // HELLO
//
//   // Each message from the contact:
//   if (PeekType(received) == MessageType::kRecord) {
//     Session::Opened opened;
//     if (session.Open(received, opened) == Error::kNone) handle(opened.kind, opened.body);
//     // else: the session is closed; the next request starts a new handshake
//   } else {                                         // HELLO, REPLY, FINISH
//     Handshake::Step step = hs.Receive(received);   // bob: a new Handshake for a HELLO
//     if (step.kind == Handshake::Step::kSend) send(step.send);
//     if (step.kind == Handshake::Step::kPeer) {
//       const Presented pin = pins.Present(account, contact, step.peer, now);
//       if (pin.verdict == Verdict::kNew || pin.verdict == Verdict::kSame) {
//         Handshake::Established done = hs.Accept(RecordKind::kRequest, request);  // ann
//         send(done.send);                           // FINISH with the request behind it
//         session = std::move(done.session);         // bob: Accept(), then done.first
//       }  // kChanged: drop hs and tell the user once, with pin.pin.firstSeen
//     }
//   }
//   send(session.Seal(RecordKind::kReply, replyBytes));   // bob's answer
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "host/common/trust/identity.h"

namespace zuvo::trust {

inline constexpr uint8_t kProtocolVersion = 1;

enum class MessageType : uint8_t {
  kHello = 1,
  kReply = 2,
  kFinish = 3,
  kRecord = 4,
  kNone = 0,  // shorter than two bytes, another version or an unknown type
};

// What the record's body is; the body itself is the host's.
enum class RecordKind : uint8_t {
  kRequest = 1,    // a request text
  kReply = 2,      // a reply text
  kFileOffer = 3,  // a file's size and SHA-256 before it is sent (file_digest.h)
  kNotice = 4,     // a notice from one host to the other (host_notice.h)
};

inline constexpr size_t kHelloBytes = 34;
inline constexpr size_t kReplyBytes = 146;
inline constexpr size_t kFinishBytes = 114;
inline constexpr size_t kRecordOverhead = 19;  // header, kind and tag
// The largest record opened (body up to 16 MiB); longer ones are refused
// before anything is allocated.
inline constexpr size_t kMaxRecordBytes = kRecordOverhead + (16u << 20);

enum class Error {
  kNone,
  kMalformed,     // wrong length or an unknown record kind
  kVersion,       // another version of this protection
  kUnexpected,    // a message that does not fit the handshake's state
  kUnsafeKey,     // an ephemeral key of low order, or one's own reflected
  kNotAuthentic,  // a seal or signature that does not verify
  kTooLarge,      // a record over kMaxRecordBytes
  kClosed,        // the session was closed by an earlier rejected record
};

// The type of a received message, for routing: records to the session,
// the others to the handshake. kNone for anything else (Receive and Open
// then say why).
MessageType PeekType(std::string_view message);

class Session {
 public:
  struct Opened {
    RecordKind kind = RecordKind::kRequest;
    std::string body;
  };

  Session() = default;  // closed
  ~Session();
  Session(Session&& other) noexcept;
  Session& operator=(Session&& other) noexcept;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  bool open() const { return open_; }
  // The contact's identity key, proved by the handshake.
  const PublicKey& peer() const { return peer_; }

  // The record carrying |body|; empty when the session is closed or the
  // body is longer than kMaxRecordBytes allows.
  std::string Seal(RecordKind kind, std::string_view body);
  // Opens the next record from the peer. Any error closes the session.
  Error Open(std::string_view record, Opened& opened);

 private:
  friend class Handshake;
  using Key = std::array<uint8_t, 32>;
  Session(const Key& send, const Key& receive, const PublicKey& peer);
  void Close();

  Key sendKey_{};
  Key receiveKey_{};
  uint64_t sent_ = 0;
  uint64_t received_ = 0;
  PublicKey peer_{};
  bool open_ = false;
};

class Handshake {
 public:
  struct Step {
    enum Kind {
      kSend,    // send |send| and wait for the next message
      kWait,    // nothing to do (glare: this side's HELLO stands)
      kPeer,    // the peer proved it holds |peer|: check it, then Accept() or drop
      kFailed,  // |error|: this handshake is over
    };
    Kind kind = kWait;
    std::string send;
    PublicKey peer{};
    Error error = Error::kNone;
  };

  struct Established {
    Session session;   // closed when Accept came at the wrong time
    std::string send;  // the initiator's FINISH (and first record): send it
    // The responder: the record that came with FINISH, if one did; a
    // rejected one closed |session| (firstError).
    std::optional<Session::Opened> first;
    Error firstError = Error::kNone;
  };

  explicit Handshake(const Identity& me, Random random = SystemRandom());
  ~Handshake();
  Handshake(const Handshake&) = delete;
  Handshake& operator=(const Handshake&) = delete;

  // Begins as the initiator: the HELLO to send. Only on a new handshake.
  std::string Start();
  // A HELLO (on a new handshake, in glare, or a peer starting over after
  // this side's REPLY), a REPLY after Start, a FINISH after REPLY.
  Step Receive(std::string_view message);
  // After kPeer, once the host has accepted the peer's key. The initiator
  // may give the first record, which rides with FINISH.
  Established Accept();
  Established Accept(RecordKind kind, std::string_view body);

 private:
  enum class State { kNew, kSentHello, kSentReply, kPeerFromReply, kPeerFromFinish, kOver };
  using Key = std::array<uint8_t, 32>;

  // Ends the handshake and wipes its secrets.
  void End();
  Step Fail(Error error);
  Step Answer(std::string_view hello);
  Step ReadReply(std::string_view reply);
  Step ReadFinish(std::string_view finish);
  Established Complete(std::optional<RecordKind> kind, std::string_view body);
  bool AgreeOn(const uint8_t* peerEphemeral);
  void SessionKeys(Key& initiatorToResponder, Key& responderToInitiator) const;

  Identity me_;
  Random random_;
  State state_ = State::kNew;
  Key ephemeralSecret_{};
  PublicKey ephemeral_{};
  Key shared_{};
  Key replyKey_{};
  Key finishKey_{};
  std::string transcript_;
  PublicKey peer_{};
  std::string pendingRecord_;  // the responder: what followed FINISH
};

}  // namespace zuvo::trust
