// The contacts' pinned identity keys: trust on first use, as SSH keeps its
// known hosts. The first key a contact presents is pinned, per account and
// contact (strings the host forms, e.g. the account's address and protocol,
// and the contact's normalised name); later the same key is "same", another
// key is "changed", with the date the old pin dates from, until the user
// accepts the new key. A pin the user compared by its fingerprint is marked
// verified.
//
// The file ("zuvo-pins.txt" in the client's configuration folder is the
// host's choice), mode 0600, replaced atomically on every change
// (private_file.h), lines sorted by account and contact:
//
//   zuvo-pins 1
//   <key: 64 lower-case hex> <first seen: Unix seconds> <verified: 0 or 1> <account> <contact>
//
// Account and contact are their bytes, with every byte from 0x00 to 0x20,
// 0x7F and "%" written as "%" and two upper-case hex digits, and nothing else
// escaped; each holds 1 to Limits::maxNameBytes bytes. The file is read
// strictly: a line that is not exactly so, a repeated account and contact,
// more pins than the bound, or a larger file than the bound allows makes
// the whole store broken. A broken store (or one others may read or
// change) is reported with the line, never written, and answers nothing
// (Verdict::kUnchecked), so no pin is silently lost or replaced; the user
// mends or removes the file.
//
// Bounds: at most Limits::maxPins pins. A new contact beyond that is told
// kNew but not pinned (StoreError::kFull): old pins are never evicted to
// make room, so a flood of strangers cannot push a buddy's pin out.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "host/common/trust/identity.h"
#include "host/common/trust/store_error.h"

namespace zuvo::trust {

struct Pin {
  PublicKey key{};
  std::chrono::sys_seconds firstSeen{};
  bool verified = false;
  bool operator==(const Pin&) const = default;
};

enum class Verdict {
  kNew,        // no pin yet: the key is pinned now (unless |error| says it could not be)
  kSame,       // the pinned key
  kChanged,    // another key than the pinned one; |pin| is the old pin
  kUnchecked,  // the store is broken or the name is bad (|error|): treat as not trusted
};

struct Presented {
  Verdict verdict = Verdict::kUnchecked;
  Pin pin;  // kNew: the new pin; kSame: the pin; kChanged: the old pin
  StoreError error = StoreError::kNone;
  std::string detail;
};

class PinStore {
 public:
  struct Limits {
    size_t maxPins = 4096;
    size_t maxNameBytes = 256;  // of an account, and of a contact
  };

  // Reads |path|; a missing file is an empty store. See error() for a
  // broken one.
  explicit PinStore(std::filesystem::path path) : PinStore(std::move(path), Limits{}) {}
  PinStore(std::filesystem::path path, const Limits& limits);

  // kNone, or why the store is broken (kCorrupt, kNotPrivate, kIo).
  StoreError error() const { return loaded_.error; }
  const std::string& detail() const { return loaded_.detail; }

  Presented Present(std::string_view account, std::string_view contact, const PublicKey& key,
                    std::chrono::sys_seconds now);
  // Pins |key| for the contact, replacing a changed pin: first seen |now|,
  // not verified.
  StoreResult Accept(std::string_view account, std::string_view contact, const PublicKey& key,
                     std::chrono::sys_seconds now);
  // Marks the contact's pin verified (or not); kNotFound unless |key| is the
  // pinned key, so the mark goes to the key whose fingerprint the user saw.
  StoreResult SetVerified(std::string_view account, std::string_view contact, const PublicKey& key,
                          bool verified);
  StoreResult Remove(std::string_view account, std::string_view contact);

  const Pin* Find(std::string_view account, std::string_view contact) const;
  size_t size() const { return pins_.size(); }

  // The file's text for |pins|, and back (false with |why| naming the line).
  using Pins = std::map<std::pair<std::string, std::string>, Pin>;
  static std::string Format(const Pins& pins);
  static bool Parse(std::string_view text, const Limits& limits, Pins& pins, std::string& why);

 private:
  // The names' check for every call; kNone when the store may be used.
  StoreResult Usable(std::string_view account, std::string_view contact) const;
  // Writes |pins| and takes them when the file was replaced.
  StoreResult Save(Pins pins);

  std::filesystem::path path_;
  Limits limits_;
  StoreResult loaded_;
  Pins pins_;
};

}  // namespace zuvo::trust
