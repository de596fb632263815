// The Windows file system behind DirRecurse (see the contract in
// file_system.h): folders are read whole with FindFirstFileExW (basic
// information, large fetch), hidden and system entries are left out, links
// and junctions are never walked, and paths use the "\\?\" long-path form
// below an opened folder. The tree search is imagehlp's SearchTreeForFile.
// Only generic Win32 code lives here.
#include <windows.h>
// (windows.h first: imagehlp needs its types)
#include <imagehlp.h>

#include "files/dir_recurse.h"
#include "files/file_system.h"
#include "files/name_order.h"

namespace zuvo {

PathStyle NativePathStyle() { return PathStyle::kWindows; }

namespace {

const wchar_t* Wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

FsStatus StatusFromError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DIRECTORY:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return FsStatus::kNotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return FsStatus::kAccessDenied;
    case ERROR_INVALID_NAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BAD_PATHNAME:
    case ERROR_CANT_RESOLVE_FILENAME:
      return FsStatus::kBadPath;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return FsStatus::kNoMemory;
    case ERROR_TOO_MANY_OPEN_FILES:
    case ERROR_NO_SYSTEM_RESOURCES:
    case ERROR_NOT_ENOUGH_QUOTA:
      return FsStatus::kNoResources;
    default:
      return FsStatus::kIoError;
  }
}

// Symbolic links and junctions; other reparse points (such as cloud-file
// placeholders) are ordinary entries.
bool IsLink(const WIN32_FIND_DATAW& data) {
  return (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
         (data.dwReserved0 == IO_REPARSE_TAG_SYMLINK ||
          data.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT);
}

EntryKind KindOf(const WIN32_FIND_DATAW& data) {
  if (IsLink(data)) return EntryKind::kOther;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) return EntryKind::kOther;
  return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::kFolder : EntryKind::kFile;
}

class ScopedFind {
 public:
  explicit ScopedFind(HANDLE handle) : handle_(handle) {}
  ~ScopedFind() {
    if (valid()) FindClose(handle_);
  }
  ScopedFind(const ScopedFind&) = delete;
  ScopedFind& operator=(const ScopedFind&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

HANDLE FindFirst(const std::u16string& pattern, WIN32_FIND_DATAW& data) {
  return FindFirstFileExW(Wide(pattern), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr,
                          FIND_FIRST_EX_LARGE_FETCH);
}

// The full, normalised path of |prefix| in the long-path form, ending in one
// backslash: "\\?\C:\share\" or "\\?\UNC\server\share\".
bool LongPathPrefix(std::u16string_view prefix, std::u16string& out) {
  std::u16string given(prefix);
  if (given.empty()) return false;
  if (given.rfind(u"\\\\?\\", 0) == 0) {
    out = given;
  } else {
    const DWORD needed = GetFullPathNameW(Wide(given), 0, nullptr, nullptr);
    if (needed == 0) return false;
    std::u16string full(needed, u'\0');
    const DWORD length =
        GetFullPathNameW(Wide(given), needed, reinterpret_cast<wchar_t*>(full.data()), nullptr);
    if (length == 0 || length >= needed) return false;
    full.resize(length);
    if (full.rfind(u"\\\\", 0) == 0) {
      out = u"\\\\?\\UNC\\" + full.substr(2);
    } else {
      out = u"\\\\?\\" + full;
    }
  }
  if (out.back() != u'\\') out.push_back(u'\\');
  return true;
}

std::string ToNarrowExact(const std::u16string& text, bool& exact) {
  exact = true;
  if (text.empty()) return {};
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int count = static_cast<int>(text.size());
  BOOL usedDefault = FALSE;
  const int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, count, nullptr, 0,
                                        nullptr, &usedDefault);
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, count, out.data(), bytes, nullptr,
                      &usedDefault);
  exact = !usedDefault;
  return out;
}

std::u16string FromNarrow(std::string_view text) {
  if (text.empty()) return {};
  const int count = static_cast<int>(text.size());
  const int chars = MultiByteToWideChar(CP_ACP, 0, text.data(), count, nullptr, 0);
  std::u16string out(static_cast<size_t>(chars), u'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), count, reinterpret_cast<wchar_t*>(out.data()), chars);
  return out;
}

class Win32FileSystem final : public FileSystem {
 public:
  FsStatus OpenFolder(std::u16string_view prefix, FolderHandle& out) override {
    std::u16string path;
    if (!LongPathPrefix(prefix, path)) return FsStatus::kBadPath;
    // The folder as the platform resolves it: links in the caller's own path
    // are the caller's choice.
    const DWORD attributes = GetFileAttributesW(Wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) return StatusFromError(GetLastError());
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return FsStatus::kNotFound;
    out.Close();
    out.path = std::move(path);
    out.os = 0;
    Adopt(out);
    return FsStatus::kOk;
  }

  FsStatus OpenFolderBelow(const FolderHandle& base, std::u16string_view relative,
                           FolderHandle& out) override {
    std::u16string path = base.path;
    size_t start = 0;
    while (start <= relative.size()) {
      size_t end = relative.find(u'\\', start);
      if (end == std::u16string_view::npos) end = relative.size();
      const std::u16string_view name = relative.substr(start, end - start);
      if (name.empty() || IsDotName(name) || name.find_first_of(u"*?/") != name.npos) {
        return FsStatus::kBadPath;
      }
      path.append(name);
      // Looked at by name, without following it: a link ends the walk here.
      WIN32_FIND_DATAW data;
      ScopedFind find(FindFirst(path, data));
      if (!find.valid()) return StatusFromError(GetLastError());
      if (IsLink(data) || !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return FsStatus::kNotFound;
      }
      path.push_back(u'\\');
      start = end + 1;
    }
    out.Close();
    out.path = std::move(path);
    out.os = 0;
    Adopt(out);
    return FsStatus::kOk;
  }

  FsStatus ReadFolder(const FolderHandle& folder, FolderContents& out) override {
    out.clear();
    WIN32_FIND_DATAW data;
    ScopedFind find(FindFirst(folder.path + u"*", data));
    if (!find.valid()) {
      const DWORD error = GetLastError();
      // A folder with no entries at all (a drive's empty root) is no error.
      return error == ERROR_FILE_NOT_FOUND ? FsStatus::kOk : StatusFromError(error);
    }
    do {
      const std::u16string_view name(reinterpret_cast<const char16_t*>(data.cFileName));
      if (IsDotName(name)) continue;
      if (data.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) continue;
      FolderEntry entry;
      entry.nameOffset = static_cast<uint32_t>(out.names.size());
      entry.nameLength = static_cast<uint32_t>(name.size());
      entry.kind = KindOf(data);
      out.names.append(name);
      out.entries.push_back(entry);
    } while (FindNextFileW(find.get(), &data));
    const DWORD error = GetLastError();
    // The platform's order is the file system's; make it the same everywhere.
    SortEntries(out);
    return error == ERROR_NO_MORE_FILES ? FsStatus::kOk : StatusFromError(error);
  }

  // imagehlp's search, with narrow text in the ANSI code page. Text the code
  // page cannot hold exactly is not searched for: its stand-in character "?"
  // would be taken as a wildcard, and a best-fit look-alike could name a
  // different file (or a "\" a different folder).
  FsStatus SearchTreeForFile(std::u16string& root, std::u16string& name, char16_t,
                             std::u16string& found) override {
    bool rootExact = false, nameExact = false;
    std::string narrowRoot = ToNarrowExact(root, rootExact);
    std::string narrowName = ToNarrowExact(name, nameExact);
    root = FromNarrow(narrowRoot);
    name = FromNarrow(narrowName);
    if (!rootExact || !nameExact || narrowRoot.empty() || narrowName.empty()) {
      return FsStatus::kNotFound;
    }
    // 512 blanks; the platform writes the path and its terminating NUL.
    std::string buffer(512, ' ');
    if (!::SearchTreeForFile(narrowRoot.data(), narrowName.data(), buffer.data())) {
      return FsStatus::kNotFound;
    }
    buffer.back() = '\0';
    found = FromNarrow(std::string_view(buffer.c_str()));
    return FsStatus::kOk;
  }

 protected:
  void CloseFolder(FolderHandle& handle) noexcept override {
    handle.os = -1;
    handle.path.clear();
  }
};

}  // namespace

std::unique_ptr<FileSystem> CreatePlatformFileSystem() {
  return std::make_unique<Win32FileSystem>();
}

}  // namespace zuvo
