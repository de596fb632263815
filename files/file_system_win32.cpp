// The Windows file system behind DirRecurse (see the contract in
// file_system.h). Folders and files are opened as handles and judged by
// them: a handle's final path (GetFinalPathNameByHandleW) must be where its
// name says, below its parent, and it must be no symbolic link or junction,
// whatever the attributes of its folder entry claim. Folders are read
// through their open handle (GetFileInformationByHandleEx), hidden and
// system entries are left out, and paths use the "\\?\" long-path form.
// Only generic Win32 code lives here.
#include <windows.h>
// (windows.h first: the C runtime's descriptor calls need its types)
#include <fcntl.h>
#include <io.h>

#include <memory>

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
bool IsLinkTag(DWORD attributes, DWORD tag) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
         (tag == IO_REPARSE_TAG_SYMLINK || tag == IO_REPARSE_TAG_MOUNT_POINT);
}

EntryKind KindOf(DWORD attributes, DWORD tag) {
  if (IsLinkTag(attributes, tag)) return EntryKind::kOther;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return EntryKind::kOther;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::kFolder : EntryKind::kFile;
}

class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
  ~ScopedHandle() {
    if (valid()) CloseHandle(handle_);
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE get() const { return handle_; }
  void reset(HANDLE handle) {
    if (valid()) CloseHandle(handle_);
    handle_ = handle;
  }
  HANDLE release() {
    HANDLE h = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return h;
  }

 private:
  HANDLE handle_;
};

// Opens the folder at |path|; with |follow| false a link at its end is
// opened itself, not followed.
HANDLE OpenFolderHandle(const std::u16string& path, bool follow) {
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  return CreateFileW(Wide(path), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     flags, nullptr);
}

// The object name of an open handle as the NT layer reports it, when it is
// a DOS path ("\??\C:\...", turned into "\\?\C:\..."). Wine's
// GetFinalPathNameByHandleW fails for paths longer than MAX_PATH; its NT
// layer does not. On Windows the name is a device path, which never matches
// a final path, so a handle judged by it is refused rather than trusted.
bool NtObjectPath(HANDLE handle, std::u16string& out) {
  using QueryObject = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  static const auto query = reinterpret_cast<QueryObject>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
  if (query == nullptr) return false;
  struct Name {
    USHORT length;
    USHORT maximumLength;
    const wchar_t* buffer;
  };
  // A name of up to 32,767 characters fits.
  std::unique_ptr<Name[]> buffer(
      new Name[(sizeof(Name) + 65536 + sizeof(Name) - 1) / sizeof(Name)]);
  const ULONG size = sizeof(Name) + 65536;
  ULONG got = 0;
  constexpr int kObjectNameInformation = 1;
  if (query(handle, kObjectNameInformation, buffer.get(), size, &got) < 0) return false;
  const std::u16string_view name(reinterpret_cast<const char16_t*>(buffer[0].buffer),
                                 buffer[0].length / sizeof(char16_t));
  if (name.substr(0, 4) != u"\\??\\") return false;
  out.assign(u"\\\\?\\").append(name.substr(4));
  return true;
}

// The final path of an open handle, in the "\\?\" form.
bool FinalPath(HANDLE handle, std::u16string& out) {
  const DWORD flags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
  const DWORD needed = GetFinalPathNameByHandleW(handle, nullptr, 0, flags);
  if (needed != 0) {
    out.assign(needed, u'\0');
    const DWORD length =
        GetFinalPathNameByHandleW(handle, reinterpret_cast<wchar_t*>(out.data()), needed, flags);
    if (length != 0 && length < needed) {
      out.resize(length);
      return true;
    }
  }
  return NtObjectPath(handle, out);
}

bool SameText(std::u16string_view a, std::u16string_view b) {
  return CompareStringOrdinal(reinterpret_cast<const wchar_t*>(a.data()),
                              static_cast<int>(a.size()),
                              reinterpret_cast<const wchar_t*>(b.data()),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// Whether the open |handle| is an entry named |expected| (a full path in the
// "\\?\" form) itself: no symbolic link or junction, and its final path is
// |expected| (letter case aside). |attributes| receives its attributes and
// |final| its final path.
bool IsWhereNamed(HANDLE handle, std::u16string_view expected, DWORD& attributes,
                  std::u16string& final) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return false;
  attributes = info.dwFileAttributes;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    FILE_ATTRIBUTE_TAG_INFO tag;
    // A reparse point whose tag cannot be read counts as a link.
    if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) ||
        IsLinkTag(attributes, tag.ReparseTag)) {
      return false;
    }
  }
  return FinalPath(handle, final) && SameText(final, expected);
}

// A name that can only name an entry of one folder.
bool IsEntryName(std::u16string_view name) {
  return !name.empty() && !IsDotName(name) && name.find_first_of(u"*?/\\:") == name.npos;
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

constexpr DWORD kReadBufferSize = 64 * 1024;

class Win32FileSystem final : public FileSystem {
 public:
  FsStatus OpenFolder(std::u16string_view prefix, FolderHandle& out) override {
    out.Close();
    std::u16string path;
    if (!LongPathPrefix(prefix, path)) return FsStatus::kBadPath;
    // The folder as the platform resolves it: links in the caller's own path
    // are the caller's choice.
    ScopedHandle folder(OpenFolderHandle(path, /*follow=*/true));
    if (!folder.valid()) return StatusFromError(GetLastError());
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(folder.get(), &info)) return StatusFromError(GetLastError());
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return FsStatus::kNotFound;
    std::u16string final;
    if (!FinalPath(folder.get(), final)) return StatusFromError(GetLastError());
    if (final.back() != u'\\') final.push_back(u'\\');
    out.path = std::move(final);
    out.os = reinterpret_cast<intptr_t>(folder.release());
    Adopt(out);
    return FsStatus::kOk;
  }

  FsStatus OpenFolderBelow(const FolderHandle& base, std::u16string_view relative,
                           FolderHandle& out) override {
    out.Close();
    ScopedHandle folder;
    std::u16string path;
    const FsStatus status = OpenPlainFolder(base.path, relative, folder, path);
    if (status != FsStatus::kOk) return status == FsStatus::kBadPath ? FsStatus::kNotFound : status;
    out.path = std::move(path);
    out.os = reinterpret_cast<intptr_t>(folder.release());
    Adopt(out);
    return FsStatus::kOk;
  }

  FsStatus OpenFileBelow(const FolderHandle& base, std::u16string_view relative, std::FILE*& out,
                         uint64_t& size) override {
    out = nullptr;
    size = 0;
    const size_t slash = relative.rfind(u'\\');
    const std::u16string_view name = slash == relative.npos ? relative : relative.substr(slash + 1);
    if (!IsEntryName(name)) return FsStatus::kBadPath;
    std::u16string path = base.path;
    if (slash != relative.npos) {
      ScopedHandle folder;
      const FsStatus status = OpenPlainFolder(base.path, relative.substr(0, slash), folder, path);
      if (status != FsStatus::kOk) return status;
    }
    path.append(name);
    ScopedHandle file(CreateFileW(
        Wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.valid()) {
      const DWORD error = GetLastError();
      // A folder cannot be opened this way; it is no file to send.
      return error == ERROR_ACCESS_DENIED && IsFolderAt(path) ? FsStatus::kNotFound
                                                              : StatusFromError(error);
    }
    DWORD attributes = 0;
    std::u16string final;
    if (!IsWhereNamed(file.get(), path, attributes, final)) return FsStatus::kBadPath;
    LARGE_INTEGER length;
    if (GetFileType(file.get()) != FILE_TYPE_DISK ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) ||
        !GetFileSizeEx(file.get(), &length)) {
      return FsStatus::kNotFound;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file.get()), _O_RDONLY | _O_BINARY);
    if (fd < 0) return FsStatus::kNoMemory;
    file.release();  // the descriptor owns it now
    out = _fdopen(fd, "rb");
    if (out == nullptr) {
      _close(fd);
      return FsStatus::kNoMemory;
    }
    size = static_cast<uint64_t>(length.QuadPart);
    return FsStatus::kOk;
  }

  FsStatus ReadFolder(const FolderHandle& folder, FolderContents& out) override {
    out.clear();
    if (!folder.is_open()) return FsStatus::kNotFound;
    const HANDLE handle = reinterpret_cast<HANDLE>(folder.os);
    if (!buffer_) buffer_ = std::make_unique<unsigned char[]>(kReadBufferSize);
    FsStatus status = FsStatus::kOk;
    FILE_INFO_BY_HANDLE_CLASS request = FileIdBothDirectoryRestartInfo;
    while (GetFileInformationByHandleEx(handle, request, buffer_.get(), kReadBufferSize)) {
      request = FileIdBothDirectoryInfo;
      for (size_t pos = 0;;) {
        const auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer_.get() + pos);
        AddEntry(folder, *info, out);
        if (info->NextEntryOffset == 0) break;
        pos += info->NextEntryOffset;
      }
    }
    const DWORD error = GetLastError();
    // A folder with no entries at all (a drive's empty root) is no error.
    if (error != ERROR_NO_MORE_FILES && error != ERROR_FILE_NOT_FOUND) {
      status = StatusFromError(error);
    }
    // The platform's order is the file system's; make it the same everywhere.
    SortEntries(out);
    return status;
  }

  // The ANSI code page, as the narrow calls of the platform use it. Text the
  // code page cannot hold exactly is refused: its stand-in character "?" or a
  // best-fit look-alike would name a different file.
  bool RoundTripNarrow(std::u16string& text) override {
    bool exact = false;
    const std::string narrow = ToNarrowExact(text, exact);
    text = FromNarrow(narrow);
    return exact;
  }

 protected:
  void CloseFolder(FolderHandle& handle) noexcept override {
    if (handle.os != -1 && handle.os != 0) CloseHandle(reinterpret_cast<HANDLE>(handle.os));
    handle.os = -1;
    handle.path.clear();
  }

 private:
  // Adds one entry of a folder read through its handle. An entry whose
  // attributes say "folder" is a folder only when it opens as one where its
  // name says: a link the platform does not report as one (Wine shows a
  // Unix link to a folder as a plain folder) is left out.
  void AddEntry(const FolderHandle& folder, const FILE_ID_BOTH_DIR_INFO& info,
                FolderContents& out) {
    const std::u16string_view name(reinterpret_cast<const char16_t*>(info.FileName),
                                   info.FileNameLength / sizeof(char16_t));
    if (IsDotName(name)) return;
    const DWORD attributes = info.FileAttributes;
    if (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) return;
    // A reparse point's tag is where the extended-attribute size would be.
    EntryKind kind = KindOf(attributes, info.EaSize);
    if (kind == EntryKind::kFolder) {
      scratch_.assign(folder.path).append(name);
      ScopedHandle child(OpenFolderHandle(scratch_, /*follow=*/false));
      DWORD childAttributes = 0;
      if (child.valid() && !IsWhereNamed(child.get(), scratch_, childAttributes, final_)) return;
    }
    FolderEntry entry;
    entry.nameOffset = static_cast<uint32_t>(out.names.size());
    entry.nameLength = static_cast<uint32_t>(name.size());
    entry.kind = kind;
    out.names.append(name);
    out.entries.push_back(entry);
  }

  // Opens the folder |relative| below the folder whose final path (with its
  // separator) is |basePath|, one name at a time, each judged by its handle;
  // |path| becomes its final path with a separator. kBadPath when a name
  // is a link or leads anywhere but where it says.
  FsStatus OpenPlainFolder(const std::u16string& basePath, std::u16string_view relative,
                           ScopedHandle& folder, std::u16string& path) {
    path = basePath;
    size_t start = 0;
    while (true) {
      size_t end = relative.find(u'\\', start);
      if (end == std::u16string_view::npos) end = relative.size();
      const std::u16string_view name = relative.substr(start, end - start);
      if (!IsEntryName(name)) return FsStatus::kBadPath;
      path.append(name);
      ScopedHandle next(OpenFolderHandle(path, /*follow=*/false));
      if (!next.valid()) return StatusFromError(GetLastError());
      DWORD attributes = 0;
      if (!IsWhereNamed(next.get(), path, attributes, final_)) return FsStatus::kBadPath;
      if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return FsStatus::kNotFound;
      path = final_;
      path.push_back(u'\\');
      if (end == relative.size()) {
        folder.reset(next.release());
        return FsStatus::kOk;
      }
      start = end + 1;
    }
  }

  static bool IsFolderAt(const std::u16string& path) {
    const DWORD attributes = GetFileAttributesW(Wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  }

  std::unique_ptr<unsigned char[]> buffer_;
  std::u16string scratch_;
  std::u16string final_;
};

}  // namespace

std::unique_ptr<FileSystem> CreatePlatformFileSystem() {
  return std::make_unique<Win32FileSystem>();
}

}  // namespace zuvo
