// The protection per contact: handshakes started and answered, keys judged
// against the pins, texts waiting for a session, records sealed and opened.
#include "host/common/trust/secure_contacts.h"

#include <algorithm>
#include <cstdio>
#include <system_error>

namespace zuvo::trust {
namespace {

std::chrono::sys_seconds Seconds(SecureContacts::Time now) {
  return std::chrono::floor<std::chrono::seconds>(now);
}

std::string DateText(std::chrono::sys_seconds when) {
  const std::chrono::year_month_day day{std::chrono::floor<std::chrono::days>(when)};
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(day.year()),
                static_cast<unsigned>(day.month()), static_cast<unsigned>(day.day()));
  return text;
}

std::string StoreProblem(const PinStore& pins) {
  return "the file-sharing keys of your contacts cannot be read (" + pins.detail() +
         "); nothing is shared with anyone until the file is mended or removed.";
}

}  // namespace

SecureContacts::SecureContacts(const std::filesystem::path& folder, const Limits& limits,
                               Random random)
    : pins_(folder / kPinsFileName), limits_(limits), random_(std::move(random)) {
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  LoadedIdentity loaded = LoadOrCreateIdentity(folder, random_);
  identity_ = std::move(loaded.identity);
  if (!identity_) identityProblem_ = std::move(loaded.detail);
}

SecureContacts::~SecureContacts() = default;

std::string SecureContacts::problem() const {
  if (!identity_) {
    return "your file-sharing key cannot be read (" + identityProblem_ +
           "); nothing is exchanged until the file is mended or removed.";
  }
  if (pins_.error() != StoreError::kNone) return StoreProblem(pins_);
  return {};
}

std::string SecureContacts::ChangedKeyLine(const std::string& name,
                                           std::chrono::sys_seconds since) {
  return name + "'s file-sharing key has changed since " + DateText(since) +
         "; nothing is shared with this contact until you accept the new key with /xrtrust " + name;
}

SecureContacts::Peer& SecureContacts::PeerFor(const ContactId& who, Time now) {
  Key key{who.account, who.contact};
  auto it = peers_.find(key);
  if (it == peers_.end()) {
    if (peers_.size() >= limits_.maxContacts) {
      // The longest idle, and one with nothing under way before any other.
      auto idle = std::min_element(peers_.begin(), peers_.end(), [](const auto& a, const auto& b) {
        const bool aBusy = a.second.handshake || !a.second.waiting.empty();
        const bool bBusy = b.second.handshake || !b.second.waiting.empty();
        return aBusy != bBusy ? bBusy : a.second.used < b.second.used;
      });
      peers_.erase(idle);
    }
    it = peers_.emplace(std::move(key), Peer{}).first;
    it->second.helloUpdated = now;
  }
  it->second.used = now;
  return it->second;
}

// ---- Sending -------------------------------------------------------------------

SecureContacts::Sent SecureContacts::Send(const ContactId& who, RecordKind kind,
                                          std::string_view body, Time now) {
  return Queue(who, kind, std::string(body), now);
}

SecureContacts::Sent SecureContacts::SendFileOffer(const ContactId& who, const FileFacts& facts,
                                                   std::string_view body, Time now) {
  return Queue(who, RecordKind::kFileOffer, EncodeFileOffer(facts, body), now);
}

SecureContacts::Sent SecureContacts::Queue(const ContactId& who, RecordKind kind, std::string body,
                                           Time now) {
  Sent sent;
  if (!identity_) {
    sent.refused = Refused::kNoIdentity;
    return sent;
  }
  if (pins_.error() != StoreError::kNone) {
    sent.refused = Refused::kUntrusted;
    return sent;
  }
  if (body.size() > kMaxRecordBytes - kRecordOverhead) {
    sent.refused = Refused::kTooLarge;
    return sent;
  }
  Peer& peer = PeerFor(who, now);
  if (peer.changedKey) {
    sent.refused = Refused::kChangedKey;
    return sent;
  }
  if (peer.session.open()) {
    sent.send.push_back({false, peer.session.Seal(kind, body)});
    Unanswered(peer, kind, std::move(body));
    return sent;
  }
  if (peer.handshake && now - peer.handshakeStarted > kHandshakeTimeout) {
    // No answer came: the contact has no plug-in, or it is gone.
    peer.handshake.reset();
    peer.waiting.clear();
    peer.waitingBytes = 0;
  }
  if (peer.waiting.size() >= limits_.maxWaiting ||
      body.size() > limits_.maxWaitingBytes - peer.waitingBytes) {
    sent.refused = Refused::kQueueFull;
    return sent;
  }
  peer.waitingBytes += body.size();
  peer.waiting.push_back({kind, std::move(body)});
  sent.waiting = true;
  if (!peer.handshake) StartHandshake(peer, now, sent.send);
  return sent;
}

void SecureContacts::StartHandshake(Peer& peer, Time now, std::vector<Message>& send) {
  peer.handshake = std::make_unique<Handshake>(*identity_, random_);
  peer.handshakeStarted = now;
  send.push_back({true, peer.handshake->Start()});
}

void SecureContacts::Flush(Peer& peer, std::vector<Message>& send) {
  for (Waiting& w : peer.waiting) {
    send.push_back({false, peer.session.Seal(w.kind, w.body)});
    Unanswered(peer, w.kind, std::move(w.body));
  }
  peer.waiting.clear();
  peer.waitingBytes = 0;
}

void SecureContacts::Unanswered(Peer& peer, RecordKind kind, std::string body) {
  if (kind != RecordKind::kRequest) return;
  if (peer.unanswered.size() >= limits_.maxWaiting) peer.unanswered.pop_front();
  peer.unanswered.push_back({kind, std::move(body)});
}

// ---- Receiving -----------------------------------------------------------------

bool SecureContacts::TakeHelloToken(Peer& peer, Time now) {
  const double earned = std::chrono::duration<double>(now - peer.helloUpdated) / kHelloInterval;
  peer.helloTokens = std::min<double>(kHellosAtOnce, peer.helloTokens + std::max(0.0, earned));
  peer.helloUpdated = now;
  if (peer.helloTokens < 1) return false;
  peer.helloTokens -= 1;
  return true;
}

SecureContacts::Received SecureContacts::Receive(const ContactId& who, std::string_view message,
                                                 bool answerHello, Time now) {
  Received out;
  if (!identity_) {
    out.error = Error::kUnexpected;
    return out;
  }
  Peer& peer = PeerFor(who, now);
  const MessageType type = PeekType(message);
  // A contact whose key changed has no session, so none of its records
  // opens until a handshake proves a key: the new one once the user
  // accepted it, or the pinned one again (the one who took the name is
  // gone), which ends the change.
  switch (type) {
    case MessageType::kHello: {
      // A contact this side is starting a handshake with is answered too:
      // both may have started at once.
      if ((!answerHello && !peer.handshake) || !TakeHelloToken(peer, now)) {
        out.error = Error::kUnexpected;
        return out;
      }
      if (!peer.handshake) {
        peer.handshake = std::make_unique<Handshake>(*identity_, random_);
        peer.handshakeStarted = now;
      }
      Handshake::Step step = peer.handshake->Receive(message);
      if (step.kind == Handshake::Step::kSend) out.send.push_back({true, std::move(step.send)});
      if (step.kind == Handshake::Step::kFailed) {
        peer.handshake.reset();
        out.error = step.error;
      }
      return out;
    }
    case MessageType::kReply:
    case MessageType::kFinish: {
      if (!peer.handshake) {
        out.error = Error::kUnexpected;
        return out;
      }
      Handshake::Step step = peer.handshake->Receive(message);
      if (step.kind == Handshake::Step::kPeer) {
        Proved(who, peer, step.peer, type == MessageType::kReply, now, out);
      } else {
        // A handshake that fails takes what waited for it along.
        peer.handshake.reset();
        peer.waiting.clear();
        peer.waitingBytes = 0;
        out.error = step.error;
      }
      return out;
    }
    case MessageType::kRecord:
      if (!peer.session.open()) {
        out.error = Error::kClosed;
        // The contact holds a session this side has not (any more): a new
        // handshake gives both sides one again.
        if (!peer.handshake && answerHello && TakeHelloToken(peer, now)) {
          StartHandshake(peer, now, out.send);
        }
        return out;
      }
      Open(peer, message, out);
      return out;
    case MessageType::kNone:
      break;
  }
  out.error = !message.empty() && static_cast<uint8_t>(message[0]) != kProtocolVersion
                  ? Error::kVersion
                  : Error::kMalformed;
  return out;
}

void SecureContacts::Proved(const ContactId& who, Peer& peer, const PublicKey& key, bool initiator,
                            Time now, Received& out) {
  const Presented presented = pins_.Present(who.account, who.contact, key, Seconds(now));
  if (presented.verdict == Verdict::kChanged || presented.verdict == Verdict::kUnchecked) {
    peer.handshake.reset();
    peer.waiting.clear();
    peer.waitingBytes = 0;
    peer.unanswered.clear();
    peer.session = Session();
    if (presented.verdict == Verdict::kChanged) {
      peer.changedKey = key;  // the latest one presented is the one accepted
      if (!peer.toldChanged) out.line = ChangedKeyLine(who.name, presented.pin.firstSeen);
      peer.toldChanged = true;
    } else if (!toldStore_) {
      toldStore_ = true;
      out.line = pins_.error() != StoreError::kNone
                     ? StoreProblem(pins_)
                     : who.name + "'s file-sharing key cannot be pinned (" + presented.detail +
                           "); nothing is shared with this contact.";
    }
    out.error = Error::kNotAuthentic;
    return;
  }
  peer.changedKey.reset();
  peer.toldChanged = false;
  // Requests of the session this one replaces that got nothing back may
  // never have been read (the contact restarted, or closed its session):
  // they go again, first.
  for (auto it = peer.unanswered.rbegin(); it != peer.unanswered.rend(); ++it) {
    peer.waitingBytes += it->body.size();
    peer.waiting.push_front(std::move(*it));
  }
  peer.unanswered.clear();
  Handshake::Established done;
  if (initiator && !peer.waiting.empty() &&
      kFinishBytes + kRecordOverhead + peer.waiting.front().body.size() <=
          limits_.maxHandshakeBytes) {
    // The first text rides with FINISH.
    Waiting first = std::move(peer.waiting.front());
    peer.waiting.pop_front();
    peer.waitingBytes -= first.body.size();
    done = peer.handshake->Accept(first.kind, first.body);
    Unanswered(peer, first.kind, std::move(first.body));
  } else {
    done = peer.handshake->Accept();
  }
  peer.handshake.reset();
  peer.session = std::move(done.session);
  if (!done.send.empty()) out.send.push_back({true, std::move(done.send)});
  if (done.first) {
    Opened opened;
    if (Decode(done.first->kind, done.first->body, opened)) {
      out.opened.push_back(std::move(opened));
    } else {
      out.error = Error::kMalformed;
    }
  }
  if (done.firstError != Error::kNone) out.error = done.firstError;
  if (peer.session.open()) Flush(peer, out.send);
}

bool SecureContacts::Decode(RecordKind kind, std::string_view body, Opened& opened) {
  opened.kind = kind;
  if (kind == RecordKind::kFileOffer) {
    FileFacts facts;
    std::string_view rest;
    if (!DecodeFileOffer(body, facts, rest)) return false;
    opened.facts = facts;
    body = rest;
  }
  opened.body.assign(body);
  return true;
}

void SecureContacts::Open(Peer& peer, std::string_view record, Received& out) {
  Session::Opened opened;
  out.error = peer.session.Open(record, opened);
  if (out.error != Error::kNone) return;
  // The contact reads this session: what was asked reached it.
  peer.unanswered.clear();
  Opened text;
  if (!Decode(opened.kind, opened.body, text)) {
    out.error = Error::kMalformed;
    return;
  }
  out.opened.push_back(std::move(text));
}

// ---- The user's commands ---------------------------------------------------------

bool SecureContacts::Pinned(const ContactId& who) const {
  return pins_.Find(who.account, who.contact) != nullptr;
}

bool SecureContacts::Changed(const ContactId& who) const {
  auto it = peers_.find({who.account, who.contact});
  return it != peers_.end() && it->second.changedKey;
}

std::string SecureContacts::OwnKeyLine() const {
  if (!identity_) return problem();
  return "your file-sharing key: " + Fingerprint(identity_->publicKey()) +
         " (read it out to a contact who compares it with /xrkey and your name)";
}

std::string SecureContacts::ContactKeyLine(const ContactId& who) const {
  if (pins_.error() != StoreError::kNone) return StoreProblem(pins_);
  const Pin* pin = pins_.Find(who.account, who.contact);
  if (!pin) {
    return "no file-sharing key of " + who.name +
           " is known yet; it is learned at your first exchange with them.";
  }
  std::string line = who.name + "'s file-sharing key: " + Fingerprint(pin->key) + " (" +
                     (pin->verified ? "verified"
                                    : "not verified: compare it with " + who.name +
                                          ", then /xrverify " + who.name) +
                     ")";
  if (Changed(who)) line += "; a different key was presented since, not accepted";
  return line;
}

std::string SecureContacts::Verify(const ContactId& who) {
  if (pins_.error() != StoreError::kNone) return StoreProblem(pins_);
  if (Changed(who)) {
    return who.name + "'s key has changed: accept the new key with /xrtrust " + who.name +
           " first, then compare it.";
  }
  const Pin* pin = pins_.Find(who.account, who.contact);
  if (!pin) return "no file-sharing key of " + who.name + " is known yet; nothing to verify.";
  const PublicKey key = pin->key;
  const StoreResult stored = pins_.SetVerified(who.account, who.contact, key, true);
  if (!stored.ok()) return "could not mark " + who.name + "'s key verified: " + stored.detail;
  return who.name + "'s file-sharing key " + Fingerprint(key) + " is marked verified.";
}

std::string SecureContacts::Trust(const ContactId& who, Time now) {
  if (pins_.error() != StoreError::kNone) return StoreProblem(pins_);
  auto it = peers_.find({who.account, who.contact});
  if (it == peers_.end() || !it->second.changedKey) {
    return who.name + "'s file-sharing key has not changed; nothing to accept.";
  }
  const PublicKey key = *it->second.changedKey;
  const StoreResult stored = pins_.Accept(who.account, who.contact, key, Seconds(now));
  if (!stored.ok()) return "could not accept " + who.name + "'s new key: " + stored.detail;
  it->second.changedKey.reset();
  it->second.toldChanged = false;
  return "accepted " + who.name + "'s new file-sharing key " + Fingerprint(key) +
         " (not verified: compare it with " + who.name + ", then /xrverify " + who.name + ").";
}

}  // namespace zuvo::trust
