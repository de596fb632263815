// What proves that a received file is the one offered: its size and
// SHA-256 (libsodium crypto_hash_sha256), computed incrementally as the
// bytes pass, and the file-offer record's body that carries both inside
// the protection (RecordKind::kFileOffer, secure_channel.h):
//
//   size    8 bytes, big-endian: the file's length in bytes
//   sha256  32 bytes
//   text    the rest, the host's (the reply that offers the file)
//
// The sharer hashes the file it opened before offering it; the receiver
// hashes what it writes and compares, then keeps the file or removes it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <sodium.h>

namespace zuvo::trust {

struct FileFacts {
  uint64_t size = 0;
  std::array<uint8_t, 32> sha256{};
  bool operator==(const FileFacts&) const = default;
};

class FileHasher {
 public:
  FileHasher();
  void Update(std::string_view bytes);
  // The size and hash of everything given; the hasher starts over.
  FileFacts Finish();

 private:
  crypto_hash_sha256_state state_;
  uint64_t size_ = 0;
};

inline constexpr size_t kFileOfferFactsBytes = 40;

std::string EncodeFileOffer(const FileFacts& facts, std::string_view text);
// False for a body shorter than the facts.
bool DecodeFileOffer(std::string_view body, FileFacts& facts, std::string_view& text);

}  // namespace zuvo::trust
