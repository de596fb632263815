#include "files/dir_recurse.h"

#include "base/plugin_error.h"
#include "base/text.h"
#include "files/name_order.h"
#include "files/tree_walk.h"
#include "files/wildcard.h"

namespace zuvo {
namespace {

[[noreturn]] void ThrowFor(FsStatus status) {
  switch (status) {
    case FsStatus::kAccessDenied:
      throw PluginError(hr::kPermissionDenied, "Permission denied");
    case FsStatus::kBadPath:
      throw PluginError(hr::kPathNotFound, "Path not found");
    case FsStatus::kNoMemory:
      throw PluginError(hr::kOutOfMemory, "Out of memory");
    case FsStatus::kNoResources:
      throw PluginError(hr::kTooManyFiles, "Too many files");
    case FsStatus::kNotFound:
      throw PluginError(hr::kPathNotFound, "Path not found");
    case FsStatus::kIoError:
    case FsStatus::kOk:
      break;
  }
  throw PluginError(hr::kDeviceIOError, "Device I/O error");
}

// The files of one folder that match the pattern pieces, grouped by piece,
// until the list is cut. An entry whose kind could not be read counts as a
// file. Adds the matching work to |steps|.
void AppendMatchingFiles(PathList& list, std::u16string_view prefix, const FolderContents& contents,
                         const std::vector<PatternPiece>& pieces, uint64_t& steps) {
  if (HasControlCharacter(prefix)) return;
  for (const PatternPiece& piece : pieces) {
    if (piece.kind == PatternPiece::Kind::kNothing) continue;
    for (const FolderEntry& e : contents.entries) {
      if (e.kind != EntryKind::kFile && e.kind != EntryKind::kUnknown) continue;
      const std::u16string_view name = contents.name(e);
      if (IsDotName(name) || HasControlCharacter(name) || !piece.Matches(name, steps)) continue;
      list.Append(prefix, name);
      if (list.cut()) return;
    }
  }
}

// The recursive listing's visit of one folder: its matching files, then the
// pause for pending events (no enumeration is open during a visit). A cut
// list ends the walk.
class ListingVisitor final : public TreeVisitor {
 public:
  ListingVisitor(PathList& list, const std::vector<PatternPiece>& pieces, EventPump& pump,
                 uint64_t& steps)
      : list_(list), pieces_(pieces), pump_(pump), steps_(steps) {}

  bool VisitFolder(std::u16string_view prefix, const FolderContents* contents) override {
    if (contents != nullptr) AppendMatchingFiles(list_, prefix, *contents, pieces_, steps_);
    if (list_.cut()) return false;
    try {
      pump_.ProcessPendingEvents();
    } catch (const std::exception&) {
    }
    return true;
  }

 private:
  PathList& list_;
  const std::vector<PatternPiece>& pieces_;
  EventPump& pump_;
  uint64_t& steps_;
};

}  // namespace

std::u16string DirRecurse::NormalizePath(std::u16string_view path) const {
  const char16_t sep = separator();
  std::u16string p(path);
  if (p.size() >= 3) {
    // Trailing separators go first, so a trailing "/" (Windows form) is
    // converted below and stays.
    while (!p.empty() && p.back() == sep) p.pop_back();
    if (style_ == PathStyle::kWindows) {
      for (char16_t& c : p) {
        if (c == u'/') c = u'\\';
      }
    }
  }
  if (p.size() < 3) return p;
  // The first two characters stay as they are (a drive, or the two
  // separators of a network path); after them each pair of separators
  // becomes one, in one pass over non-overlapping pairs.
  std::u16string out;
  out.reserve(p.size());
  out.append(p, 0, 2);
  for (size_t i = 2; i < p.size(); ++i) {
    out.push_back(p[i]);
    if (p[i] == sep && i + 1 < p.size() && p[i + 1] == sep) ++i;
  }
  return out;
}

std::u16string DirRecurse::FolderPrefix(std::u16string_view folder) const {
  std::u16string prefix = NormalizePath(folder);
  prefix.push_back(separator());
  return prefix;
}

FsStatus DirRecurse::OpenBeneath(const Beneath& where, FolderHandle& out) {
  FolderHandle share;
  const FsStatus status = fs_.OpenFolder(FolderPrefix(where.share), share);
  if (status != FsStatus::kOk || where.below.empty()) {
    out = std::move(share);
    return status;
  }
  return fs_.OpenFolderBelow(share, where.below, out);
}

void DirRecurse::ListFiles(PathList& list, std::u16string_view folder, std::u16string_view patterns,
                           const Beneath* where) {
  const std::vector<PatternPiece> pieces = SplitPatternList(patterns);
  const std::u16string prefix = FolderPrefix(folder);
  FolderHandle handle;
  FsStatus status = where ? OpenBeneath(*where, handle) : fs_.OpenFolder(prefix, handle);
  if (IsLackOfResources(status)) ThrowFor(status);
  if (status != FsStatus::kOk) return;
  FolderContents contents;
  status = fs_.ReadFolder(handle, contents);  // a failed read keeps what it read
  if (IsLackOfResources(status)) ThrowFor(status);
  handle.Close();
  AppendMatchingFiles(list, prefix, contents, pieces, matchSteps_);
}

void DirRecurse::ListFilesRecursive(PathList& list, std::u16string_view folder,
                                    std::u16string_view patterns) {
  const std::vector<PatternPiece> pieces = SplitPatternList(patterns);
  ListingVisitor visitor(list, pieces, pump_, matchSteps_);
  TreeWalk walk(fs_, separator(), /*walkUnknown=*/true);
  const FsStatus status = walk.Run(FolderPrefix(folder), visitor);
  if (status != FsStatus::kOk) ThrowFor(status);
}

void DirRecurse::ListSubFolders(PathList& list, std::u16string_view folder, const Beneath* where) {
  const std::u16string prefix = FolderPrefix(folder);
  if (HasControlCharacter(prefix)) return;
  FolderHandle handle;
  FsStatus status = where ? OpenBeneath(*where, handle) : fs_.OpenFolder(prefix, handle);
  if (status == FsStatus::kNotFound) return;
  if (status != FsStatus::kOk) ThrowFor(status);
  FolderContents contents;
  status = fs_.ReadFolder(handle, contents);
  handle.Close();
  // Entries come out in order up to the first failure, which then passes on.
  for (const FolderEntry& e : contents.entries) {
    if (e.kind == EntryKind::kUnknown) ThrowFor(contents.kindError);
    if (e.kind != EntryKind::kFolder) continue;
    const std::u16string_view name = contents.name(e);
    if (IsDotName(name) || HasControlCharacter(name)) continue;
    list.Append(prefix, name);
    if (list.cut()) return;
  }
  if (status != FsStatus::kOk) ThrowFor(status);
}

bool DirRecurse::IsSearchableName(std::u16string_view name) const {
  if (name.empty() || IsDotName(name)) return false;
  for (const char16_t c : name) {
    if (c < 32 || c == separator() || (style_ == PathStyle::kWindows && (c == u'/' || c == u':'))) {
      return false;
    }
  }
  return true;
}

std::u16string DirRecurse::FindFileInTree(std::u16string& fileName, std::u16string& rootFolder) {
  // A name that could only reach another folder, or none, finds nothing.
  if (!IsSearchableName(fileName)) return {};
  std::u16string found;
  const FsStatus status = fs_.SearchTreeForFile(rootFolder, fileName, separator(), found);
  if (status == FsStatus::kOk) return found;
  if (status == FsStatus::kNotFound) return {};
  ThrowFor(status);
}

}  // namespace zuvo
