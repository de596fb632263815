// The file calls whose platform forms differ, for the files a host writes:
// the received files it publishes in the downloads folder. Variants:
// file_io_posix.cpp (renameat2, link), file_io_win32.cpp (MoveFileExW,
// CreateFileW).
#pragma once

#include <cstdio>
#include <filesystem>

#include "host/common/host_error.h"

namespace zuvo {

enum class MoveResult { kMoved, kExists, kFailed };
// Renames |from| to |to| only when nothing exists under |to|, atomically:
// a file that appears there meanwhile is never replaced. kFailed sets
// |error| (kSystem, with the system's words).
MoveResult MoveNoReplace(const std::filesystem::path& from, const std::filesystem::path& to,
                         HostError& error);

// std::fopen for a path in the platform's own file-name form. An "x" in
// |mode| creates the file exclusively: it fails when the name exists. A
// file it creates gets the mode the user's umask allows (0666 & ~umask).
std::FILE* OpenFile(const std::filesystem::path& path, const char* mode);

}  // namespace zuvo
