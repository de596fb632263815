// The depth-first walk below one folder, shared by the recursive listing and
// the search. It keeps its own stack, so the depth of a tree is limited by
// memory only, never by the machine's call stack, and it visits in pre-order:
// a folder, then the whole subtree of its first sub-folder, then that of its
// second, in the order of the folder's entries.
//
// Each folder is opened relative to an open ancestor and read whole before
// it is visited; the visit therefore runs with no enumeration open. Only
// sub-folders (EntryKind::kFolder, and kUnknown when asked) are walked;
// links are never followed. A folder that cannot be opened or read (it
// vanished, it is not a folder, access is denied) is visited with no
// contents, and the walk goes on with the next one. A failure for want of
// memory, descriptors or handles (IsLackOfResources) ends the walk instead:
// the rest of the tree would be missing, so Run reports it.
//
// Descriptors: an ancestor keeps its folder open while its sub-folders are
// walked only at the first kAnchorDepth levels and at every kAnchorEvery-th
// level below them; other folders are opened from the nearest open ancestor
// through their path below it. A walk thus holds at most
// kAnchorDepth + depth / kAnchorEvery + 1 folders open.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "files/file_system.h"

namespace zuvo {

class TreeVisitor {
 public:
  // |prefix| is the folder's path followed by the separator; |contents| is
  // null when the folder could not be opened. Returns false to end the walk.
  virtual bool VisitFolder(std::u16string_view prefix, const FolderContents* contents) = 0;

 protected:
  ~TreeVisitor() = default;
};

class TreeWalk {
 public:
  static constexpr uint32_t kAnchorDepth = 32;
  static constexpr uint32_t kAnchorEvery = 128;

  // |walkUnknown|: walk entries whose kind could not be read as if they were
  // folders (walking one that is not a folder yields nothing).
  TreeWalk(FileSystem& fs, char16_t separator, bool walkUnknown)
      : fs_(fs), separator_(separator), walkUnknown_(walkUnknown) {}

  // Walks the folder whose prefix (path and separator) is |rootPrefix|.
  // Returns kOk, or the lack of resources that ended the walk early.
  FsStatus Run(std::u16string_view rootPrefix, TreeVisitor& visitor);

 private:
  struct SubFolder {
    uint32_t nameOffset;  // into subNames_
    uint32_t nameLength;
  };
  struct Frame {
    FolderHandle handle;  // open while this folder anchors its sub-folders
    size_t prefixLength;  // of path_ for this folder
    size_t subBegin;      // this folder's sub-folders in subs_
    size_t nextSub;
    size_t endSub;
    size_t subNamesBegin;
    uint32_t depth;
  };

  // Reads the folder in |handle| (whose prefix is path_), visits it, and
  // pushes a frame for its sub-folders. Returns false when the walk ends.
  bool Enter(FolderHandle& handle, FsStatus opened, uint32_t depth, TreeVisitor& visitor);

  FileSystem& fs_;
  char16_t separator_;
  bool walkUnknown_;
  std::u16string path_;  // prefix of the folder being entered
  FolderContents contents_;
  std::vector<Frame> stack_;
  std::u16string subNames_;
  std::vector<SubFolder> subs_;
  FsStatus failure_ = FsStatus::kOk;
};

}  // namespace zuvo
