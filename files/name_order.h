// Names in folders: the order listings use and the names they never show.
#pragma once

#include <string_view>

#include "files/file_system.h"

namespace zuvo {

// Sorts |contents| ordinally without regard to letter case, the order NTFS
// keeps a folder in: the names compared code unit by code unit, each
// upper-cased by the file-name rule (base/file_name_case.h), a name before
// the longer names it begins (as CompareStringOrdinal orders them); names that differ
// only in case are ordered ordinally, so the order never depends on the
// order the file system returned them in.
void SortEntries(FolderContents& contents);

// A name made only of "." characters: the folder itself, its parent, and
// the like. Never listed, never walked.
inline bool IsDotName(std::u16string_view name) {
  return !name.empty() && name.find_first_not_of(u'.') == std::u16string_view::npos;
}

}  // namespace zuvo
