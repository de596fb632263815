// Pacing the plug-in's own lines on one IRC connection so that the server
// never holds them back or closes the link for flooding, and the user's
// lines still go out at once. The rules, in the order the code applies them:
//
// 1. The pacer models the server's allowance as a budget of lines: at most
//    |burst| lines at once, refilled by one line every |interval|. Chosen
//    under the strictest server it knows (ircd-hybrid and InspIRCd, one
//    line a second after a burst of 5 to 11; ngircd 2.5 a second after 4):
//    4 at once, then one every 1.1 s.
// 2. Every line written on the connection uses the budget: the pacer's own
//    (Take) and everyone else's, the user's lines and the client's own
//    (Count). A burst of the user's lines can drive the budget into debt,
//    which the pacer's lines then wait out.
// 3. The pacer's own lines leave |reserve| lines of the budget unused, so
//    that a line the user types finds room at the server at once.
// 4. Frames wait in turn: each turn writes one line of the frame at the
//    front and puts the frame at the back, so a short reply to one contact
//    does not wait for a long reply to another.
// 5. The client may ask for a pause (Hold): nothing of the pacer's is
//    written before it ends, so that lines the client queued go first.
// 6. What waits is bounded: a frame that would pass |maxBytes| in all, or
//    a contact's |maxFramesPerContact| frames, is not taken.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "purple/token_bucket.h"

namespace zuvo::purple {

class LinePacer {
 public:
  using Clock = std::chrono::steady_clock;

  struct Limits {
    double burst = 4;
    Clock::duration interval = std::chrono::milliseconds(1100);
    double reserve = 1;
    size_t maxBytes = size_t{8} << 20;
    size_t maxFramesPerContact = 8;
  };

  explicit LinePacer(Clock::time_point now) : LinePacer(Limits{}, now) {}
  LinePacer(const Limits& limits, Clock::time_point now);

  // Queues the lines of one frame for |contact|; false (nothing queued)
  // over a bound.
  bool Add(const std::string& contact, std::vector<std::string> lines);
  // A line that someone else wrote on the connection.
  void Count(Clock::time_point now);
  // Nothing of the pacer's before |until| (a later hold wins); Release ends
  // the hold.
  void Hold(Clock::time_point until);
  void Release() { holdUntil_ = {}; }
  bool held(Clock::time_point now) const { return now < holdUntil_; }

  // The next line due at |now|, or nothing.
  std::optional<std::string> Take(Clock::time_point now);
  // When the next line is due; Clock::time_point::max() when nothing waits.
  Clock::time_point NextDue(Clock::time_point now) const;

  bool empty() const { return frames_.empty(); }
  size_t waitingBytes() const { return bytes_; }

 private:
  struct Frame {
    std::string contact;
    std::deque<std::string> lines;
  };
  Limits limits_;
  TokenBucket budget_;
  Clock::time_point holdUntil_{};
  std::deque<Frame> frames_;
  std::map<std::string, size_t> framesOf_;
  size_t bytes_ = 0;
};

}  // namespace zuvo::purple
