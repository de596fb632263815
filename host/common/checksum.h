// SHA-256, the checksum a file transfer carries in its offer and the
// receiver recomputes over the bytes it stored.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zuvo {

using Digest = std::array<uint8_t, 32>;

class Sha256 {
 public:
  Sha256();
  void Update(const void* data, size_t size);
  void Update(std::string_view bytes) { Update(bytes.data(), bytes.size()); }
  // Finishes the hash; the object must not be updated afterwards.
  Digest Final();

 private:
  void Block(const uint8_t* block);

  std::array<uint32_t, 8> state_;
  std::array<uint8_t, 64> buffer_{};
  size_t buffered_ = 0;
  uint64_t length_ = 0;  // bytes hashed so far
};

Digest Sha256Of(std::string_view bytes);
std::string DigestHex(const Digest& digest);

}  // namespace zuvo
