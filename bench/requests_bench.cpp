// Remote-request replies: the time ReceiveNotify takes to answer "rlist"
// over a folder of 100,000 and of 1,000,000 files (a synthetic folder, so
// that only the plug-in's own work is measured: the listing's matching and
// the reply text). The reply must grow linearly: the last line prints the
// ratio of the medians, which should stay near 10.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "core/beta.h"
#include "core/plugin_server.h"
#include "tests/support/plugin_on_platform.h"

namespace zuvo {
namespace {

// One folder of |count| files, the same on every read.
class SyntheticFolder : public FileSystem {
 public:
  explicit SyntheticFolder(size_t count) {
    for (size_t i = 0; i < count; ++i) {
      const std::u16string name = u"file" + DecimalName(i) + u".txt";
      contents_.entries.push_back({static_cast<uint32_t>(contents_.names.size()),
                                   static_cast<uint32_t>(name.size()), EntryKind::kFile});
      contents_.names += name;
    }
  }
  FsStatus OpenFolder(std::u16string_view, FolderHandle& out) override {
    out.os = 1;
    Adopt(out);
    return FsStatus::kOk;
  }
  FsStatus OpenFolderBelow(const FolderHandle&, std::u16string_view, FolderHandle&) override {
    return FsStatus::kNotFound;
  }
  FsStatus ReadFolder(const FolderHandle&, FolderContents& out) override {
    out = contents_;
    return FsStatus::kOk;
  }

 protected:
  void CloseFolder(FolderHandle&) noexcept override {}

 private:
  static std::u16string DecimalName(size_t value) {
    std::u16string text(7, u'0');
    for (size_t i = 7; i-- > 0; value /= 10) text[i] = static_cast<char16_t>(u'0' + value % 10);
    return text;
  }
  FolderContents contents_;
};

class EveryPathIsAFolder : public PathResolver {
 public:
  PathNode Inspect(std::u16string_view) override { return {PathNode::Kind::kDirectory, {}}; }
};

// The median time, in seconds, of answering "rlist" over |count| files.
double MedianSeconds(size_t count, int runs, size_t& replyLength) {
  char storeDir[] = "/tmp/zuvo-bench-XXXXXX";
  if (!mkdtemp(storeDir)) return 0;
  // Declared first, so removed last: the settings store's folder.
  struct RemoveAtEnd {
    std::string path;
    ~RemoveAtEnd() { std::filesystem::remove_all(path); }
  } store{storeDir};
  SyntheticFolder folder(count);
  EveryPathIsAFolder resolver;
  Platform fakes;
  fakes.fileSystem = &folder;
  fakes.pathResolver = &resolver;
  fakes.pathStyle = PathStyle::kPosix;
  PluginOnPlatform platform(storeDir, fakes);
  PluginServer& server = *platform.server;
  beta& plugin = *platform.plugin;
  server.Holder()->Text1 = u"/srv/share";
  server.Holder()->Text3 = u"0";
  std::u16string ignored;
  plugin.ParseCommand(u"/xron", u"", nullptr, ignored);

  std::vector<double> seconds;
  for (int run = 0; run < runs; ++run) {
    std::u16string reply;
    const auto start = std::chrono::steady_clock::now();
    plugin.ReceiveNotify(u"rlist", u"*.*", u"bench", nullptr, reply);
    seconds.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    replyLength = reply.size();
  }
  std::sort(seconds.begin(), seconds.end());
  return seconds[seconds.size() / 2];
}

}  // namespace
}  // namespace zuvo

int main() {
  size_t small = 0, large = 0;
  const double t100k = zuvo::MedianSeconds(100000, 9, small);
  const double t1m = zuvo::MedianSeconds(1000000, 5, large);
  std::printf("rlist over 100,000 files: %.1f ms, reply %zu characters\n", t100k * 1e3, small);
  std::printf("rlist over 1,000,000 files: %.1f ms, reply %zu characters\n", t1m * 1e3, large);
  std::printf("notify_1M_over_100k=%.2f\n", t1m / t100k);
  return 0;
}
