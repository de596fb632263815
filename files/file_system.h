// The file-system seam of DirRecurse: reading folders, opening folders below
// an open folder, the platform's tree search, and the pause for pending
// events. Variants: file_system_posix.cpp, file_system_win32.cpp.
//
// Contract of a FileSystem variant (both variants keep it; the portable walk
// in DirRecurse relies on nothing else):
//
// - Paths are UTF-16 in the platform's native form ("/" on POSIX, "\" on
//   Windows). OpenFolder takes a folder prefix: the folder's path followed by
//   one separator ("C:\share\", "/srv/share/"). A variant converts names and
//   paths at this seam and nowhere else.
// - A folder is read whole, in one go, by ReadFolder: one enumeration of every
//   entry ("*"), never one per pattern. Wildcard matching is the core's.
//   Windows: GetFileInformationByHandleEx(FileIdBothDirectoryInfo) on the
//   folder's handle, the kind taken from the attributes and reparse tag of
//   each record; an entry that claims to be a folder is opened once to
//   check where it leads. POSIX: getdents64 on the folder's descriptor, the
//   kind from d_type, fstatat only where d_type is unknown.
// - ReadFolder returns only the visible entries: never "." or "..", never
//   hidden or system entries (Windows: FILE_ATTRIBUTE_HIDDEN/SYSTEM; POSIX:
//   names beginning with "."), never names that cannot be represented exactly
//   in UTF-16 (POSIX: names that are not valid UTF-8) and, on POSIX, never
//   names holding a character below code 32 (such a name could forge a line of
//   a reply). Entries that vanish while the folder is read are dropped.
// - The entries come in a stable order that does not depend on the file
//   system's internal (hash) order: ordinal, case-insensitive (SortEntries in
//   files/name_order.h), which is the order NTFS returns them in. A Windows
//   variant may keep the platform order on NTFS and sort elsewhere.
// - Links are never reported as folders: a symbolic link or junction
//   (POSIX DT_LNK; Windows FILE_ATTRIBUTE_REPARSE_POINT with the tags
//   IO_REPARSE_TAG_SYMLINK or IO_REPARSE_TAG_MOUNT_POINT) has the kind kOther,
//   as have devices, pipes and sockets. kOther entries are never listed or
//   walked, so a walk neither loops nor leaves the tree it was given.
// - OpenFolderBelow and OpenFileBelow never pass through a link, on any of
//   the names they are given, and never leave the open folder they start
//   from, even when the tree changes meanwhile. POSIX: one openat2 call with
//   RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS where the kernel has it, otherwise
//   openat with O_NOFOLLOW per name. Windows: each folder and file is opened
//   and judged by its open handle, not by its attributes: the handle's final
//   path must be its parent's final path and its name, and it must not be a
//   symbolic link or junction. ReadFolder on Windows reports an entry as a
//   folder only when it passes the same test. OpenFolder opens the given
//   path as the platform resolves it: links in the caller's own path are the
//   caller's choice.
// - Paths longer than the platform's path limit are no obstacle below an open
//   folder: POSIX opens each folder relative to its parent's descriptor;
//   Windows uses the "\\?\" long-path form.
// - A FolderHandle holds an operating-system resource (a descriptor on
//   POSIX; a folder handle and its final path on Windows), and ReadFolder
//   reads the folder through it, never through its path. The walk keeps a bounded
//   number of them open at any time (see files/tree_walk.h).
// - One thread: a FileSystem is used by one thread at a time. ReadFolder and
//   OpenFolderBelow never call back into the plug-in, so no enumeration is
//   ever open while the host runs.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zuvo {

// Lets the host's user interface handle the window messages that are
// waiting, once. ListFilesRecursive calls it once per folder, with no
// enumeration open; the host may re-enter the plug-in from inside it.
class EventPump {
 public:
  virtual ~EventPump() = default;
  virtual void ProcessPendingEvents() = 0;
};

// The outcome of a file-system step.
enum class FsStatus : uint8_t {
  kOk,
  kNotFound,      // no such folder, or not a folder (nothing to list, no error)
  kAccessDenied,  // the folder exists but may not be read
  kBadPath,       // a path the platform cannot open (too long, link loop, bad text)
  kIoError,       // the device failed
  kNoMemory,
  kNoResources,  // out of descriptors or handles
};

// A failure that says nothing about the folder itself: the walk could not go
// on for want of memory, descriptors or handles. A listing that meets one
// fails rather than answer with part of the tree.
inline bool IsLackOfResources(FsStatus status) {
  return status == FsStatus::kNoMemory || status == FsStatus::kNoResources;
}

enum class EntryKind : uint8_t {
  kFile,
  kFolder,
  kOther,    // links, junctions, devices, pipes, sockets: never listed or walked
  kUnknown,  // the entry's kind could not be read
};

struct FolderEntry {
  uint32_t nameOffset;  // into FolderContents::names
  uint32_t nameLength;
  EntryKind kind;
  uint64_t sortKey = 0;  // scratch of SortEntries
};

// The visible entries of one folder, in order. The caller keeps one and
// hands it to ReadFolder again and again, so that its buffers are reused.
struct FolderContents {
  std::u16string names;  // every name, back to back
  std::vector<FolderEntry> entries;
  // The first failure of reading an entry's kind (entries of kind kUnknown).
  FsStatus kindError = FsStatus::kOk;

  std::u16string_view name(const FolderEntry& e) const {
    return std::u16string_view(names).substr(e.nameOffset, e.nameLength);
  }
  void clear() {
    names.clear();
    entries.clear();
    kindError = FsStatus::kOk;
  }
};

class FileSystem;

// An open folder: what ReadFolder reads and what OpenFolderBelow starts from.
// Move-only; it closes itself through the FileSystem that opened it.
class FolderHandle {
 public:
  FolderHandle() = default;
  FolderHandle(const FolderHandle&) = delete;
  FolderHandle& operator=(const FolderHandle&) = delete;
  FolderHandle(FolderHandle&& other) noexcept { *this = std::move(other); }
  FolderHandle& operator=(FolderHandle&& other) noexcept;
  ~FolderHandle() { Close(); }

  bool is_open() const { return owner_ != nullptr; }
  void Close() noexcept;

  // For the variants: the descriptor (POSIX) and the full path with the
  // long-path form (Windows). Set by the FileSystem that opens the folder.
  intptr_t os = -1;
  std::u16string path;

 private:
  friend class FileSystem;
  FileSystem* owner_ = nullptr;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Opens the folder whose prefix is |prefix| (its path and one separator).
  virtual FsStatus OpenFolder(std::u16string_view prefix, FolderHandle& out) = 0;

  // Opens the folder |relative| below the open folder |base|: one or more
  // names joined by the native separator, without leading or trailing
  // separator. Fails (kNotFound) rather than pass through a link.
  virtual FsStatus OpenFolderBelow(const FolderHandle& base, std::u16string_view relative,
                                   FolderHandle& out) = 0;

  // Opens the regular file |relative| below the open folder |base| (one or
  // more names joined by the native separator) for reading; |size| is its
  // size once open. kBadPath when a name on the way is a link or the file
  // lies anywhere but below |base| as named; kNotFound when there is no
  // such entry or it is not a regular file.
  // The caller owns |out| and closes it with fclose. The default opens
  // nothing (kNotFound).
  virtual FsStatus OpenFileBelow(const FolderHandle& base, std::u16string_view relative,
                                 std::FILE*& out, uint64_t& size);

  // Replaces |out| with the visible entries of |folder|, in order (see the
  // contract above). On failure |out| holds what was read before it.
  virtual FsStatus ReadFolder(const FolderHandle& folder, FolderContents& out) = 0;

  // Looks for a file named |name| (case-insensitive) below |root|, which is
  // used as given; on success |found| is its full path: |root|, a separator
  // unless |root| ends with one, and the path below it. Returns kNotFound
  // when there is none (an empty or missing root included); folders that
  // cannot be read are passed over, but a lack of resources that cuts the
  // search short is returned (IsLackOfResources). It leaves |root| and |name|
  // converted to the platform's narrow text and back (RoundTripNarrow); text
  // that the narrow form cannot hold exactly finds nothing. It walks the tree
  // through this seam (files/tree_walk.h), as the listings do: depth first, a
  // folder's files before its sub-folders, each folder in the listings'
  // order, links never followed, no limit on a path's length; the first hit
  // wins.
  virtual FsStatus SearchTreeForFile(std::u16string& root, std::u16string& name, char16_t separator,
                                     std::u16string& found);

  // Converts |text| to the platform's narrow text and back; false when the
  // narrow form cannot hold it exactly. The default's narrow text is UTF-8.
  virtual bool RoundTripNarrow(std::u16string& text);

 protected:
  // Marks |handle| as opened by this file system (call after setting os/path).
  void Adopt(FolderHandle& handle) { handle.owner_ = this; }
  // Releases what |handle| holds; called once per opened handle.
  virtual void CloseFolder(FolderHandle& handle) noexcept = 0;

 private:
  friend class FolderHandle;
};

std::unique_ptr<FileSystem> CreatePlatformFileSystem();

}  // namespace zuvo
