#include "host/chat/progress.h"

#include <cstdio>

#include "base/text.h"
#include "host/common/shown_text.h"

namespace zuvo::chat {

unsigned Percent(uint64_t done, uint64_t total) {
  return total == 0 ? 100 : static_cast<unsigned>(done * 100 / total);
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

std::string RateText(uint64_t bytes, double seconds) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f s, %.1f MiB/s", seconds,
                seconds > 0 ? bytes / 1048576.0 / seconds : 0.0);
  return buf;
}

std::string Bar(unsigned percent, uint64_t done, uint64_t total, const std::u16string& name) {
  constexpr unsigned kWidth = 30;
  const unsigned filled = percent * kWidth / 100;
  std::string bar(1, '[');
  bar.append(filled, '#').append(kWidth - filled, '-').append("] ");
  char buf[32];
  std::snprintf(buf, sizeof buf, "%3u%% ", percent);
  return bar + buf + SizeText(done) + " of " + SizeText(total) + "  " + ShownText(name);
}

}  // namespace zuvo::chat
