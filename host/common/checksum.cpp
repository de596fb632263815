#include "host/common/checksum.h"

namespace zuvo {

Digest Sha256Of(std::string_view bytes) {
  Sha256 h;
  h.Update(bytes);
  return h.Final();
}

std::string DigestHex(const Digest& digest) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (uint8_t b : digest) {
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 15]);
  }
  return out;
}

}  // namespace zuvo
