// Who may ask, and how often. A stranger can message anyone on a public
// network, so by default only the contacts in the user's buddy list are
// answered. Every sender's requests also pass a token bucket (a burst, then
// a steady rate), and a sender has at most one listing in progress: a
// second listing request while the first is still being answered is turned
// away. The gate keeps a bounded amount of state per sender.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <string>

namespace zuvo {

class RequestGate {
 public:
  using Clock = std::chrono::steady_clock;

  struct Limits {
    double burst = 10;         // requests at once
    double perSecond = 1;      // then this many per second
    size_t maxSenders = 1024;  // senders remembered; idle ones are forgotten first
  };

  enum class Verdict {
    kAnswer,    // answer it
    kStranger,  // not in the buddy list and the user answers only buddies
    kTooFast,   // over the rate
    kBusy,      // a listing of this sender is still in progress
  };

  struct Decision {
    Verdict verdict = Verdict::kAnswer;
    // True for the first request turned away after one that was admitted:
    // the host tells the sender (or the user) once, not for every request.
    bool first = false;
  };

  RequestGate() = default;
  explicit RequestGate(const Limits& limits) : limits_(limits) {}

  // Judges one request from |sender|. |known|: the sender may be answered
  // (a buddy, or the user answers everyone). |listing|: the request makes a
  // list. An admitted listing stays in progress until ListingDone.
  Decision Admit(const std::string& sender, bool known, bool listing, Clock::time_point now);
  void ListingDone(const std::string& sender);

  size_t senders() const { return senders_.size(); }

 private:
  struct Sender {
    double tokens = 0;
    Clock::time_point updated;
    bool listing = false;
    bool refused = false;  // the last request was turned away
  };
  void Forget(Clock::time_point now);

  Limits limits_;
  std::map<std::string, Sender> senders_;
};

}  // namespace zuvo
