#include "host/common/size_text.h"

#include <cstdio>

namespace zuvo {

std::string SizeText(uint64_t bytes) {
  char buf[64];
  if (bytes < 1024) {
    std::snprintf(buf, sizeof buf, "%llu bytes", static_cast<unsigned long long>(bytes));
  } else if (bytes < (1 << 20)) {
    std::snprintf(buf, sizeof buf, "%.1f KiB", bytes / 1024.0);
  } else {
    std::snprintf(buf, sizeof buf, "%.1f MiB", bytes / 1048576.0);
  }
  return buf;
}

}  // namespace zuvo
