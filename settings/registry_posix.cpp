// The POSIX registry stand-in: the keys and values live in one text file in
// the style of a registry export (REGEDIT4):
//
//   REGEDIT4
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Dravoux\Parlix2\RegisteredPlugins\ZuvoFiles]
//   "Shared Folder"="/srv/share"
//   "Start On"=hex(1):31
//
// Values are UTF-16 text at the seam and UTF-8 in the file; a text that
// UTF-8 cannot carry (a lone surrogate) is refused, never stored as
// another. A quoted value stands for its UTF-8 bytes followed by a terminating NUL;
// inside it only \\ and \" are escapes. Any other byte sequence (no NUL at
// the end, an inner NUL, control characters, bytes that are not UTF-8) is
// written as hex(1): with the exact bytes. Value names are quoted the same
// way, with \xHH for the bytes a quoted text cannot show; @ is the key's
// unnamed value. Key and value names compare without regard to ASCII case,
// as the registry's do; a section also makes its parent keys exist.
//
// Every write takes an exclusive lock on "<store>.lock", reads the current
// file afresh (so that another process's values are kept), and replaces the
// file atomically: a temporary file in the same folder is written, flushed
// and renamed over the store, and the folder is flushed. Reads take the file
// as it is; they reload it whenever it has been replaced. A store that does
// not parse is never rewritten.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <stdexcept>
#include <vector>

#include "base/text.h"
#include "settings/registry_backend.h"

namespace zuvo {
namespace {

constexpr char kHeader[] = "REGEDIT4";
constexpr char kHexPrefix[] = "hex(1):";
constexpr size_t kHexBytesPerLine = 25;

constexpr std::pair<std::string_view, RootKey> kRootNames[] = {
    {"HKEY_CLASSES_ROOT", 0x80000000},     {"HKEY_CURRENT_USER", 0x80000001},
    {"HKEY_LOCAL_MACHINE", 0x80000002},    {"HKEY_USERS", 0x80000003},
    {"HKEY_PERFORMANCE_DATA", 0x80000004}, {"HKEY_CURRENT_CONFIG", 0x80000005},
    {"HKEY_DYN_DATA", 0x80000006},
};

std::string_view RootName(RootKey root) {
  for (const auto& [name, key] : kRootNames) {
    if (key == root) return name;
  }
  return {};
}

// The comparison form of a key path or value name.
std::string Fold(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  }
  return out;
}

struct StoredValue {
  std::string name;  // as first written
  std::string data;  // the exact bytes
};

struct StoredKey {
  std::string path;                           // full path, root name first
  std::map<std::string, StoredValue> values;  // by folded name
};

struct Store {
  std::map<std::string, StoredKey> keys;  // by folded full path

  // Adds |path| and every key above it below its root (a root key is only
  // listed when it holds values itself). Returns the key itself.
  StoredKey& AddKey(const std::string& path) {
    size_t end = path.find('\\');
    StoredKey* last = nullptr;
    do {
      end = end == std::string::npos ? end : path.find('\\', end + 1);
      const std::string prefix = path.substr(0, end);
      StoredKey& key = keys[Fold(prefix)];
      if (key.path.empty()) key.path = prefix;
      last = &key;
    } while (end != std::string::npos);
    return *last;
  }
};

// Identity of the file a store was read from; a replaced file differs.
struct FileId {
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  timespec mtime{};
  timespec ctime{};

  static FileId Of(const struct stat& st) {
    FileId id;
    id.exists = true;
    id.dev = st.st_dev;
    id.ino = st.st_ino;
    id.size = st.st_size;
    id.mtime = st.st_mtim;
    id.ctime = st.st_ctim;
    return id;
  }
  bool operator==(const FileId& o) const {
    return exists == o.exists && dev == o.dev && ino == o.ino && size == o.size &&
           mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec &&
           ctime.tv_sec == o.ctime.tv_sec && ctime.tv_nsec == o.ctime.tv_nsec;
  }
};

// ---- Parsing ----------------------------------------------------------------

class ParseError : public std::runtime_error {
 public:
  ParseError(size_t line, const std::string& why) : std::runtime_error(why), line(line) {}
  size_t line;
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsBlank(std::string_view s) { return s.find_first_not_of(" \t") == std::string_view::npos; }

// Reads a quoted text starting at s[pos] == '"'; |names| allows \xHH.
std::string ParseQuoted(std::string_view s, size_t& pos, bool names, size_t line) {
  std::string out;
  ++pos;
  while (true) {
    if (pos >= s.size()) throw ParseError(line, "unterminated quoted text");
    const char c = s[pos++];
    if (c == '"') return out;
    if (c != '\\') {
      out.push_back(c);
      continue;
    }
    if (pos >= s.size()) throw ParseError(line, "unterminated quoted text");
    const char e = s[pos++];
    if (e == '\\' || e == '"') {
      out.push_back(e);
    } else if (names && e == 'x' && pos + 1 < s.size() && HexDigit(s[pos]) >= 0 &&
               HexDigit(s[pos + 1]) >= 0) {
      out.push_back(static_cast<char>(HexDigit(s[pos]) * 16 + HexDigit(s[pos + 1])));
      pos += 2;
    } else {
      throw ParseError(line, std::string("unknown escape \\") + e);
    }
  }
}

std::string StripLine(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
    line.remove_suffix(1);
  }
  return std::string(line);
}

Store ParseStore(std::string_view text) {
  Store store;
  std::vector<std::string> lines;
  for (size_t start = 0; start <= text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    lines.push_back(StripLine(text.substr(start, end - start)));
    start = end + 1;
  }
  if (text.empty()) return store;
  if (lines[0] != kHeader) throw ParseError(1, std::string("the first line must read ") + kHeader);

  StoredKey* current = nullptr;
  for (size_t i = 1; i < lines.size(); ++i) {
    const size_t lineNo = i + 1;
    const std::string& line = lines[i];
    if (IsBlank(line) || line[0] == ';') continue;
    if (line[0] == '[') {
      if (line.back() != ']') throw ParseError(lineNo, "a key line must end with ]");
      const std::string path = line.substr(1, line.size() - 2);
      const size_t slash = path.find('\\');
      const std::string root = path.substr(0, slash);
      bool known = false;
      for (const auto& [name, key] : kRootNames) known = known || name == root;
      if (!known) throw ParseError(lineNo, "unknown root key \"" + root + "\"");
      if (path.back() == '\\' || path.find("\\\\") != std::string::npos) {
        throw ParseError(lineNo, "empty key name in \"" + path + "\"");
      }
      current = &store.AddKey(path);
      continue;
    }
    if (line[0] != '"' && line[0] != '@') throw ParseError(lineNo, "expected [key] or a value");
    if (!current) throw ParseError(lineNo, "a value before the first key");

    size_t pos = 0;
    std::string name;
    if (line[0] == '@') {
      pos = 1;
    } else {
      name = ParseQuoted(line, pos, true, lineNo);
    }
    if (pos >= line.size() || line[pos] != '=') throw ParseError(lineNo, "expected = after name");
    ++pos;
    std::string data;
    if (pos < line.size() && line[pos] == '"') {
      data = ParseQuoted(line, pos, false, lineNo);
      data.push_back('\0');
      if (pos != line.size()) throw ParseError(lineNo, "text after the quoted value");
    } else if (line.compare(pos, std::strlen(kHexPrefix), kHexPrefix) == 0) {
      pos += std::strlen(kHexPrefix);
      // Bytes as two hex digits separated by commas; a line ending in ",\"
      // goes on in the next line.
      std::string rest = line.substr(pos);
      while (!rest.empty() && rest.back() == '\\') {
        rest.pop_back();
        if (++i >= lines.size()) throw ParseError(lineNo, "continued value at end of file");
        rest += lines[i].substr(lines[i].find_first_not_of(" \t") == std::string::npos
                                    ? lines[i].size()
                                    : lines[i].find_first_not_of(" \t"));
      }
      size_t p = 0;
      while (p < rest.size()) {
        if (p + 1 >= rest.size() || HexDigit(rest[p]) < 0 || HexDigit(rest[p + 1]) < 0) {
          throw ParseError(lineNo, "bad hex byte");
        }
        data.push_back(static_cast<char>(HexDigit(rest[p]) * 16 + HexDigit(rest[p + 1])));
        p += 2;
        if (p < rest.size()) {
          if (rest[p] != ',' || p + 1 == rest.size()) throw ParseError(lineNo, "bad hex list");
          ++p;
        }
      }
    } else {
      throw ParseError(lineNo, "expected a quoted value or hex(1):");
    }
    StoredValue& value = current->values[Fold(name)];
    if (value.name.empty()) value.name = name;
    value.data = std::move(data);
  }
  return store;
}

// ---- Writing ----------------------------------------------------------------

// Whether |data| can be written as a quoted value: UTF-8 text without
// control characters, followed by exactly one NUL.
bool Quotable(std::string_view data) {
  if (data.empty() || data.back() != '\0') return false;
  data.remove_suffix(1);
  for (unsigned char c : data) {
    if (c < 0x20 || c == 0x7F) return false;
  }
  bool valid = false;
  Utf8ToUtf16(data, &valid);
  return valid;
}

void AppendQuoted(std::string& out, std::string_view text, bool names) {
  bool validUtf8 = true;
  if (names) Utf8ToUtf16(text, &validUtf8);
  out.push_back('"');
  for (unsigned char c : text) {
    if (c == '\\' || c == '"') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else if (names && (c < 0x20 || c == 0x7F || (c >= 0x80 && !validUtf8))) {
      static constexpr char kDigits[] = "0123456789abcdef";
      out += "\\x";
      out.push_back(kDigits[c >> 4]);
      out.push_back(kDigits[c & 15]);
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  out.push_back('"');
}

std::string FormatStore(const Store& store) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out = std::string(kHeader) + "\n";
  for (const auto& [folded, key] : store.keys) {
    out += "\n[" + key.path + "]\n";
    for (const auto& [foldedName, value] : key.values) {
      if (value.name.empty()) {
        out += "@";
      } else {
        AppendQuoted(out, value.name, true);
      }
      out += "=";
      if (Quotable(value.data)) {
        AppendQuoted(out, std::string_view(value.data).substr(0, value.data.size() - 1), false);
      } else {
        out += kHexPrefix;
        for (size_t i = 0; i < value.data.size(); ++i) {
          const unsigned char c = static_cast<unsigned char>(value.data[i]);
          if (i > 0) out += (i % kHexBytesPerLine == 0) ? ",\\\n  " : ",";
          out.push_back(kDigits[c >> 4]);
          out.push_back(kDigits[c & 15]);
        }
      }
      out += "\n";
    }
  }
  return out;
}

// ---- Files ------------------------------------------------------------------

std::string Describe(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

// Holds an exclusive lock on the store's lock file while alive.
class StoreLock {
 public:
  explicit StoreLock(const std::string& lockPath) {
    fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) return;
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        ::close(fd_);
        fd_ = -1;
        return;
      }
    }
  }
  ~StoreLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Reads and parses the store file. A missing file is an empty store with
// id.exists false. Throws std::runtime_error naming the file (and the line
// for a parse error).
Store ReadStore(const std::string& path, FileId& id) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) {
      id = FileId{};
      return Store{};
    }
    throw std::runtime_error(Describe("cannot open registry store", path));
  }
  struct stat st;
  std::string text;
  bool ok = ::fstat(fd, &st) == 0;
  if (ok) {
    char chunk[65536];
    while (true) {
      const ssize_t n = ::read(fd, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) ok = false;
      if (n <= 0) break;
      text.append(chunk, static_cast<size_t>(n));
    }
  }
  const int savedErrno = errno;
  ::close(fd);
  if (!ok) {
    errno = savedErrno;
    throw std::runtime_error(Describe("cannot read registry store", path));
  }
  id = FileId::Of(st);
  try {
    return ParseStore(text);
  } catch (const ParseError& e) {
    throw std::runtime_error("malformed registry store " + path + ":" + std::to_string(e.line) +
                             ": " + e.what());
  }
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

class FileRegistry : public RegistryBackend {
 public:
  explicit FileRegistry(std::string path) : path_(std::move(path)) {
    const size_t slash = path_.rfind('/');
    dir_ = slash == std::string::npos ? "." : (slash == 0 ? "/" : path_.substr(0, slash));
    base_ = slash == std::string::npos ? path_ : path_.substr(slash + 1);
    lockPath_ = path_ + ".lock";

    store_ = ReadStore(path_, loaded_);
    if (loaded_.exists) return;
    // A missing store is created empty, under the lock, unless another
    // process has created it meanwhile.
    StoreLock lock(lockPath_);
    if (!lock.held()) throw std::runtime_error(Describe("cannot lock registry store", path_));
    store_ = ReadStore(path_, loaded_);
    if (!loaded_.exists && WriteStore(store_) != reg::kSuccess) {
      throw std::runtime_error(Describe("cannot create registry store", path_));
    }
  }

  long OpenKey(RootKey root, const std::string& subKey, KeyAccess access, KeyHandle& key) override {
    std::string path;
    const long status = KeyPath(root, subKey, path);
    if (status != reg::kSuccess) return status;
    if (!Refresh()) return reg::kBadDb;
    if (!subKey.empty() && !store_.keys.count(Fold(path))) return reg::kFileNotFound;
    key = nextHandle_;
    nextHandle_ += 4;
    open_[key] = {path, access};
    return reg::kSuccess;
  }

  long QueryValue(KeyHandle key, const std::string& valueName, char16_t* buffer,
                  uint32_t& size) override {
    auto handle = open_.find(key);
    if (handle == open_.end()) return reg::kInvalidHandle;
    auto stored = store_.keys.find(Fold(handle->second.path));
    if (stored == store_.keys.end()) return reg::kFileNotFound;
    auto value = stored->second.values.find(Fold(valueName));
    if (value == stored->second.values.end()) return reg::kFileNotFound;
    const std::u16string data = Utf8ToUtf16(value->second.data);
    if (data.size() > size || buffer == nullptr) {
      const bool fits = data.size() <= size;
      size = static_cast<uint32_t>(data.size());
      return fits ? reg::kSuccess : reg::kMoreData;
    }
    data.copy(buffer, data.size());
    if ((data.empty() || data.back() != u'\0') && data.size() < size) buffer[data.size()] = u'\0';
    size = static_cast<uint32_t>(data.size());
    return reg::kSuccess;
  }

  long SetValue(KeyHandle key, const std::string& valueName, std::u16string_view text) override {
    auto handle = open_.find(key);
    if (handle == open_.end()) return reg::kInvalidHandle;
    if (handle->second.access != KeyAccess::kWrite) return reg::kAccessDenied;
    bool exact = false;
    const std::string data = Utf16ToUtf8(text, &exact);
    if (!exact) return reg::kNoUnicodeTranslation;
    const std::string path = handle->second.path;
    return Mutate([&](Store& store) {
      auto stored = store.keys.find(Fold(path));
      if (stored == store.keys.end()) {
        if (path.find('\\') != std::string::npos) return reg::kFileNotFound;
        stored = store.keys.emplace(Fold(path), StoredKey{path, {}}).first;  // a root key
      }
      StoredValue& value = stored->second.values[Fold(valueName)];
      if (value.name.empty()) value.name = valueName;
      value.data.assign(data);
      return reg::kSuccess;
    });
  }

  long CloseKey(KeyHandle key) override {
    return open_.erase(key) ? reg::kSuccess : reg::kInvalidHandle;
  }

  long CreateKey(RootKey root, const std::string& subKey) override {
    std::string path;
    long status = KeyPath(root, subKey, path);
    if (status != reg::kSuccess) return status;
    for (unsigned char c : subKey) {
      if (c < 0x20 || c == 0x7F) return reg::kInvalidParameter;
    }
    if (!Refresh()) return reg::kBadDb;
    if (subKey.empty() || store_.keys.count(Fold(path))) return reg::kSuccess;
    return Mutate([&](Store& store) {
      store.AddKey(path);
      return reg::kSuccess;
    });
  }

  std::string ToNarrow(std::u16string_view text) const override { return Utf16ToUtf8(text); }
  std::u16string FromNarrow(std::string_view text) const override { return Utf8ToUtf16(text); }

 private:
  // The full path of a key; an unknown root or an empty key name fails.
  static long KeyPath(RootKey root, const std::string& subKey, std::string& path) {
    const std::string_view rootName = RootName(root);
    if (rootName.empty()) return reg::kInvalidHandle;
    path = rootName;
    if (subKey.empty()) return reg::kSuccess;
    if (subKey.front() == '\\' || subKey.back() == '\\' ||
        subKey.find("\\\\") != std::string::npos) {
      return reg::kFileNotFound;
    }
    path += '\\';
    path += subKey;
    return reg::kSuccess;
  }

  // Reloads the store when the file has been replaced since it was read.
  // False when it cannot be read or no longer parses.
  bool Refresh() {
    struct stat st;
    FileId now;
    if (::stat(path_.c_str(), &st) == 0) now = FileId::Of(st);
    if (now == loaded_ && !broken_) return true;
    try {
      store_ = ReadStore(path_, loaded_);
      broken_ = false;
    } catch (const std::runtime_error&) {
      broken_ = true;
    }
    return !broken_;
  }

  // Applies |change| to the current file under the exclusive lock and
  // replaces the file with the result.
  template <typename Change>
  long Mutate(Change&& change) {
    StoreLock lock(lockPath_);
    if (!lock.held()) return reg::kAccessDenied;
    Store fresh;
    FileId freshId;
    try {
      fresh = ReadStore(path_, freshId);
    } catch (const std::runtime_error&) {
      broken_ = true;
      return reg::kBadDb;
    }
    const long status = change(fresh);
    if (status != reg::kSuccess) return status;
    const long written = WriteStore(fresh);
    if (written == reg::kSuccess) {
      store_ = std::move(fresh);
      broken_ = false;
    }
    return written;
  }

  // Replaces the store file with |store|. The caller holds the lock.
  long WriteStore(const Store& store) {
    RemoveStaleTemporaries();
    std::string temp = dir_ + "/." + base_ + ".tmp.XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return errno == EACCES ? reg::kAccessDenied : reg::kWriteFault;
    struct stat st;
    const mode_t mode = ::stat(path_.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
    const bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, FormatStore(store)) && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !ok || ::rename(temp.c_str(), path_.c_str()) != 0) {
      ::unlink(temp.c_str());
      return reg::kWriteFault;
    }
    const int dirFd = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
      ::fsync(dirFd);
      ::close(dirFd);
    }
    if (::stat(path_.c_str(), &st) == 0) loaded_ = FileId::Of(st);
    return reg::kSuccess;
  }

  // Temporary files are only made under the lock; one found while holding
  // the lock was left by a writer that died.
  void RemoveStaleTemporaries() {
    DIR* dir = ::opendir(dir_.c_str());
    if (!dir) return;
    const std::string prefix = "." + base_ + ".tmp.";
    while (const dirent* entry = ::readdir(dir)) {
      if (std::string_view(entry->d_name).starts_with(prefix)) {
        ::unlinkat(::dirfd(dir), entry->d_name, 0);
      }
    }
    ::closedir(dir);
  }

  std::string path_;
  std::string dir_;
  std::string base_;
  std::string lockPath_;
  Store store_;
  FileId loaded_;
  bool broken_ = false;
  struct OpenedKey {
    std::string path;
    KeyAccess access;
  };
  std::map<KeyHandle, OpenedKey> open_;
  KeyHandle nextHandle_ = 0x1000;
};

}  // namespace

std::unique_ptr<RegistryBackend> OpenPlatformRegistry(const std::string& storePath) {
  return std::make_unique<FileRegistry>(storePath);
}

}  // namespace zuvo
