#include "purple/wire_reassembly.h"

#include <algorithm>

namespace zuvo::purple {
namespace {

// The memory a block of |bytes| takes from the allocator: the request and a
// size word, rounded up to 16 bytes, at least 32 (glibc's malloc; others are
// close to it).
constexpr size_t Block(size_t bytes) {
  return std::max<size_t>(32, (bytes + sizeof(size_t) + 15) / 16 * 16);
}

// A tree node: its colour and three links, then the value.
template <class Map>
constexpr size_t NodeCost() {
  return Block(4 * sizeof(void*) + sizeof(typename Map::value_type));
}

// A string's own block, for a capacity too large to live inside the string.
size_t StringCost(size_t capacity) {
  static const size_t inside = std::string().capacity();
  return capacity <= inside ? 0 : Block(capacity + 1);
}

bool IsText(FrameKind kind) {
  return kind == FrameKind::kRequest || kind == FrameKind::kReply || kind == FrameKind::kNotice;
}

}  // namespace

SenderClass ClassifySender(FrameKind kind, bool answered, bool asked) {
  switch (kind) {
    case FrameKind::kRequest:
      return answered ? SenderClass::kBuddy : SenderClass::kStranger;
    case FrameKind::kNotice:
    case FrameKind::kHandshake:
      return answered || asked ? SenderClass::kBuddy : SenderClass::kUnwanted;
    case FrameKind::kReply:
      return asked ? SenderClass::kExpectedReply : SenderClass::kUnwanted;
    case FrameKind::kRecord:
      return asked      ? SenderClass::kExpectedReply
             : answered ? SenderClass::kBuddy
                        : SenderClass::kUnwanted;
  }
  return SenderClass::kUnwanted;
}

const char* DropReasonText(DropReason why) {
  switch (why) {
    case DropReason::kUnwanted:
      return "its sender is not taken";
    case DropReason::kUnreadable:
      return "it is of a kind this version does not read";
    case DropReason::kGivenUp:
      return "the rest of its frame was given up";
    case DropReason::kDisagree:
      return "its pieces disagree";
    case DropReason::kTwice:
      return "a piece came twice";
    case DropReason::kTooLarge:
      return "it is larger than a message may be";
    case DropReason::kNoRoom:
      return "there is no room for it";
    case DropReason::kBroken:
      return "it is not in the wire form";
  }
  return "";
}

Reassembler::Reassembler(const Limits& limits) {
  PoolOf(SenderClass::kStranger).allowance = limits.stranger;
  PoolOf(SenderClass::kBuddy).allowance = limits.buddy;
  PoolOf(SenderClass::kExpectedReply).allowance = limits.reply;
}

size_t Reassembler::ContactCost(std::string_view sender) {
  return NodeCost<Contacts>() + StringCost(sender.size());
}

size_t Reassembler::FrameCost() { return NodeCost<Frames>() + NodeCost<decltype(Pool::byAge)>(); }

size_t Reassembler::PieceCost(size_t capacity) { return NodeCost<Pieces>() + StringCost(capacity); }

size_t Reassembler::bufferedBytes() const {
  size_t total = 0;
  for (const Pool& pool : pools_) total += pool.charged;
  return total;
}

size_t Reassembler::bufferedBytes(SenderClass sender) const {
  if (sender == SenderClass::kUnwanted) return 0;
  return pools_[static_cast<size_t>(sender) - 1].charged;
}

size_t Reassembler::framesInProgress() const {
  size_t total = 0;
  for (const Pool& pool : pools_) total += pool.frames.size();
  return total;
}

Reassembler::Result Reassembler::Add(const std::string& sender, const Piece& piece,
                                     SenderClass judged, Clock::time_point now) {
  Result result;
  result.kind = Result::Kind::kDropped;
  result.frameKind = piece.kind;
  result.sender = judged;
  auto dropped = [&](DropReason why) {
    result.why = why;
    return result;
  };

  Pool* pool = nullptr;
  Frames::iterator frame;
  for (Pool& p : pools_) {
    frame = p.frames.find(FrameKey{sender, piece.id});
    if (frame != p.frames.end()) {
      pool = &p;
      break;
    }
  }
  if (!pool) {
    if (GivenUp(sender, piece.id)) return dropped(DropReason::kGivenUp);
    auto refuse = [&](DropReason why) {
      GiveUp(sender, piece.id);
      return dropped(why);
    };
    if (piece.count == 0 || piece.index >= piece.count || piece.count > kMaxPieceCount) {
      return refuse(DropReason::kBroken);
    }
    if (judged == SenderClass::kUnwanted) return refuse(DropReason::kUnwanted);
    if (MaxMessageBytes(piece.kind) == 0 || (piece.flags & ~kKnownFlags) != 0) {
      return refuse(DropReason::kUnreadable);
    }
    pool = &PoolOf(judged);
    const Allowance& allowance = pool->allowance;
    // Every piece costs at least its node: a count no share can hold is
    // refused before anything is kept.
    if (piece.count > allowance.contactBytes / NodeCost<Pieces>()) {
      return refuse(DropReason::kTooLarge);
    }
    frame = Start(*pool, sender, piece,
                  std::min(MaxMessageBytes(piece.kind), allowance.maxMessageBytes), now);
  }
  Frame& f = frame->second;
  result.frameKind = f.kind;
  result.sender = static_cast<SenderClass>(pool - pools_ + 1);
  auto drop = [&](DropReason why) {
    Drop(*pool, frame, true);
    return dropped(why);
  };
  if (piece.count != f.count || piece.kind != f.kind || piece.flags != f.flags ||
      piece.index >= f.count) {
    return drop(DropReason::kDisagree);
  }
  if (f.pieces.count(piece.index)) return drop(DropReason::kTwice);
  // Every 4 characters but the padding are 3 bytes: too large a payload is
  // refused before it is decoded.
  if (piece.payload.size() / 4 * 3 > f.maxBytes - f.bytes + 2) return drop(DropReason::kTooLarge);
  std::string bytes;
  if (!DecodePayload(piece.payload, bytes)) return drop(DropReason::kBroken);
  if (bytes.size() > f.maxBytes - f.bytes) return drop(DropReason::kTooLarge);

  Charge(*pool, frame, PieceCost(bytes.capacity()));
  if (!MakeRoom(*pool, frame)) return drop(DropReason::kNoRoom);
  f.bytes += bytes.size();
  f.pieces.emplace(piece.index, std::move(bytes));
  // Fed now: the frame moves to the end of its class's order.
  auto node = pool->byAge.extract(f.age);
  f.age = node.key() = {now, ++serial_};
  pool->byAge.insert(std::move(node));
  if (f.pieces.size() < f.count) {
    result.kind = Result::Kind::kPending;
    return result;
  }
  return Complete(*pool, frame);
}

Reassembler::Frames::iterator Reassembler::Start(Pool& pool, const std::string& sender,
                                                 const Piece& piece, size_t maxBytes,
                                                 Clock::time_point now) {
  auto contact = pool.contacts.find(sender);
  // The contact's frames lie together in the tree, at most its number.
  while (contact != pool.contacts.end() &&
         contact->second.frames >= pool.allowance.framesPerContact) {
    auto oldest = pool.frames.lower_bound(FrameKey{contact->first, 0});
    for (auto it = oldest; it != pool.frames.end() && it->second.contact == contact; ++it) {
      if (it->second.age < oldest->second.age) oldest = it;
    }
    Drop(pool, oldest, true);
    contact = pool.contacts.find(sender);
  }
  if (contact == pool.contacts.end()) {
    // The contact's own cost stays with it while it has frames.
    contact = pool.contacts.emplace(sender, Contact{ContactCost(sender), 0}).first;
    pool.charged += contact->second.charged;
  }
  Frame f;
  f.contact = contact;
  f.kind = piece.kind;
  f.flags = piece.flags;
  f.count = piece.count;
  f.maxBytes = maxBytes;
  f.age = {now, ++serial_};
  auto frame = pool.frames.emplace(FrameKey{contact->first, piece.id}, std::move(f)).first;
  pool.byAge.emplace(frame->second.age, frame);
  ++contact->second.frames;
  Charge(pool, frame, FrameCost());
  return frame;
}

void Reassembler::Charge(Pool& pool, Frames::iterator frame, size_t bytes) {
  frame->second.charged += bytes;
  frame->second.contact->second.charged += bytes;
  pool.charged += bytes;
}

bool Reassembler::MakeRoom(Pool& pool, Frames::iterator keep) {
  const Contacts::iterator contact = keep->second.contact;
  while (contact->second.charged > pool.allowance.contactBytes) {
    auto oldest = pool.frames.end();
    for (auto it = pool.frames.lower_bound(FrameKey{contact->first, 0});
         it != pool.frames.end() && it->second.contact == contact; ++it) {
      if (it != keep && (oldest == pool.frames.end() || it->second.age < oldest->second.age)) {
        oldest = it;
      }
    }
    if (oldest == pool.frames.end()) return false;
    Drop(pool, oldest, true);
  }
  while (pool.charged > pool.allowance.totalBytes) {
    auto oldest = pool.byAge.begin();
    if (oldest->second == keep) ++oldest;
    if (oldest == pool.byAge.end()) return false;
    Drop(pool, oldest->second, true);
  }
  return true;
}

void Reassembler::Drop(Pool& pool, Frames::iterator frame, bool remember) {
  Frame& f = frame->second;
  if (remember) GiveUp(frame->first.first, frame->first.second);
  pool.byAge.erase(f.age);
  pool.charged -= f.charged;
  const Contacts::iterator contact = f.contact;
  contact->second.charged -= f.charged;
  pool.frames.erase(frame);
  if (--contact->second.frames == 0) {
    pool.charged -= contact->second.charged;
    pool.contacts.erase(contact);
  }
}

void Reassembler::GiveUp(std::string_view sender, uint32_t id) {
  if (GivenUp(sender, id)) return;
  if (givenUpOrder_.size() >= kRememberGivenUp) {
    givenUp_.erase(givenUpOrder_.front());
    givenUpOrder_.pop_front();
  }
  givenUpOrder_.push_back(givenUp_.emplace(std::string(sender), id).first);
}

bool Reassembler::GivenUp(std::string_view sender, uint32_t id) const {
  return givenUp_.find(std::pair<std::string_view, uint32_t>(sender, id)) != givenUp_.end();
}

Reassembler::Result Reassembler::Complete(Pool& pool, Frames::iterator frame) {
  Result result;
  result.kind = Result::Kind::kDropped;
  result.frameKind = frame->second.kind;
  result.sender = static_cast<SenderClass>(&pool - pools_ + 1);
  std::string joined;
  joined.reserve(frame->second.bytes);
  for (const auto& [index, bytes] : frame->second.pieces) joined += bytes;
  const bool deflated = frame->second.flags & kFlagDeflated;
  const size_t maxBytes = frame->second.maxBytes;
  Drop(pool, frame, false);
  bool whole = true;
  if (deflated) {
    whole = Inflate(joined, maxBytes, result.message);
  } else {
    result.message = std::move(joined);
  }
  if (!whole || (IsText(result.frameKind) && result.message.size() % 2 != 0)) {
    result.message.clear();
    result.why = DropReason::kBroken;
    return result;
  }
  result.kind = Result::Kind::kComplete;
  return result;
}

std::vector<std::string> Reassembler::Expire(Clock::time_point now) {
  std::vector<std::string> senders;
  for (Pool& pool : pools_) {
    while (!pool.byAge.empty() && now - pool.byAge.begin()->first.first >= pool.allowance.timeout) {
      const Frames::iterator frame = pool.byAge.begin()->second;
      senders.emplace_back(frame->first.first);
      Drop(pool, frame, true);
    }
  }
  return senders;
}

}  // namespace zuvo::purple
