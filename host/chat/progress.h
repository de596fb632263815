// The chat's progress texts: sizes, rates and the bar of a transfer.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "host/common/session_words.h"

namespace zuvo::chat {

// Files from this size on get a progress bar.
inline constexpr uint64_t kProgressFrom = 1 << 20;

unsigned Percent(uint64_t done, uint64_t total);
using zuvo::SizeText;
double Seconds(std::chrono::steady_clock::time_point since);
// "1.25 s, 80.0 MiB/s".
std::string RateText(uint64_t bytes, double seconds);
// "[#####-----...]  50% 1.0 MiB of 2.0 MiB  name".
std::string Bar(unsigned percent, uint64_t done, uint64_t total, const std::u16string& name);

}  // namespace zuvo::chat
