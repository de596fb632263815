// Shared pieces of the fuzz targets: a temporary folder that lives for the
// whole run, where a path leads when the host opens it, and a way to stop
// the run with a message when an invariant breaks. The plug-in object on
// real platform services comes from tests/support/plugin_on_platform.h.
#pragma once

#include <errno.h>
#include <limits.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/plugin_error.h"
#include "base/text.h"
#include "core/beta.h"
#include "core/plugin_server.h"
#include "tests/support/plugin_on_platform.h"

namespace zuvo {
namespace fuzz {

// Reports a broken invariant with the texts involved and stops the run;
// libFuzzer then saves the input that caused it.
[[noreturn]] inline void Fail(const char* what, std::u16string_view a = {},
                              std::u16string_view b = {}) {
  std::fprintf(stderr, "\n*** invariant broken: %s\n", what);
  if (!a.empty()) std::fprintf(stderr, "    [%s]\n", Utf16ToUtf8(a).c_str());
  if (!b.empty()) std::fprintf(stderr, "    [%s]\n", Utf16ToUtf8(b).c_str());
  std::abort();
}

inline void Check(bool ok, const char* what, std::u16string_view a = {},
                  std::u16string_view b = {}) {
  if (!ok) Fail(what, a, b);
}

// A folder below |base| made once per process and removed at exit.
class TempRoot {
 public:
  explicit TempRoot(const char* tag, const char* base = "/tmp") {
    std::string pattern = std::string(base) + "/zuvo-fuzz-" + tag + "-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
      std::perror("mkdtemp");
      std::abort();
    }
    path_ = pattern;
  }
  ~TempRoot() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Where an absolute POSIX path leads when the host opens it: its longest
// prefix that exists as the file system resolves it (links followed), and
// the rest taken lexically. |openable| is false when the rest goes up with
// ".." from below an entry that does not exist, or from below a file, and
// when the file system refuses the path for a loop of links or its length. Empty for a
// path that is not absolute.
struct HostPath {
  std::string path;
  bool openable = true;
};

inline HostPath ResolveAsHost(const std::string& path) {
  namespace fs = std::filesystem;
  if (path.empty() || path[0] != '/') return {};
  const fs::path p(path);
  const std::vector<fs::path> parts(p.begin(), p.end());
  // Binary search for the longest prefix that resolves: every shorter one
  // resolves too.
  size_t lo = 1, hi = parts.size();
  std::string best = "/";
  while (lo <= hi) {
    const size_t mid = (lo + hi) / 2;
    fs::path prefix;
    for (size_t i = 0; i < mid; ++i) prefix /= parts[i];
    char buffer[PATH_MAX];
    if (::realpath(prefix.c_str(), buffer)) {
      best = buffer;
      lo = mid + 1;
    } else {
      hi = mid - 1;
    }
  }
  HostPath out;
  // A path the file system refuses for another reason than a missing entry
  // (a loop of links, too many links, too long) cannot be opened at all.
  char whole[PATH_MAX];
  if (!::realpath(path.c_str(), whole) && errno != ENOENT && errno != ENOTDIR) {
    out.openable = false;
  }
  fs::path resolved(best);
  for (size_t i = std::max<size_t>(hi, 1); i < parts.size(); ++i) {
    if (parts[i] == "..") out.openable = false;
    resolved /= parts[i];
  }
  out.path = resolved.lexically_normal().string();
  if (out.path.size() > 1 && out.path.back() == '/') out.path.pop_back();
  return out;
}

// True when |path| is |folder| or lies below it (both resolved).
inline bool IsWithin(const std::string& path, const std::string& folder) {
  if (folder == "/") return !path.empty() && path[0] == '/';
  return path == folder ||
         (path.size() > folder.size() && path.starts_with(folder) && path[folder.size()] == '/');
}

// Text from fuzz bytes: either UTF-8 (malformed sequences become U+FFFD) or
// raw UTF-16 code units, so that unpaired surrogates reach the code too.
inline std::u16string TextFromBytes(std::string_view bytes, bool rawUtf16) {
  if (!rawUtf16) return Utf8ToUtf16(bytes);
  std::u16string out;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    out.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                        (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  }
  return out;
}

}  // namespace fuzz
}  // namespace zuvo
