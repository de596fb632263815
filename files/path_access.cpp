#include "files/path_access.h"

#include <algorithm>

#include "base/text.h"

namespace zuvo {
namespace {

constexpr size_t kNone = static_cast<size_t>(-1);

bool IsWellFormedUtf16(std::u16string_view s) {
  for (size_t i = 0; i < s.size(); ++i) {
    const char16_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
        ++i;
        continue;
      }
      return false;
    }
    if (c >= 0xDC00 && c <= 0xDFFF) return false;
  }
  return true;
}

// What both models ask of any text before looking at its form.
bool AcceptableText(std::u16string_view s) {
  if (s.size() > PathAccess::kMaxPathLength) return false;
  if (HasControlCharacter(s)) return false;
  return IsWellFormedUtf16(s);
}

// The non-empty pieces of |s| between |separator| characters.
std::vector<std::u16string> Split(std::u16string_view s, char16_t separator) {
  std::vector<std::u16string> pieces;
  size_t start = 0;
  while (start <= s.size()) {
    size_t end = s.find(separator, start);
    if (end == std::u16string_view::npos) end = s.size();
    if (end > start) pieces.emplace_back(s.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

char16_t AsciiUpper(char16_t c) { return (c >= u'a' && c <= u'z') ? c - u'a' + u'A' : c; }

bool EqualsAsciiUpper(std::u16string_view s, std::u16string_view upper) {
  return s.size() == upper.size() &&
         std::equal(s.begin(), s.end(), upper.begin(),
                    [](char16_t a, char16_t b) { return AsciiUpper(a) == b; });
}

// A name that Windows takes as a device whatever folder it is written in:
// the part before the first "." with trailing blanks removed is a device
// name.
bool IsWindowsDeviceName(std::u16string_view name) {
  std::u16string_view base = name.substr(0, std::min(name.find(u'.'), name.size()));
  while (!base.empty() && base.back() == u' ') base.remove_suffix(1);
  for (std::u16string_view device : {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"}) {
    if (EqualsAsciiUpper(base, device)) return true;
  }
  if (base.size() == 4 && (EqualsAsciiUpper(base.substr(0, 3), u"COM") ||
                           EqualsAsciiUpper(base.substr(0, 3), u"LPT"))) {
    const char16_t digit = base[3];
    // Superscript one, two and three count as digits here too.
    return (digit >= u'0' && digit <= u'9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
  }
  return false;
}

// A component of a Windows path that names an ordinary entry of its folder
// (or is "." or ".."): no stream, no wildcard or reserved character, no
// device, no trailing dot or blank, which the Win32 layer would strip.
bool IsOrdinaryWindowsName(std::u16string_view name) {
  if (name == u"." || name == u"..") return true;
  if (name.find_first_of(u"<>:\"|?*") != std::u16string_view::npos) return false;
  if (name.back() == u'.' || name.back() == u' ') return false;
  return !IsWindowsDeviceName(name);
}

struct ParsedPath {
  bool absolute = false;
  std::u16string root;
  std::vector<std::u16string> components;
};

std::optional<ParsedPath> ParsePosix(std::u16string_view text) {
  ParsedPath parsed;
  parsed.absolute = !text.empty() && text[0] == u'/';
  if (parsed.absolute) parsed.root = u"/";
  parsed.components = Split(text, u'/');
  return parsed;
}

// Windows paths: "/" and "\" alike; "." and ".." collapsed lexically, ".."
// stopping at the root, as GetFullPathNameW does.
std::optional<ParsedPath> ParseWindows(std::u16string_view text) {
  std::u16string s(text);
  std::replace(s.begin(), s.end(), u'/', u'\\');
  ParsedPath parsed;
  size_t rest = 0;
  if (s.size() >= 2 && s[0] == u'\\' && s[1] == u'\\') {
    // "\\server\share": "\\?\" and "\\.\" name other namespaces.
    const size_t serverEnd = s.find(u'\\', 2);
    if (serverEnd == std::u16string::npos) return std::nullopt;
    size_t shareEnd = s.find(u'\\', serverEnd + 1);
    if (shareEnd == std::u16string::npos) shareEnd = s.size();
    const std::u16string_view server(s.data() + 2, serverEnd - 2);
    const std::u16string_view share(s.data() + serverEnd + 1, shareEnd - serverEnd - 1);
    for (std::u16string_view part : {server, share}) {
      if (part.empty() || part == u"." || part == u".." || !IsOrdinaryWindowsName(part)) {
        return std::nullopt;
      }
    }
    parsed.absolute = true;
    parsed.root = s.substr(0, shareEnd);
    rest = shareEnd;
  } else if (s.size() >= 2 && s[1] == u':') {
    // Only "X:\..." is absolute; "X:" alone and "X:..\x" depend on the
    // drive's current folder.
    const char16_t drive = AsciiUpper(s[0]);
    if (drive < u'A' || drive > u'Z' || s.size() < 3 || s[2] != u'\\') return std::nullopt;
    parsed.absolute = true;
    parsed.root = s.substr(0, 2);
    rest = 2;
  } else if (!s.empty() && s[0] == u'\\') {
    return std::nullopt;  // rooted on the current drive
  }
  for (std::u16string& name : Split(std::u16string_view(s).substr(rest), u'\\')) {
    if (!IsOrdinaryWindowsName(name)) return std::nullopt;
    if (name == u".") continue;
    if (name == u"..") {
      if (!parsed.components.empty()) {
        parsed.components.pop_back();
      } else if (!parsed.absolute) {
        parsed.components.push_back(std::move(name));
      }
      continue;
    }
    parsed.components.push_back(std::move(name));
  }
  return parsed;
}

bool Within(const ResolvedPath& path, const ResolvedPath& folder) {
  return path.root == folder.root && path.components.size() >= folder.components.size() &&
         std::equal(folder.components.begin(), folder.components.end(), path.components.begin());
}

}  // namespace

std::optional<ResolvedPath> PathAccess::Resolve(std::u16string_view path) const {
  if (!AcceptableText(path)) return std::nullopt;
  const bool windows = style_ == PathStyle::kWindows;
  const char16_t separator = windows ? u'\\' : u'/';
  std::optional<ParsedPath> parsed = windows ? ParseWindows(path) : ParsePosix(path);
  if (!parsed || !parsed->absolute) return std::nullopt;

  ResolvedPath out{std::move(parsed->root), {}};
  // The components still to walk, the next one last.
  std::vector<std::u16string> pending(std::make_move_iterator(parsed->components.rbegin()),
                                      std::make_move_iterator(parsed->components.rend()));
  // While the walk is below an entry that does not exist, it goes on
  // lexically: this is the number of components up to that entry.
  size_t missingDepth = kNone;
  int links = 0;
  std::u16string text;
  while (!pending.empty()) {
    std::u16string name = std::move(pending.back());
    pending.pop_back();
    if (name == u".") continue;
    if (name == u"..") {
      // What lies before is free of links, so going up is lexical.
      if (!out.components.empty()) out.components.pop_back();
      if (out.components.size() < missingDepth) missingDepth = kNone;
      continue;
    }
    out.components.push_back(std::move(name));
    if (out.components.size() >= missingDepth) continue;

    text = out.root == u"/" ? u"" : out.root;
    for (const std::u16string& component : out.components) {
      text += separator;
      text += component;
    }
    PathNode node = resolver_.Inspect(text);
    switch (node.kind) {
      case PathNode::Kind::kMissing:
        missingDepth = out.components.size();
        break;
      case PathNode::Kind::kDirectory:
      case PathNode::Kind::kOther:
        break;
      case PathNode::Kind::kLink: {
        if (++links > kMaxLinks || !AcceptableText(node.target)) return std::nullopt;
        std::optional<ParsedPath> target =
            windows ? ParseWindows(node.target) : ParsePosix(node.target);
        if (!target) return std::nullopt;
        out.components.pop_back();
        if (target->absolute) {
          out.root = std::move(target->root);
          out.components.clear();
        }
        for (auto it = target->components.rbegin(); it != target->components.rend(); ++it) {
          pending.push_back(std::move(*it));
        }
        break;
      }
      case PathNode::Kind::kError:
        return std::nullopt;
    }
  }
  return out;
}

std::optional<ResolvedPath> PathAccess::ResolveShare(std::u16string_view sharedFolder) const {
  if (sharedFolder.empty()) return std::nullopt;
  return Resolve(sharedFolder);
}

bool PathAccess::IsInside(std::u16string_view path, const ResolvedPath& share) const {
  const std::optional<ResolvedPath> resolved = Resolve(path);
  return resolved && Within(*resolved, share);
}

std::optional<std::u16string> PathAccess::PathBelow(std::u16string_view path,
                                                    const ResolvedPath& share) const {
  const std::optional<ResolvedPath> resolved = Resolve(path);
  if (!resolved || !Within(*resolved, share)) return std::nullopt;
  const char16_t separator = style_ == PathStyle::kWindows ? u'\\' : u'/';
  std::u16string below;
  for (size_t i = share.components.size(); i < resolved->components.size(); ++i) {
    if (!below.empty()) below += separator;
    below += resolved->components[i];
  }
  return below;
}

bool PathAccess::IsFolderArgumentInside(std::u16string_view argument, std::u16string_view folder,
                                        const ResolvedPath& share) const {
  if (!AcceptableText(argument)) return false;
  if (!argument.empty()) {
    if (argument[0] == u'/') return false;
    if (style_ == PathStyle::kWindows &&
        (argument[0] == u'\\' || (argument.size() >= 2 && argument[1] == u':'))) {
      return false;
    }
  }
  return IsInside(folder, share);
}

bool PathAccess::IsPlainName(std::u16string_view name) const {
  if (name.empty() || name == u"." || name == u".." || !AcceptableText(name)) return false;
  const std::u16string_view separators = style_ == PathStyle::kWindows ? u"\\/:" : u"/";
  return name.find_first_of(separators) == std::u16string_view::npos;
}

}  // namespace zuvo
