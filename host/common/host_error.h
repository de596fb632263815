// Errors across the host's seams. A failure is a kind, which the code acts
// on (a file that was not asked for gets the client's usual question, one
// that does not fit is refused), and a detail (a path, a size, the system's
// own words) that only its description uses. Describe turns one into words
// once, where it is shown; no code compares those words.
#pragma once

#include <string>

#include "files/file_system.h"

namespace zuvo {

enum class HostErrorKind {
  kNone,
  // A file the plug-in named in a "#/dropfile " line.
  kNoSharedFolder,  // no shared folder is set, or it cannot be read
  kOutsideShare,    // the path leaves the shared folder
  kNotFound,        // no such file (or not a file), or the share is no folder
  kAccessDenied,    // the system refuses to open it
  kUnreadable,      // it cannot be read (the device, memory, descriptors)
  // A file a contact offers.
  kNotAsked,     // no file of that name was asked for (or the time is up)
  kNotAccepted,  // asked for, but the contact's plug-in did not accept it
  kNoRoom,       // larger than the downloads folder's free space less a margin
  kBadTransfer,  // the transfer went wrong (detail: how)
  // Either side.
  kTooMany,  // over a bound (detail: which)
  kEnded,    // the conversation has ended (detail: what it cut off)
  kSystem,   // the system failed (detail: what, in its words)
};

struct HostError {
  HostErrorKind kind = HostErrorKind::kNone;
  std::string detail;

  bool failed() const { return kind != HostErrorKind::kNone; }
};

inline HostError Failure(HostErrorKind kind, std::string detail = {}) {
  return {kind, std::move(detail)};
}

// The error's words, for a line the user reads ("it is outside the shared
// folder", "too many files at once").
std::string Describe(const HostError& error);

// The error a file-system status stands for when a file is opened.
HostError ErrorFromFsStatus(FsStatus status);

}  // namespace zuvo
