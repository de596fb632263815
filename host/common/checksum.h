// SHA-256, the checksum a file transfer carries in its offer and the
// receiver recomputes over the bytes it stored. The hashing itself is the
// platform's: libsodium on POSIX (checksum_posix.cpp), Windows' CNG
// (checksum_win32.cpp); this header and checksum.cpp are shared.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace zuvo {

using Digest = std::array<uint8_t, 32>;

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(Sha256&&) noexcept;
  Sha256& operator=(Sha256&&) noexcept;

  void Update(const void* data, size_t size);
  void Update(std::string_view bytes) { Update(bytes.data(), bytes.size()); }
  // Finishes the hash; the object must not be updated afterwards.
  Digest Final();

 private:
  struct State;  // the platform's hashing state
  std::unique_ptr<State> state_;
};

Digest Sha256Of(std::string_view bytes);
std::string DigestHex(const Digest& digest);

}  // namespace zuvo
