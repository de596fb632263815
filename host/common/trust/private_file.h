// Files only their owner may read: the identity key and the pinned
// contacts. The platform's part (this interface has one variant, POSIX).
//
// Reading opens the file and judges the open file, not its name: it must be
// a regular file owned by the user the process runs as, with no permission
// for its group or others, and no larger than the caller's bound; only
// then are its bytes read (never more than the bound).
//
// Writing never leaves a half-written file under the name: the bytes go to
// a new temporary file beside it (created with mode 0600), are flushed, and
// the temporary file then takes the name in one step, either replacing
// what is there or, for a file that must be made only once, only when the
// name is still free; then the folder is flushed. A failed write leaves the
// old file as it was.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "host/common/trust/store_error.h"

namespace zuvo::trust {

struct FileOutcome {
  StoreError error = StoreError::kNone;
  bool missing = false;  // read: the file does not exist (error is kNone)
  bool existed = false;  // create-only write: the name was taken (error is kNone)
  std::string detail;    // what failed, for the user
};

// Reads |path| into |contents| when it is private and at most |maxBytes|
// long; a larger file is kCorrupt.
FileOutcome ReadPrivateFile(const std::filesystem::path& path, size_t maxBytes,
                            std::string& contents);

enum class WriteMode {
  kReplace,     // the new file replaces the old one
  kCreateOnly,  // the new file takes the name only while nothing has it
};

FileOutcome WritePrivateFile(const std::filesystem::path& path, std::string_view contents,
                             WriteMode mode);

}  // namespace zuvo::trust
