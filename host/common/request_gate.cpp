#include "host/common/request_gate.h"

#include <algorithm>

namespace zuvo {

void RequestGate::Forget(Clock::time_point now) {
  // Senders whose bucket is full again and who have nothing in progress
  // carry no state worth keeping.
  const auto refill = std::chrono::duration<double>(limits_.burst / limits_.perSecond);
  for (auto it = senders_.begin(); it != senders_.end();) {
    if (!it->second.listing && now - it->second.updated >= refill) {
      it = senders_.erase(it);
    } else {
      ++it;
    }
  }
  // Still too many: the longest idle go, whatever their state.
  while (senders_.size() >= limits_.maxSenders) {
    auto oldest = std::min_element(senders_.begin(), senders_.end(), [](auto& a, auto& b) {
      return a.second.updated < b.second.updated;
    });
    senders_.erase(oldest);
  }
}

RequestGate::Decision RequestGate::Admit(const std::string& sender, bool known, bool listing,
                                         Clock::time_point now) {
  auto it = senders_.find(sender);
  if (it == senders_.end()) {
    if (senders_.size() >= limits_.maxSenders) Forget(now);
    Sender fresh;
    fresh.tokens = limits_.burst;
    fresh.updated = now;
    it = senders_.emplace(sender, fresh).first;
  }
  Sender& s = it->second;
  const double elapsed = std::chrono::duration<double>(now - s.updated).count();
  if (elapsed > 0) s.tokens = std::min(limits_.burst, s.tokens + elapsed * limits_.perSecond);
  s.updated = now;

  Decision d;
  auto refuse = [&](Verdict v) {
    d.verdict = v;
    d.first = !s.refused;
    s.refused = true;
    return d;
  };
  // Every request costs a token, a stranger's too: the user is told about
  // strangers, and that notice must not become a flood of its own.
  if (s.tokens < 1) return refuse(Verdict::kTooFast);
  s.tokens -= 1;
  if (!known) return refuse(Verdict::kStranger);
  if (listing && s.listing) return refuse(Verdict::kBusy);
  s.refused = false;
  if (listing) s.listing = true;
  return d;
}

void RequestGate::ListingDone(const std::string& sender) {
  auto it = senders_.find(sender);
  if (it != senders_.end()) it->second.listing = false;
}

}  // namespace zuvo
