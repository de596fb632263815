#include "purple/notice_limit.h"

#include <algorithm>

namespace zuvo::purple {

double NoticeLimit::Refilled(const Bucket& bucket, double burst, Clock::duration interval,
                             Clock::time_point now) {
  if (now <= bucket.updated) return bucket.tokens;
  const double added =
      std::chrono::duration<double>(now - bucket.updated) / std::chrono::duration<double>(interval);
  return std::min(burst, bucket.tokens + added);
}

bool NoticeLimit::Allow(const std::string& contact, Clock::time_point now) {
  if (total_.tokens < 0) total_ = {limits_.totalBurst, now};
  const double total = Refilled(total_, limits_.totalBurst, limits_.totalInterval, now);
  auto it = buckets_.find(contact);
  const double own = it == buckets_.end()
                         ? limits_.contactBurst
                         : Refilled(it->second, limits_.contactBurst, limits_.contactInterval, now);
  if (total < 1 || own < 1) return false;
  total_ = {total - 1, now};
  buckets_[contact] = {own - 1, now};
  return true;
}

void NoticeLimit::Expire(Clock::time_point now) {
  std::erase_if(buckets_, [&](const auto& entry) {
    return Refilled(entry.second, limits_.contactBurst, limits_.contactInterval, now) >=
           limits_.contactBurst;
  });
}

}  // namespace zuvo::purple
