// SHA-256 on Windows: the system's CNG provider (bcrypt.dll), through a
// reusable hash object per hasher.
#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>

#include <climits>
#include <stdexcept>
#include <vector>

#include "host/common/checksum.h"

namespace zuvo {
namespace {

// The SHA-256 provider, opened once for the process and never closed.
BCRYPT_ALG_HANDLE Provider() {
  static const BCRYPT_ALG_HANDLE provider = [] {
    BCRYPT_ALG_HANDLE h = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&h, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
      throw std::runtime_error("SHA-256 is not available (BCryptOpenAlgorithmProvider)");
    }
    return h;
  }();
  return provider;
}

}  // namespace

struct Sha256::State {
  BCRYPT_HASH_HANDLE hash = nullptr;
  ~State() {
    if (hash) BCryptDestroyHash(hash);
  }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  if (!BCRYPT_SUCCESS(BCryptCreateHash(Provider(), &state_->hash, nullptr, 0, nullptr, 0, 0))) {
    throw std::runtime_error("SHA-256 is not available (BCryptCreateHash)");
  }
}

Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::Update(const void* data, size_t size) {
  auto* p = static_cast<PUCHAR>(const_cast<void*>(data));
  // BCryptHashData takes at most ULONG bytes a call.
  while (size > 0) {
    const ULONG n = size > ULONG_MAX ? ULONG_MAX : static_cast<ULONG>(size);
    if (!BCRYPT_SUCCESS(BCryptHashData(state_->hash, p, n, 0))) {
      throw std::runtime_error("SHA-256 failed (BCryptHashData)");
    }
    p += n;
    size -= n;
  }
}

Digest Sha256::Final() {
  Digest out;
  if (!BCRYPT_SUCCESS(
          BCryptFinishHash(state_->hash, out.data(), static_cast<ULONG>(out.size()), 0))) {
    throw std::runtime_error("SHA-256 failed (BCryptFinishHash)");
  }
  return out;
}

}  // namespace zuvo
