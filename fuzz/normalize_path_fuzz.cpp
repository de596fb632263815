// NormalizePath in both path styles: it does what its steps say (checked
// against a transcription written apart from it), never lengthens a path,
// leaves no "/" in a Windows path of 3 or more characters, and never moves
// a folder: the folder prefix it gives resolves, under the access rules'
// path model, to the place the path named before.
#include <fuzzer/FuzzedDataProvider.h>

#include <map>

#include "files/dir_recurse.h"
#include "files/path_access.h"
#include "fuzz/fuzz_support.h"

namespace zuvo::fuzz {
namespace {

std::u16string Transcribed(std::u16string p, PathStyle style) {
  const char16_t sep = style == PathStyle::kWindows ? u'\\' : u'/';
  if (p.size() >= 3) {
    while (!p.empty() && p.back() == sep) p.erase(p.size() - 1);
    if (style == PathStyle::kWindows) {
      for (size_t i = 0; i < p.size(); ++i) {
        if (p[i] == u'/') p[i] = u'\\';
      }
    }
  }
  if (p.size() < 3) return p;
  std::u16string rest;
  for (size_t i = 2; i < p.size();) {
    const bool pair = p[i] == sep && i + 1 < p.size() && p[i + 1] == sep;
    rest += p[i];
    i += pair ? 2 : 1;
  }
  return p.substr(0, 2) + rest;
}

// Every name is a folder, except what the path model needs to see links.
class AllFolders : public PathResolver {
 public:
  PathNode Inspect(std::u16string_view path) override {
    if (path.ends_with(u"lnk")) return {PathNode::Kind::kLink, u".."};
    return {PathNode::Kind::kDirectory, {}};
  }
};

// Fuzz bytes mostly as separators, drive letters and short names.
std::u16string Text(FuzzedDataProvider& in) {
  static const char16_t* const kPieces[] = {u"\\",  u"/",    u"C:", u"a",   u"..", u".",
                                            u"lnk", u"\\\\", u"//", u"x y", u":"};
  std::u16string out;
  while (in.remaining_bytes() > 0) {
    const uint8_t b = in.ConsumeIntegral<uint8_t>();
    if (b < 220) {
      out += kPieces[b % std::size(kPieces)];
    } else {
      out += char16_t(b);
    }
  }
  return out;
}

}  // namespace
}  // namespace zuvo::fuzz

using namespace zuvo;
using namespace zuvo::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::unique_ptr<FileSystem> files = CreatePlatformFileSystem();
  static NoEvents events;
  static AllFolders resolver;
  FuzzedDataProvider in(data, size);
  const PathStyle style = in.ConsumeBool() ? PathStyle::kWindows : PathStyle::kPosix;
  const std::u16string path =
      in.ConsumeBool() ? TextFromBytes(in.ConsumeRemainingBytesAsString(), size % 2) : Text(in);

  DirRecurse dir(*files, events, style);
  const std::u16string normal = dir.NormalizePath(path);
  Check(normal == Transcribed(path, style), "NormalizePath does not follow its steps", path,
        normal);
  Check(normal.size() <= path.size(), "NormalizePath lengthened a path", path, normal);
  if (style == PathStyle::kWindows && path.size() >= 3) {
    Check(normal.find(u'/') == std::u16string::npos, "a / is left in a Windows path", path, normal);
  }

  // The folder prefix names the folder the path named.
  const PathAccess access(resolver, style);
  const std::u16string prefix = normal + dir.separator();
  const std::u16string plain = path + dir.separator();
  const std::optional<ResolvedPath> before = access.Resolve(plain);
  const std::optional<ResolvedPath> after = access.Resolve(prefix);
  if (before)
    Check(after && *after == *before, "the folder prefix names another folder", plain, prefix);
  return 0;
}
