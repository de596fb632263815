// A token bucket: at most |burst| tokens, refilled by one every |interval|,
// starting full. Taking may run it into debt down to a floor.
#pragma once

#include <algorithm>
#include <chrono>

namespace zuvo::purple {

class TokenBucket {
 public:
  using Clock = std::chrono::steady_clock;

  TokenBucket(double burst, Clock::duration interval, Clock::time_point now)
      : burst_(burst), interval_(interval), tokens_(burst), updated_(now) {}

  double tokens(Clock::time_point now) const {
    if (now <= updated_) return tokens_;
    const double added =
        std::chrono::duration<double>(now - updated_) / std::chrono::duration<double>(interval_);
    return std::min(burst_, tokens_ + added);
  }
  bool full(Clock::time_point now) const { return tokens(now) >= burst_; }
  // When the bucket holds |wanted| tokens, counting from |now|.
  Clock::time_point When(double wanted, Clock::time_point now) const {
    const double missing = wanted - tokens(now);
    return missing > 0 ? now + std::chrono::ceil<Clock::duration>(missing * interval_) : now;
  }
  void Take(Clock::time_point now, double floor = 0) {
    tokens_ = std::max(tokens(now) - 1, floor);
    updated_ = std::max(updated_, now);
  }

 private:
  double burst_;
  Clock::duration interval_;
  double tokens_;
  Clock::time_point updated_;
};

}  // namespace zuvo::purple
