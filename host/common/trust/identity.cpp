// The identity key: made, signed with, written to and read from its file,
// and shown as a fingerprint.
#include "host/common/trust/identity.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "host/common/trust/private_file.h"
#include "host/common/trust/sodium_ready.h"

namespace zuvo::trust {
namespace {

constexpr std::string_view kHeaderLine = "zuvo-identity 1";
constexpr std::string_view kSeedField = "ed25519-seed ";
constexpr std::string_view kPublicField = "ed25519-public ";
// The file is three short lines; anything much longer is not a key file.
constexpr size_t kMaxFileBytes = 512;

constexpr std::string_view kFingerprintLabel = "zuvo-fingerprint-1";
constexpr size_t kFingerprintGroups = 12;

std::string Hex(const uint8_t* bytes, size_t size) {
  std::string out(size * 2 + 1, '\0');
  sodium_bin2hex(out.data(), out.size(), bytes, size);
  out.pop_back();
  return out;
}

// Exactly 2 * |size| lower-case hex digits.
bool FromHex(std::string_view hex, uint8_t* bytes, size_t size) {
  if (hex.size() != size * 2) return false;
  for (char c : hex) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  size_t got = 0;
  return sodium_hex2bin(bytes, size, hex.data(), hex.size(), nullptr, &got, nullptr) == 0 &&
         got == size;
}

// Takes the next line (up to LF, which must be there) from |text|.
bool NextLine(std::string_view& text, std::string_view& line) {
  const size_t end = text.find('\n');
  if (end == std::string_view::npos) return false;
  line = text.substr(0, end);
  text.remove_prefix(end + 1);
  return true;
}

// Wipes a string that held secret bytes before it is freed.
struct WipeOnExit {
  std::string& text;
  ~WipeOnExit() { sodium_memzero(text.data(), text.size()); }
};

}  // namespace

Random SystemRandom() {
  return [](uint8_t* out, size_t size) {
    RequireSodium();
    randombytes_buf(out, size);
  };
}

Random SeededRandom(uint64_t seed) {
  auto counter = std::make_shared<uint64_t>(0);
  return [seed, counter](uint8_t* out, size_t size) {
    RequireSodium();
    uint8_t key[randombytes_SEEDBYTES] = {};
    std::memcpy(key, &seed, sizeof seed);
    std::memcpy(key + sizeof seed, counter.get(), sizeof *counter);
    ++*counter;
    randombytes_buf_deterministic(out, size, key);
  };
}

Identity Identity::Generate(const Random& random) {
  std::array<uint8_t, kKeyBytes> seed;
  random(seed.data(), seed.size());
  Identity identity = FromSeed(seed);
  sodium_memzero(seed.data(), seed.size());
  return identity;
}

Identity Identity::FromSeed(const std::array<uint8_t, kKeyBytes>& seed) {
  RequireSodium();
  Identity identity;
  crypto_sign_seed_keypair(identity.public_.data(), identity.secret_.data(), seed.data());
  return identity;
}

Identity::~Identity() { sodium_memzero(secret_.data(), secret_.size()); }

Signature Identity::Sign(std::string_view message) const {
  Signature signature;
  crypto_sign_detached(signature.data(), nullptr,
                       reinterpret_cast<const unsigned char*>(message.data()), message.size(),
                       secret_.data());
  return signature;
}

std::string Identity::FileText() const {
  // The seed is the first half of libsodium's secret key.
  return std::string(kHeaderLine) + "\n" + std::string(kSeedField) + Hex(secret_.data(), 32) +
         "\n" + std::string(kPublicField) + Hex(public_.data(), public_.size()) + "\n";
}

bool ParseIdentityFile(std::string_view text, std::optional<Identity>& identity, std::string& why) {
  identity.reset();
  std::string_view header, seedLine, publicLine;
  if (!NextLine(text, header) || !NextLine(text, seedLine) || !NextLine(text, publicLine) ||
      !text.empty()) {
    why = "not three lines";
    return false;
  }
  if (header != kHeaderLine) {
    why = "the first line is not \"" + std::string(kHeaderLine) + "\"";
    return false;
  }
  std::array<uint8_t, kKeyBytes> seed;
  PublicKey stored;
  if (!seedLine.starts_with(kSeedField) ||
      !FromHex(seedLine.substr(kSeedField.size()), seed.data(), seed.size())) {
    why = "no well-formed secret seed";
    return false;
  }
  if (!publicLine.starts_with(kPublicField) ||
      !FromHex(publicLine.substr(kPublicField.size()), stored.data(), stored.size())) {
    sodium_memzero(seed.data(), seed.size());
    why = "no well-formed public key";
    return false;
  }
  Identity made = Identity::FromSeed(seed);
  sodium_memzero(seed.data(), seed.size());
  if (made.publicKey() != stored) {
    why = "the public key does not belong to the secret seed";
    return false;
  }
  identity = made;
  return true;
}

LoadedIdentity LoadOrCreateIdentity(const std::filesystem::path& folder, const Random& random) {
  const std::filesystem::path path = folder / kIdentityFileName;
  LoadedIdentity out;
  // A second pass reads the file another process made while this one was
  // making its own.
  for (int pass = 0; pass < 2; ++pass) {
    std::string text;
    WipeOnExit wipe{text};
    const FileOutcome read = ReadPrivateFile(path, kMaxFileBytes, text);
    if (read.error != StoreError::kNone) {
      out.error = read.error;
      out.detail = read.detail;
      return out;
    }
    if (!read.missing) {
      std::string why;
      if (!ParseIdentityFile(text, out.identity, why)) {
        out.error = StoreError::kCorrupt;
        out.detail = path.string() + ": not a key file of this plug-in (" + why + ")";
      }
      return out;
    }
    const Identity made = Identity::Generate(random);
    std::string fileText = made.FileText();
    WipeOnExit wipeNew{fileText};
    const FileOutcome written = WritePrivateFile(path, fileText, WriteMode::kCreateOnly);
    if (written.error != StoreError::kNone) {
      out.error = written.error;
      out.detail = written.detail;
      return out;
    }
    if (!written.existed) {
      out.identity = made;
      out.created = true;
      return out;
    }
  }
  out.error = StoreError::kIo;
  out.detail = path.string() + ": the file appeared and vanished while it was being made";
  return out;
}

bool VerifySignature(const PublicKey& key, std::string_view message, const Signature& signature) {
  RequireSodium();
  return crypto_sign_verify_detached(signature.data(),
                                     reinterpret_cast<const unsigned char*>(message.data()),
                                     message.size(), key.data()) == 0;
}

std::string Fingerprint(const PublicKey& key) {
  RequireSodium();
  uint8_t digest[64];
  crypto_generichash_state state;
  crypto_generichash_init(&state, nullptr, 0, sizeof digest);
  crypto_generichash_update(&state, reinterpret_cast<const uint8_t*>(kFingerprintLabel.data()),
                            kFingerprintLabel.size());
  crypto_generichash_update(&state, key.data(), key.size());
  crypto_generichash_final(&state, digest, sizeof digest);
  std::string out;
  for (size_t g = 0; g < kFingerprintGroups; ++g) {
    uint64_t value = 0;
    for (size_t i = 0; i < 5; ++i) value = value << 8 | digest[g * 5 + i];
    char group[8];
    std::snprintf(group, sizeof group, "%05u", static_cast<unsigned>(value % 100000));
    if (g > 0) out += ' ';
    out += group;
  }
  return out;
}

std::string KeyHex(const PublicKey& key) { return Hex(key.data(), key.size()); }

bool KeyFromHex(std::string_view hex, PublicKey& key) {
  return FromHex(hex, key.data(), key.size());
}

}  // namespace zuvo::trust
