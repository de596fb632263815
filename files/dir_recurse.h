// DirRecurse: turns a folder into an ordered list of full paths, and finds
// one file by name below a folder. The listings only append to the caller's
// list; nothing is sorted or de-duplicated.
//
// Every appended path is the folder prefix (NormalizePath(folder) and one
// separator) followed by an entry name. Within a folder the entries come in
// the file system's order (files/file_system.h: ordinal, case-insensitive).
// Never listed: names made only of "." characters, hidden and system
// entries, links and other entries that are neither file nor folder; files
// only in file lists, folders only in folder lists. Links are never walked.
// No listed path holds a character that could break a line (below code 32,
// DEL, C1 controls, U+2028, U+2029: HasControlCharacter; a folder whose path
// holds one lists nothing): a listing's lines can go into a reply as they
// are, with no line break of a name forging another line.
// A missing folder gives nothing and no error, in every listing.
//
// Bounds: a pattern list counts each distinct piece once and no more than
// the bounds of files/wildcard.h; a listing stops where the caller's list is
// cut (PathList's limit). A listing that loses part of the tree for want of
// memory, descriptors or handles fails (PluginError) rather than answer with
// part of it; folders that vanish or cannot be read are passed over.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "files/file_system.h"
#include "files/path_list.h"

namespace zuvo {

// How paths are written: Windows ("\" separator, "/" accepted and converted)
// or POSIX ("/" separator, "\" an ordinary name character).
enum class PathStyle { kWindows, kPosix };

// The style of the platform the build targets.
PathStyle NativePathStyle();

class DirRecurse {
 public:
  DirRecurse(FileSystem& fs, EventPump& pump, PathStyle style)
      : fs_(fs), pump_(pump), style_(style) {}

  PathStyle style() const { return style_; }
  FileSystem& fileSystem() { return fs_; }
  char16_t separator() const { return style_ == PathStyle::kWindows ? u'\\' : u'/'; }

  // For a path of 3 or more characters: removes trailing separators, then
  // (Windows style) turns every "/" into "\"; if it still has 3 or more
  // characters, keeps its first two as they are and turns each pair of
  // separators after them into one. Shorter paths come back unchanged.
  std::u16string NormalizePath(std::u16string_view path) const;

  // Where a listing opens its folder when it is given one: the shared folder
  // |share|, opened as the platform resolves its path, then |below| from
  // that open folder (names joined by the separator; empty for the shared
  // folder itself), never through a link (FileSystem::OpenFolderBelow). The
  // listed paths still begin with the folder text the listing was given.
  struct Beneath {
    std::u16string_view share;
    std::u16string_view below;
  };
  FsStatus OpenBeneath(const Beneath& where, FolderHandle& out);

  // The files directly in |folder| that match the ";"-separated |patterns|,
  // grouped by distinct pattern piece. Absorbs its errors, except a lack of
  // resources, which passes on (PluginError, std::bad_alloc).
  void ListFiles(PathList& list, std::u16string_view folder, std::u16string_view patterns,
                 const Beneath* where = nullptr);
  // As ListFiles for |folder| and then, depth first in pre-order, for every
  // folder below it: a folder's files, then the subtree of each sub-folder in
  // turn. Lets the host process pending events once per folder, between the
  // folder's files and its sub-folders, with no enumeration open; a folder
  // that vanishes or cannot be read meanwhile is passed over. No depth limit.
  // Absorbs its errors, except a lack of resources, as ListFiles.
  void ListFilesRecursive(PathList& list, std::u16string_view folder, std::u16string_view patterns);
  // The folders directly in |folder|. Passes its errors on (PluginError).
  void ListSubFolders(PathList& list, std::u16string_view folder, const Beneath* where = nullptr);
  // The full path of one file named |fileName| (case-insensitive) below
  // |rootFolder|, or the empty text. A name that is empty, "." or "..", or
  // holds a separator (Windows style also ":") finds nothing. The root is
  // used as given. Passes its errors on (PluginError).
  std::u16string FindFileInTree(std::u16string& fileName, std::u16string& rootFolder);

  // The matching work of the listings so far: the steps PatternPiece::Matches
  // counted. Bounded per listing by the share's names and the pattern bounds.
  uint64_t match_steps() const { return matchSteps_; }

 private:
  std::u16string FolderPrefix(std::u16string_view folder) const;
  bool IsSearchableName(std::u16string_view name) const;

  FileSystem& fs_;
  EventPump& pump_;
  PathStyle style_;
  uint64_t matchSteps_ = 0;
};

}  // namespace zuvo
