// What can go wrong with the files the protection keeps: the identity key
// and the pinned contacts. The host turns a kind into words where it shows
// it; the accompanying detail names the file and the cause.
#pragma once

#include <string>

namespace zuvo::trust {

enum class StoreError {
  kNone,
  kCorrupt,     // the file does not read as what it should be; it is kept as it is
  kNotPrivate,  // not a regular file of this user, or others may read or write it
  kIo,          // the system refused a read or a write
  kFull,        // a new entry would pass the store's bound
  kBadName,     // an account or contact name that is empty or too long
  kNotFound,    // no entry for that account and contact
  kBroken,      // the store could not be read when it was opened: nothing is answered or written
};

struct StoreResult {
  StoreError error = StoreError::kNone;
  std::string detail;  // for the user when |error| is set
  bool ok() const { return error == StoreError::kNone; }
};

}  // namespace zuvo::trust
