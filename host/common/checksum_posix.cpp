// SHA-256 on POSIX: libsodium's incremental crypto_hash_sha256.
#include <sodium.h>

#include <cstdio>
#include <cstdlib>

#include "host/common/checksum.h"

namespace zuvo {

struct Sha256::State {
  crypto_hash_sha256_state hash;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  // sodium_init may be called from any thread and more than once.
  static const bool ready = sodium_init() >= 0;
  if (!ready) {
    std::fputs("zuvo: libsodium could not start\n", stderr);
    std::abort();
  }
  crypto_hash_sha256_init(&state_->hash);
}

Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::Update(const void* data, size_t size) {
  crypto_hash_sha256_update(&state_->hash, static_cast<const unsigned char*>(data), size);
}

Digest Sha256::Final() {
  Digest out;
  crypto_hash_sha256_final(&state_->hash, out.data());
  return out;
}

}  // namespace zuvo
