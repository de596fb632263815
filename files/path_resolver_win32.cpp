// Win32 variant of the path resolver. The portable Windows path model has
// already refused device names, streams, trailing dots and blanks and the
// "\\?\" and "\\.\" forms, and has collapsed "." and ".." as the Win32 path
// layer does; what needs the platform is done here: an entry that is a
// reparse point (symbolic link, junction, mount point) is reported as a link
// to its final path, and an 8.3 short name as a link to its long name.
//
// Paths are handed to the platform with the "\\?\" prefix so that long paths
// work; the model's text contains no form that the prefix would change.
#include <windows.h>

#include <string>

#include "files/path_resolver.h"

namespace zuvo {
namespace {

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

std::u16string Narrow16(const std::wstring& text) {
  return std::u16string(text.begin(), text.end());
}

// "C:\x" -> "\\?\C:\x"; "\\server\share\x" -> "\\?\UNC\server\share\x".
std::wstring Extended(std::u16string_view path) {
  if (path.size() >= 2 && path[0] == u'\\' && path[1] == u'\\') {
    return L"\\\\?\\UNC\\" + Wide(path.substr(2));
  }
  return L"\\\\?\\" + Wide(path);
}

// The inverse of Extended for the texts GetFinalPathNameByHandleW and
// GetLongPathNameW give back.
std::u16string Plain(const std::wstring& path) {
  if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) return u"\\\\" + Narrow16(path.substr(8));
  if (path.rfind(L"\\\\?\\", 0) == 0) return Narrow16(path.substr(4));
  return Narrow16(path);
}

bool SameIgnoringCase(const std::u16string& a, std::u16string_view b) {
  return a.size() == b.size() &&
         CompareStringOrdinal(reinterpret_cast<const wchar_t*>(a.data()),
                              static_cast<int>(a.size()),
                              reinterpret_cast<const wchar_t*>(b.data()),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

bool FinalPath(const std::wstring& extended, std::u16string& out) {
  HANDLE h =
      CreateFileW(extended.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  std::wstring buffer(512, L'\0');
  DWORD n = GetFinalPathNameByHandleW(h, buffer.data(), static_cast<DWORD>(buffer.size()),
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (n >= buffer.size()) {
    buffer.resize(n + 1);
    n = GetFinalPathNameByHandleW(h, buffer.data(), static_cast<DWORD>(buffer.size()),
                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  }
  CloseHandle(h);
  if (n == 0 || n >= buffer.size()) return false;
  buffer.resize(n);
  out = Plain(buffer);
  return true;
}

// The long-name form of |path|. The long-path form is used only where it is
// needed: not every implementation expands short names behind "\\?\".
bool LongPath(std::u16string_view path, const std::wstring& extended, std::u16string& out) {
  const std::wstring plain = Wide(path);
  const std::wstring& query = path.size() < MAX_PATH ? plain : extended;
  DWORD n = GetLongPathNameW(query.c_str(), nullptr, 0);
  if (n == 0) return false;
  std::wstring buffer(n, L'\0');
  n = GetLongPathNameW(query.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  if (n == 0 || n >= buffer.size()) return false;
  buffer.resize(n);
  out = Plain(buffer);
  return true;
}

class Win32PathResolver : public PathResolver {
 public:
  PathNode Inspect(std::u16string_view path) override {
    PathNode node;
    const std::wstring extended = Extended(path);
    const DWORD attributes = GetFileAttributesW(extended.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      const DWORD error = GetLastError();
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        node.kind = PathNode::Kind::kMissing;
      }
      return node;
    }
    const PathNode::Kind plainKind = (attributes & FILE_ATTRIBUTE_DIRECTORY)
                                         ? PathNode::Kind::kDirectory
                                         : PathNode::Kind::kOther;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      // Where opening the entry really lands. A reparse point that is no
      // link (a cloud placeholder, say) lands on itself.
      std::u16string finalPath;
      if (!FinalPath(extended, finalPath)) return node;
      if (SameIgnoringCase(finalPath, path)) {
        node.kind = plainKind;
      } else {
        node.kind = PathNode::Kind::kLink;
        node.target = std::move(finalPath);
      }
      return node;
    }
    // An 8.3 short name names the entry whose long name differs from it.
    std::u16string longPath;
    if (path.find(u'~') != std::u16string_view::npos && LongPath(path, extended, longPath) &&
        !SameIgnoringCase(longPath, path)) {
      node.kind = PathNode::Kind::kLink;
      node.target = std::move(longPath);
      return node;
    }
    node.kind = plainKind;
    return node;
  }
};

}  // namespace

std::unique_ptr<PathResolver> CreatePlatformPathResolver() {
  return std::make_unique<Win32PathResolver>();
}

}  // namespace zuvo
