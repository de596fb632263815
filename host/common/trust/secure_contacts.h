// The protection as a host uses it: one identity for this installation,
// the contacts' pinned keys, and per contact (an account and a contact
// name, as the host forms them) a handshake and a session. Plain data in
// and out, no transport: the host carries each Message to the contact's
// plug-in as one frame (a handshake message or a record) and hands every
// such frame it hears to Receive, in order.
//
// The rules, in the order they apply:
//
// - Start. The identity is read from "<folder>/zuvo-identity.key", or made
//   there on first use; the pins live in "<folder>/zuvo-pins.txt". A key
//   file that cannot be read (or a broken pin file) is reported once
//   (problem()) and nothing is exchanged until it is mended.
// - Sending a text (a request, a reply, or the reply that offers a file
//   with its size and SHA-256). With an open session it goes out at once as
//   a record. Without one it waits, and a handshake starts (HELLO) unless
//   one is under way; a handshake that has had no answer for
//   kHandshakeTimeout is given up, with its waiting texts, when the next
//   text is sent. At most Limits::maxWaiting texts of at most
//   Limits::maxWaitingBytes in all wait per contact; a text beyond them is
//   refused (kQueueFull), never an older one dropped.
// - The contact's key. When a handshake proves the contact's identity key
//   it is judged against the pins: a new contact's key is pinned (trust on
//   first use), the pinned key goes on. Another key is a changed key: the
//   handshake is dropped with the texts waiting, and the user is told once
//   (the line below) until they accept the new key (Trust); meanwhile
//   nothing of that contact is answered or shown, and nothing is sent to
//   it. Its handshakes are still answered: one that proves the pinned key
//   again (the name's owner is back) ends the change. A pin store that
//   cannot answer (broken file) trusts no one.
// - Receiving. A HELLO is answered only when the host says the contact may
//   ask (answerHello), at most kHellosAtOnce at once and then one every
//   kHelloInterval per contact: answering costs a key agreement and a
//   signature. A record opens only as the next one of the session; one
//   that does not (replayed, reordered, cut, altered, of another session)
//   closes the session, and the next text sent starts a new handshake. A
//   record from a contact without a session (this side restarted, or the
//   session was closed) starts a handshake. The requests a side sealed
//   since the contact's last record (at most Limits::maxWaiting) are sent
//   again when a handshake with the contact's proven key replaces the
//   session: a contact that restarted still gets them.
// - Bounds. At most Limits::maxContacts contacts are held; the one idle
//   longest (no handshake, nothing waiting first) is forgotten to make
//   room, which costs it no more than a new handshake.
//
// What a record carries (a text, however the host encodes it) is the
// host's; a file offer adds the file's facts before it (file_digest.h).
// The lines for the user are UTF-8 and name the contact by the |name| the
// host gives (already made safe to show).
//
//   SecureContacts secure(configFolder);
//   if (!secure.problem().empty()) show(secure.problem());
//   auto out = secure.Send(bob, RecordKind::kRequest, requestBytes, now);
//   for (auto& m : out.send) transport.Send(bob, m.handshake ? kHandshake : kRecord, m.bytes);
//   // Each frame of kind handshake or record from bob:
//   auto in = secure.Receive(bob, bytes, buddy, now);
//   send(in.send); show(in.line); for (auto& t : in.opened) handle(t);
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/common/trust/file_digest.h"
#include "host/common/trust/identity.h"
#include "host/common/trust/pin_store.h"
#include "host/common/trust/secure_channel.h"

namespace zuvo::trust {

inline constexpr char kPinsFileName[] = "zuvo-pins.txt";

// One contact of one account.
struct ContactId {
  std::string account;  // as the host names it (protocol and address)
  std::string contact;  // the contact's normalised name
  std::string name;     // as the user reads it in lines
};

class SecureContacts {
 public:
  using Time = std::chrono::system_clock::time_point;

  static constexpr std::chrono::seconds kHandshakeTimeout{60};
  static constexpr int kHellosAtOnce = 4;
  static constexpr std::chrono::seconds kHelloInterval{15};

  struct Limits {
    size_t maxWaiting = 16;  // texts waiting for a handshake, per contact
    size_t maxWaitingBytes = size_t{1} << 20;
    size_t maxContacts = 1024;
    // The most one handshake message may hold: the first text rides with
    // FINISH when it fits, else it follows as a record.
    size_t maxHandshakeBytes = 4096;
  };

  // One message for the contact's plug-in, in the order given.
  struct Message {
    bool handshake = false;  // a handshake message; else a record
    std::string bytes;
  };

  // What the contact's plug-in sent, opened.
  struct Opened {
    RecordKind kind = RecordKind::kRequest;
    std::string body;                // a file offer's: what followed the facts
    std::optional<FileFacts> facts;  // a file offer's size and SHA-256
  };

  enum class Refused {
    kNone,
    kNoIdentity,  // this installation's key could not be read or made
    kChangedKey,  // the contact's key changed and is not accepted yet
    kUntrusted,   // the pin store cannot answer
    kQueueFull,   // too much waits for the handshake already
    kTooLarge,    // longer than a record carries
  };

  struct Sent {
    std::vector<Message> send;
    Refused refused = Refused::kNone;
    bool waiting = false;  // the text waits for the handshake
  };

  struct Received {
    std::vector<Message> send;   // answers of the handshake, records now sealed
    std::vector<Opened> opened;  // in the order they were sealed
    std::string line;            // for the user, when not empty (told once)
    Error error = Error::kNone;  // why the message was not taken, if it was not
  };

  explicit SecureContacts(const std::filesystem::path& folder)
      : SecureContacts(folder, Limits{}, SystemRandom()) {}
  SecureContacts(const std::filesystem::path& folder, const Limits& limits, Random random);
  ~SecureContacts();
  SecureContacts(const SecureContacts&) = delete;
  SecureContacts& operator=(const SecureContacts&) = delete;

  // What keeps the protection from working, for the user; empty when it works.
  std::string problem() const;

  Sent Send(const ContactId& who, RecordKind kind, std::string_view body, Time now);
  // The reply that offers a file, with the file's size and SHA-256.
  Sent SendFileOffer(const ContactId& who, const FileFacts& facts, std::string_view body, Time now);
  // A handshake message or a record from |who|. |answerHello|: the host
  // would answer this contact's requests (a buddy, or everyone).
  Received Receive(const ContactId& who, std::string_view message, bool answerHello, Time now);

  // Whether a key is pinned for the contact: the contact's plug-in speaks
  // this protection, so its texts count only inside it.
  bool Pinned(const ContactId& who) const;
  // Whether the contact's key changed and waits for the user's acceptance.
  bool Changed(const ContactId& who) const;

  // The user's commands, each answered with one line.
  std::string OwnKeyLine() const;                          // "/xrkey"
  std::string ContactKeyLine(const ContactId& who) const;  // "/xrkey bob"
  std::string Verify(const ContactId& who);                // "/xrverify bob"
  std::string Trust(const ContactId& who, Time now);       // "/xrtrust bob"

  // The line for a changed key; |since| is when the old key was first seen.
  static std::string ChangedKeyLine(const std::string& name, std::chrono::sys_seconds since);

  size_t contacts() const { return peers_.size(); }

 private:
  struct Waiting {
    RecordKind kind;
    std::string body;
  };
  struct Peer {
    std::unique_ptr<Handshake> handshake;
    Time handshakeStarted{};
    Session session;
    std::deque<Waiting> waiting;
    size_t waitingBytes = 0;
    // Requests sealed since the contact's last record (at most maxWaiting).
    std::deque<Waiting> unanswered;
    std::optional<PublicKey> changedKey;  // presented, differing from the pin
    bool toldChanged = false;
    double helloTokens = kHellosAtOnce;
    Time helloUpdated{};
    Time used{};
  };
  using Key = std::pair<std::string, std::string>;

  Peer& PeerFor(const ContactId& who, Time now);
  Sent Queue(const ContactId& who, RecordKind kind, std::string body, Time now);
  // The contact proved |key| in |hs|: judges it and, when it is trusted,
  // completes the handshake and sends what waits.
  void Proved(const ContactId& who, Peer& peer, const PublicKey& key, bool initiator, Time now,
              Received& out);
  static bool Decode(RecordKind kind, std::string_view body, Opened& opened);
  void Flush(Peer& peer, std::vector<Message>& send);
  void Unanswered(Peer& peer, RecordKind kind, std::string body);
  void Open(Peer& peer, std::string_view record, Received& out);
  bool TakeHelloToken(Peer& peer, Time now);
  void StartHandshake(Peer& peer, Time now, std::vector<Message>& send);

  std::optional<Identity> identity_;
  std::string identityProblem_;
  PinStore pins_;
  Limits limits_;
  Random random_;
  std::map<Key, Peer> peers_;
  bool toldStore_ = false;
};

}  // namespace zuvo::trust
