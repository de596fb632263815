#include "purple/line_pacer.h"

#include <algorithm>

namespace zuvo::purple {

LinePacer::LinePacer(const Limits& limits, Clock::time_point now)
    : limits_(limits), budget_(limits.burst, limits.interval, now) {}

bool LinePacer::Add(const std::string& contact, std::vector<std::string> lines) {
  if (lines.empty()) return true;
  size_t bytes = 0;
  for (const std::string& line : lines) bytes += line.size();
  size_t& frames = framesOf_[contact];
  if (bytes_ + bytes > limits_.maxBytes || frames >= limits_.maxFramesPerContact) {
    if (frames == 0) framesOf_.erase(contact);
    return false;
  }
  ++frames;
  bytes_ += bytes;
  frames_.push_back({contact, std::deque<std::string>(std::make_move_iterator(lines.begin()),
                                                      std::make_move_iterator(lines.end()))});
  return true;
}

// A debt deeper than a second burst would only hold the plug-in back
// longer than the server does.
void LinePacer::Count(Clock::time_point now) { budget_.Take(now, -limits_.burst); }

void LinePacer::Hold(Clock::time_point until) { holdUntil_ = std::max(holdUntil_, until); }

std::optional<std::string> LinePacer::Take(Clock::time_point now) {
  if (frames_.empty() || held(now) || budget_.tokens(now) < 1 + limits_.reserve) {
    return std::nullopt;
  }
  budget_.Take(now);
  Frame frame = std::move(frames_.front());
  frames_.pop_front();
  std::string line = std::move(frame.lines.front());
  frame.lines.pop_front();
  bytes_ -= line.size();
  if (!frame.lines.empty()) {
    frames_.push_back(std::move(frame));
  } else if (--framesOf_[frame.contact] == 0) {
    framesOf_.erase(frame.contact);
  }
  return line;
}

LinePacer::Clock::time_point LinePacer::NextDue(Clock::time_point now) const {
  if (frames_.empty()) return Clock::time_point::max();
  return std::max(budget_.When(1 + limits_.reserve, now), holdUntil_);
}

}  // namespace zuvo::purple
