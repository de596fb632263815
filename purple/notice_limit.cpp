#include "purple/notice_limit.h"

namespace zuvo::purple {

bool NoticeLimit::Allow(const std::string& contact, Clock::time_point now) {
  auto it = buckets_.find(contact);
  const bool known = it != buckets_.end();
  if (total_.tokens(now) < 1 || (known && it->second.tokens(now) < 1)) return false;
  if (!known) {
    it = buckets_.emplace(contact, TokenBucket(limits_.contactBurst, limits_.contactInterval, now))
             .first;
  }
  total_.Take(now);
  it->second.Take(now);
  return true;
}

void NoticeLimit::Expire(Clock::time_point now) {
  std::erase_if(buckets_, [&](const auto& entry) { return entry.second.full(now); });
}

}  // namespace zuvo::purple
