// Putting the pieces of frames (wire.h) back together, within bounds that
// nothing a contact or a server sends can move. The rules, in the order the
// code applies them:
//
// 1. Who sent a frame is judged once, by the host, at the first of its
//    pieces to arrive (SenderClass; ClassifySender gives the usual
//    judgement):
//      kUnwanted       the frame is dropped at once, and every later piece
//                      of it too, before anything is kept: a reply nobody
//                      asked for, a stranger's reply or handshake
//      kStranger       a request from someone the user does not answer,
//                      kept only so the host can say who asked for what
//      kBuddy          a request, notice or handshake from a contact the
//                      user answers
//      kExpectedReply  a reply from a contact the user asked
// 2. Each class has an allowance of its own (Allowance): nothing one class
//    holds takes room from another, so strangers flooding leave a buddy's
//    request and an expected reply alone. A frame may hold no more than its
//    kind's cap (wire.h) and its class's cap, whichever is smaller; a frame
//    of a kind or with flags this version does not read is dropped.
// 3. Within an allowance every contact has a share, and a number of frames
//    in progress: a new frame over that number pushes out the contact's
//    least recently fed frame; a piece over the share pushes out the
//    contact's other frames, least recently fed first, and when that is not
//    enough its own frame is dropped. A piece over the allowance's total
//    pushes out the least recently fed frames of the whole class.
// 4. A frame whose next piece does not come within the class's time limit is
//    dropped (Expire); a frame whose pieces keep coming stays, however long
//    it takes in all.
// 5. What is buffered is charged at what it costs in memory: each piece's
//    bytes (base64 decoded) and its tree node, each frame's nodes, each
//    contact's node and name, at the size the allocator gives each block.
//    So the memory held stays near the charge, and the charge within the
//    allowances.
// 6. A frame whose pieces disagree (count, kind, flags), has a piece twice,
//    has a payload that is not base64, or does not inflate within its cap
//    is dropped. A frame given up is remembered (the last 256), so its later
//    pieces are dropped without a word instead of starting it again.
//
// Each piece costs time logarithmic in the frames held: the frames, the
// contacts and the order of feeding are trees; no step scans them all.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "purple/wire.h"

namespace zuvo::purple {

enum class SenderClass : uint8_t { kUnwanted, kStranger, kBuddy, kExpectedReply };

// The usual judgement: |answered|, the user answers the sender (a buddy, or
// everyone); |asked|, the user asked the sender and still waits for the
// reply. A notice or a handshake is taken from either. A record goes by
// whom it comes from: from a contact asked it may seal the reply, from one
// answered a request.
SenderClass ClassifySender(FrameKind kind, bool answered, bool asked);

enum class DropReason {
  kUnwanted,    // the host judged the sender unwanted
  kUnreadable,  // a kind or flags this version does not read
  kGivenUp,     // a later piece of a frame already dropped
  kDisagree,    // its pieces disagree on count, kind or flags
  kTwice,       // a piece came twice
  kTooLarge,    // over its cap, or more pieces than its share can hold
  kNoRoom,      // its sender's share or its class's total is full
  kBroken,      // a payload that is not base64, a stream that does not inflate
};
const char* DropReasonText(DropReason why);

class Reassembler {
 public:
  using Clock = std::chrono::steady_clock;

  struct Allowance {
    size_t maxMessageBytes = 0;  // one message, besides its kind's cap
    size_t contactBytes = 0;     // charged per contact
    size_t framesPerContact = 0;
    size_t totalBytes = 0;  // charged for the whole class
    Clock::duration timeout{};
  };

  struct Limits {
    // Enough to say who asked for what: a request of 512 units.
    Allowance stranger{1024, 4096, 1, 256 << 10, std::chrono::seconds(30)};
    // The longest request, sealed or not, a few times over per contact.
    Allowance buddy{kMaxRequestBytes + 4096, 256 << 10, 4, 4 << 20, std::chrono::seconds(120)};
    // The longest reply, sent undeflated in IRC-sized pieces (about 1.4
    // times its bytes once charged), for one contact at a time.
    Allowance reply{kMaxRecordBytes, 12 << 20, 2, 16 << 20, std::chrono::seconds(120)};
  };

  struct Result {
    enum class Kind {
      kPending,   // kept; the frame is not complete yet
      kComplete,  // |message| is the whole message, inflated
      kDropped,   // the piece, and the frame it belongs to, were dropped (|why|)
    };
    Kind kind = Kind::kPending;
    FrameKind frameKind = FrameKind::kRequest;
    SenderClass sender = SenderClass::kUnwanted;  // as judged at the frame's first piece
    std::string message;
    DropReason why = DropReason::kUnwanted;
  };

  Reassembler() : Reassembler(Limits{}) {}
  explicit Reassembler(const Limits& limits);

  // Takes one piece from |sender|. |judged| counts only when the piece
  // starts a frame. A text's message (request, reply, notice) has an even
  // number of bytes (BytesToText).
  Result Add(const std::string& sender, const Piece& piece, SenderClass judged,
             Clock::time_point now);
  // Drops the frames whose last piece is older than their class's time
  // limit; returns their senders, one entry per frame.
  std::vector<std::string> Expire(Clock::time_point now);

  size_t bufferedBytes() const;
  size_t bufferedBytes(SenderClass sender) const;
  size_t framesInProgress() const;

 private:
  struct Frame;
  struct Contact {
    size_t charged = 0;
    size_t frames = 0;
  };
  using Contacts = std::map<std::string, Contact, std::less<>>;
  // The sender (a view of its contact's name) and the frame's id.
  using FrameKey = std::pair<std::string_view, uint32_t>;
  using Frames = std::map<FrameKey, Frame>;
  // When a frame was last fed, then a serial number that keeps keys apart.
  using Age = std::pair<Clock::time_point, uint64_t>;
  using Pieces = std::map<uint32_t, std::string>;
  struct Frame {
    Contacts::iterator contact;
    FrameKind kind = FrameKind::kRequest;
    uint8_t flags = 0;
    uint32_t count = 0;
    size_t maxBytes = 0;
    size_t bytes = 0;
    size_t charged = 0;
    Age age;
    Pieces pieces;
  };
  struct Pool {
    Allowance allowance;
    Contacts contacts;
    Frames frames;
    std::map<Age, Frames::iterator> byAge;
    size_t charged = 0;
  };

  static size_t ContactCost(std::string_view sender);
  static size_t FrameCost();
  static size_t PieceCost(size_t capacity);

  Pool& PoolOf(SenderClass sender) { return pools_[static_cast<size_t>(sender) - 1]; }
  // A new frame for |piece|, after the sender's least recently fed frames
  // that are over its number gave way.
  Frames::iterator Start(Pool& pool, const std::string& sender, const Piece& piece, size_t maxBytes,
                         Clock::time_point now);
  void Charge(Pool& pool, Frames::iterator frame, size_t bytes);
  // Pushes out frames other than |keep| until the contact's share and the
  // class's total hold what is charged; false when they cannot.
  bool MakeRoom(Pool& pool, Frames::iterator keep);
  // Drops a frame; |remember| keeps its key so its later pieces are dropped.
  void Drop(Pool& pool, Frames::iterator frame, bool remember);
  void GiveUp(std::string_view sender, uint32_t id);
  bool GivenUp(std::string_view sender, uint32_t id) const;
  Result Complete(Pool& pool, Frames::iterator frame);

  struct KeyLess {
    using is_transparent = void;
    template <class A, class B>
    bool operator()(const A& a, const B& b) const {
      return std::pair<std::string_view, uint32_t>(a.first, a.second) <
             std::pair<std::string_view, uint32_t>(b.first, b.second);
    }
  };
  static constexpr size_t kRememberGivenUp = 256;

  Pool pools_[3];  // kStranger, kBuddy, kExpectedReply
  uint64_t serial_ = 0;
  std::set<std::pair<std::string, uint32_t>, KeyLess> givenUp_;
  std::deque<decltype(givenUp_)::iterator> givenUpOrder_;
};

}  // namespace zuvo::purple
