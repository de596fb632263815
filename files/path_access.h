// PathAccess: the access rules of remote requests. A contact names paths on
// this machine; these rules decide whether such a path lies inside the shared
// folder, judged the way the file system resolves the path when the host
// opens it: separators unified, then component by component from the left,
// following every link that exists on the way, and lexically only for the
// part that does not exist. The comparison keeps letter case.
//
// Two path models, chosen by PathStyle:
// - POSIX: "/" separates; an absolute path starts with "/"; "." and ".." are
//   taken in turn as the walk meets them, after the links before them.
// - Windows: "/" and "\" alike; an absolute path is "X:\..." or
//   "\\server\share\..."; "." and ".." are collapsed first, as the Win32
//   path layer does before the file system sees the path. Forms that reach
//   devices, streams or other namespaces are refused: "\\?\", "\\.\",
//   drive-relative "C:x", names with ":" (streams), device names (CON, NUL,
//   AUX, PRN, COM0-9, LPT0-9, CONIN$, CONOUT$, with or without an
//   extension), names ending in "." or " ", and the characters <>"|?*.
// In both models a character below code 32, text that is not well-formed
// UTF-16 and a path longer than 32,767 characters are refused.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "files/dir_recurse.h"
#include "files/path_resolver.h"

namespace zuvo {

// A path as the file system resolves it: its root ("/"; "C:";
// "\\server\share") and its components, free of ".", ".." and links.
struct ResolvedPath {
  std::u16string root;
  std::vector<std::u16string> components;
  bool operator==(const ResolvedPath&) const = default;
};

class PathAccess {
 public:
  // The longest path text the rules accept: the Windows limit.
  static constexpr size_t kMaxPathLength = 32767;
  // The most links followed while resolving one path.
  static constexpr int kMaxLinks = 40;

  PathAccess(PathResolver& resolver, PathStyle style) : resolver_(resolver), style_(style) {}

  PathStyle style() const { return style_; }

  // The shared folder as resolved, or nothing when the setting shares
  // nothing: empty, not absolute, or in a refused form.
  std::optional<ResolvedPath> ResolveShare(std::u16string_view sharedFolder) const;

  // True when |path|, an absolute path as a contact sent it, names the
  // shared folder itself or something below it.
  bool IsInside(std::u16string_view path, const ResolvedPath& share) const;

  // The path of |path| below |share| as the file system resolves it (names
  // joined by the native separator; empty for the shared folder itself), or
  // nothing when |path| does not lie inside the shared folder. It names the
  // same entry from the shared folder's own folder, with no link on the way.
  std::optional<std::u16string> PathBelow(std::u16string_view path,
                                          const ResolvedPath& share) const;

  // True when |argument|, the folder argument of a folder request, is a
  // relative path and |folder|, the shared folder joined with it, stays
  // inside the shared folder.
  bool IsFolderArgumentInside(std::u16string_view argument, std::u16string_view folder,
                              const ResolvedPath& share) const;

  // True when |name| can only name an entry of one folder: not empty, not "."
  // or "..", no separator (nor ":" on Windows), no character below code 32,
  // well-formed UTF-16.
  bool IsPlainName(std::u16string_view name) const;

  // |path| resolved, or nothing when it is refused (not absolute, a refused
  // form, too many links, an entry that cannot be examined).
  std::optional<ResolvedPath> Resolve(std::u16string_view path) const;

 private:
  PathResolver& resolver_;
  PathStyle style_;
};

}  // namespace zuvo
