// How many lines the host writes about what contacts sent (a reply nobody
// asked for, a stranger's request, another version of the plug-in, a
// contact asking too often): a budget per contact and one for all of them,
// so that nothing contacts send, however many addresses they use, fills
// the conversation window or the log. Each budget is a token bucket; a line
// is written only when both have a token. Contacts whose budget is full
// again are forgotten (Expire), so the map holds only those who lately
// made the host write.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <string>

#include "purple/token_bucket.h"

namespace zuvo::purple {

class NoticeLimit {
 public:
  using Clock = std::chrono::steady_clock;

  struct Limits {
    double contactBurst = 3;
    Clock::duration contactInterval = std::chrono::minutes(1);
    double totalBurst = 20;
    Clock::duration totalInterval = std::chrono::seconds(5);
  };

  NoticeLimit() : NoticeLimit(Limits{}) {}
  explicit NoticeLimit(const Limits& limits)
      : limits_(limits), total_(limits.totalBurst, limits.totalInterval, {}) {}

  // Whether a line about |contact| may be written at |now| (if so, it is
  // counted).
  bool Allow(const std::string& contact, Clock::time_point now);
  void Expire(Clock::time_point now);
  size_t contacts() const { return buckets_.size(); }

 private:
  Limits limits_;
  TokenBucket total_;
  std::map<std::string, TokenBucket> buckets_;
};

}  // namespace zuvo::purple
