// A file's size and SHA-256, and the file-offer body that carries them.
#include "host/common/trust/file_digest.h"

#include <cstring>

#include "host/common/trust/sodium_ready.h"

namespace zuvo::trust {

FileHasher::FileHasher() {
  RequireSodium();
  crypto_hash_sha256_init(&state_);
}

void FileHasher::Update(std::string_view bytes) {
  crypto_hash_sha256_update(&state_, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  size_ += bytes.size();
}

FileFacts FileHasher::Finish() {
  FileFacts facts;
  facts.size = size_;
  crypto_hash_sha256_final(&state_, facts.sha256.data());
  crypto_hash_sha256_init(&state_);
  size_ = 0;
  return facts;
}

std::string EncodeFileOffer(const FileFacts& facts, std::string_view text) {
  std::string out(kFileOfferFactsBytes, '\0');
  for (size_t i = 0; i < 8; ++i) out[i] = static_cast<char>(facts.size >> (8 * (7 - i)));
  std::memcpy(out.data() + 8, facts.sha256.data(), facts.sha256.size());
  out.append(text);
  return out;
}

bool DecodeFileOffer(std::string_view body, FileFacts& facts, std::string_view& text) {
  if (body.size() < kFileOfferFactsBytes) return false;
  facts.size = 0;
  for (size_t i = 0; i < 8; ++i) facts.size = facts.size << 8 | static_cast<uint8_t>(body[i]);
  std::memcpy(facts.sha256.data(), body.data() + 8, facts.sha256.size());
  text = body.substr(kFileOfferFactsBytes);
  return true;
}

}  // namespace zuvo::trust
