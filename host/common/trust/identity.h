// The installation's long-term identity key, its file, and the fingerprint
// people read aloud to compare keys.
//
// The key. One Ed25519 key pair per installation (libsodium crypto_sign).
// Its public half is what contacts pin and what a fingerprint shows; its
// secret half only ever signs handshakes (secure_channel.h). There is no
// long-term X25519 key, neither derived from this one nor separate: key
// agreement uses fresh X25519 keys for every session, which is what gives
// forward secrecy, and the Ed25519 signatures over the handshake's
// transcript are what authenticate them. A long-term X25519 key would add
// a second secret to keep and a second key to pin (or reuse this key in a
// second algorithm, which libsodium's documentation advises against for
// new designs) and would buy only a smaller handshake.
//
// The key file. "<folder>/zuvo-identity.key", in the folder the host names
// (the client's configuration folder), mode 0600, three lines of text:
//
//   zuvo-identity 1
//   ed25519-seed <64 lower-case hex digits: the 32-byte secret seed>
//   ed25519-public <64 lower-case hex digits: the public key>
//
// The key pair is made from the seed (crypto_sign_seed_keypair); the public
// line must match it, which catches a damaged seed. The first use makes the
// file atomically (private_file.h), so there is never a half-written key
// file; two processes starting at once both end up with the one that took
// the name. A file that exists but does not read exactly so, or that others
// may read, is reported and left alone: never replaced by a new key, which
// would silently change this installation's identity for every contact.
//
// The fingerprint. 12 groups of 5 decimal digits of one public key:
//
//   BLAKE2b-512("zuvo-fingerprint-1" || public key); the first 60 bytes
//   in 12 slices of 5 bytes, each read as a 40-bit big-endian number,
//   modulo 100000, written with 5 digits; groups separated by blanks.
//
// One fingerprint per key, not one per pair of keys: a user reads theirs
// out once to anyone (or prints it), it stays the same for every contact,
// and when a comparison fails it says whose key differs. 60 digits hold
// about 199 bits: no one can make a key whose fingerprint matches another's
// in all groups, nor in half of them (about 100 bits of work).
//
//   auto loaded = LoadOrCreateIdentity(configFolder);
//   if (!loaded.identity) show(loaded.detail);   // reported; the file is left alone
//   show("Your key: " + Fingerprint(loaded.identity->publicKey()));
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "host/common/trust/store_error.h"

namespace zuvo::trust {

inline constexpr size_t kKeyBytes = 32;
inline constexpr size_t kSignatureBytes = 64;
using PublicKey = std::array<uint8_t, kKeyBytes>;
using Signature = std::array<uint8_t, kSignatureBytes>;

// Fills |size| bytes at |out| with secret random bytes. The default is the
// system's generator (randombytes_buf); tests inject a seeded one.
using Random = std::function<void(uint8_t* out, size_t size)>;
Random SystemRandom();
// A reproducible generator from |seed| (randombytes_buf_deterministic with
// a counter), for tests and fuzzing only.
Random SeededRandom(uint64_t seed);

inline constexpr char kIdentityFileName[] = "zuvo-identity.key";

class Identity {
 public:
  static Identity Generate(const Random& random);
  static Identity FromSeed(const std::array<uint8_t, kKeyBytes>& seed);
  ~Identity();
  Identity(const Identity& other) = default;
  Identity& operator=(const Identity& other) = default;

  const PublicKey& publicKey() const { return public_; }
  Signature Sign(std::string_view message) const;
  // The key file's text.
  std::string FileText() const;

 private:
  Identity() = default;
  std::array<uint8_t, 64> secret_{};  // libsodium's form: seed, then the public key
  PublicKey public_{};
};

struct LoadedIdentity {
  std::optional<Identity> identity;  // empty on error
  bool created = false;              // made now, on first use
  StoreError error = StoreError::kNone;
  std::string detail;  // for the user when |error| is set
};

// Reads the identity from |folder|, or makes it there when no key file
// exists. The folder must exist.
LoadedIdentity LoadOrCreateIdentity(const std::filesystem::path& folder,
                                    const Random& random = SystemRandom());
// Reads a key file's text; false (with |why|) when it is not exactly one.
bool ParseIdentityFile(std::string_view text, std::optional<Identity>& identity, std::string& why);

bool VerifySignature(const PublicKey& key, std::string_view message, const Signature& signature);

std::string Fingerprint(const PublicKey& key);
std::string KeyHex(const PublicKey& key);
bool KeyFromHex(std::string_view hex, PublicKey& key);

}  // namespace zuvo::trust
