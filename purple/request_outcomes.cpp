#include "purple/request_outcomes.h"

#include <algorithm>

namespace zuvo::purple {

void RequestOutcomes::Asked(const std::string& contact, const std::string& name, const void* where,
                            Clock::time_point deadline) {
  auto it = waiting_.find(contact);
  if (it == waiting_.end()) {
    if (waiting_.size() >= kMaxContacts) return;
    waiting_.emplace(contact, Entry{name, where, deadline, false});
    return;
  }
  it->second.name = name;
  it->second.where = where;
  it->second.deadline = std::max(it->second.deadline, deadline);
}

void RequestOutcomes::Delivered(const std::string& contact) {
  if (auto it = waiting_.find(contact); it != waiting_.end()) it->second.delivered = true;
}

std::optional<RequestOutcomes::Waiting> RequestOutcomes::Refused(const std::string& contact) {
  auto it = waiting_.find(contact);
  if (it == waiting_.end()) return std::nullopt;
  Waiting refused{contact, std::move(it->second.name), it->second.where, it->second.delivered};
  waiting_.erase(it);
  return refused;
}

std::vector<RequestOutcomes::Waiting> RequestOutcomes::Expire(Clock::time_point now) {
  std::vector<Waiting> overdue;
  for (auto it = waiting_.begin(); it != waiting_.end();) {
    if (it->second.deadline > now) {
      ++it;
      continue;
    }
    overdue.push_back(
        {it->first, std::move(it->second.name), it->second.where, it->second.delivered});
    it = waiting_.erase(it);
  }
  return overdue;
}

}  // namespace zuvo::purple
