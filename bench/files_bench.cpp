// The folder walk against the machine's floor and the usual tools.
//
// Builds, from a fixed seed, a tree of 100,000 files in about 5,000 folders
// (some holding 2,000 files, about a tenth of the names hidden) in a
// temporary folder, then measures, each as the median of warm runs:
//
//   rlist    ListFilesRecursive "*.*" and the reply text (CR-joined paths)
//   pattern  the same with "*.txt;*.jpg"
//   search   FindFileInTree for a name that is nowhere
//   floor    a bare getdents64 walk that touches every name, prints nothing
//   find     GNU find DIR -type f -not -name '.*' > /dev/null (and the
//            matching commands for the pattern and the search)
//   bfs      bfs with find's filter
//   reply    building the reply text for 100,000 and 1,000,000 paths
//
// Times are CPU time (user and system), so that other work on the machine
// does not blur them. The listings are measured twice: writing into the
// caller's reply text kept from the previous request (as the COM object
// keeps it), and into a fresh text, which pays the page faults of its tens
// of megabytes afresh each time (glibc hands such blocks back at once).
//
// It prints each as a ratio, and last one line of key=value pairs.
// ZUVO_BENCH_DIR chooses where the tree is built (default: TMPDIR or /tmp);
// ZUVO_BENCH_TREE names a folder in which the tree is kept between runs.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "base/text.h"
#include "files/dir_recurse.h"
#include "host/common/idle_event_pump.h"
#include "seeded_tree.h"

extern char** environ;

namespace zuvo {
namespace {

using bench::BuildTree;
using bench::kFiles;
using bench::kFolders;
using bench::kSeed;
using bench::RandomWord;
using bench::RemoveTree;
using bench::Tree;

constexpr int kRepetitions = 9;
const char* const kAbsentName = "no-such-file.absent";

// --------------------------------------------------------------- the floor

struct DirentRecord {
  uint64_t d_ino;
  int64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[1];
};

// The least a walk must do: read every folder with getdents64, look at every
// name and its type, open the sub-folders relative to their parent.
uint64_t FloorWalk(int fd, char* buffer, size_t size) {
  uint64_t touched = 0;
  std::vector<std::string> subs;
  while (true) {
    const long got = syscall(SYS_getdents64, fd, buffer, size);
    if (got <= 0) break;
    for (long pos = 0; pos < got;) {
      const auto* rec = reinterpret_cast<const DirentRecord*>(buffer + pos);
      pos += rec->d_reclen;
      const char* name = rec->d_name;
      const size_t len = std::strlen(name);
      touched += len + static_cast<unsigned char>(name[0]);
      if (rec->d_type == DT_DIR &&
          !(name[0] == '.' && (len == 1 || (len == 2 && name[1] == '.')))) {
        subs.emplace_back(name, len);
      }
    }
  }
  for (const std::string& sub : subs) {
    const int child = openat(fd, sub.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (child < 0) continue;
    touched += FloorWalk(child, buffer, size);
    close(child);
  }
  return touched;
}

uint64_t Floor(const std::string& root) {
  static std::vector<char> buffer(128 * 1024);
  const int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const uint64_t touched = FloorWalk(fd, buffer.data(), buffer.size());
  close(fd);
  return touched;
}

// ------------------------------------------------------------------ tools

double ProcessCpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Runs a tool with its output to /dev/null; returns the CPU time (user and
// system) it used.
double Run(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
    std::fprintf(stderr, "cannot run %s\n", argv[0]);
    std::exit(1);
  }
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  auto seconds = [](const timeval& tv) {
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) * 1e-6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

size_t CountLines(const std::vector<std::string>& args) {
  std::string cmd;
  for (const std::string& a : args) cmd += "'" + a + "' ";
  cmd += "| wc -l";
  FILE* p = popen(cmd.c_str(), "r");
  size_t n = 0;
  if (p != nullptr && std::fscanf(p, "%zu", &n) != 1) n = 0;
  if (p != nullptr) pclose(p);
  return n;
}

// ------------------------------------------------------------ the listing

constexpr std::u16string_view kOffer = u"Accepted Request, Offering...";

// Paths made up for the reply's growth: one text, viewed path by path.
struct Synthetic {
  std::u16string text;
  std::vector<std::u16string_view> paths;
};

struct Context {
  Tree tree;
  std::u16string root16;
  std::unique_ptr<FileSystem> fs;
  IdleEventPump pump;
  std::unique_ptr<DirRecurse> dr;
  // The caller's reply text, kept from one request to the next as the COM
  // object keeps it.
  std::u16string reply;
  Synthetic synthetic100k;
  Synthetic synthetic1M;
};
Context* g;

// A listing request's reply, built as ReceiveNotify builds it: the offer,
// then the listing's lines written straight into the reply text. |fresh|:
// into a new text, as for a caller that keeps no text between requests.
size_t ListAndReply(std::u16string_view patterns, bool fresh) {
  std::u16string own;
  std::u16string& reply = fresh ? own : g->reply;
  WriteListingReply(reply, kOffer,
                    [&](PathList& list) { g->dr->ListFilesRecursive(list, g->root16, patterns); });
  return reply.size();
}

// Writes over a block larger than the machine's caches, so that what runs
// next finds its data in memory, as a reply finds the paths a walk has just
// written: otherwise 100,000 paths (tens of megabytes) are read from the
// cache and 1,000,000 from memory, and their ratio shows the cache instead
// of the growth.
void EvictCaches() {
  static std::vector<char> block(1 << 30);
  static char round = 0;
  std::memset(block.data(), ++round, block.size());
  benchmark::DoNotOptimize(block.data());
}

// The reply text for |synthetic|'s paths, appended one by one as a listing
// appends them, into the kept reply text (so that 100,000 and 1,000,000
// paths pay alike for their memory).
size_t BuildReply(const Synthetic& synthetic) {
  WriteListingReply(g->reply, kOffer, [&](PathList& list) {
    for (const std::u16string_view path : synthetic.paths) list.push_back(path);
  });
  return g->reply.size();
}

Synthetic SyntheticPaths(size_t count) {
  std::mt19937_64 rng(kSeed + 1);
  Synthetic s;
  std::vector<size_t> ends;
  for (size_t i = 0; i < count; ++i) {
    s.text +=
        Utf8ToUtf16(g->tree.root + "/" + RandomWord(rng, 6, 14) + "/" + RandomWord(rng, 6, 14) +
                    "/" + RandomWord(rng, 6, 20) + "_" + std::to_string(i) + ".txt");
    ends.push_back(s.text.size());
  }
  size_t begin = 0;
  for (const size_t end : ends) {
    s.paths.push_back(std::u16string_view(s.text).substr(begin, end - begin));
    begin = end;
  }
  return s;
}

std::vector<std::string> FindArgs(const char* tool) {
  return {tool, g->tree.root, "-type", "f", "-not", "-name", ".*"};
}
std::vector<std::string> FindListArgs() { return FindArgs("find"); }
std::vector<std::string> BfsListArgs() { return FindArgs("bfs"); }
std::vector<std::string> FindPatternArgs() {
  return {"find", g->tree.root, "-type", "f", "(",    "-iname", "*.txt",
          "-o",   "-iname",     "*.jpg", ")", "-not", "-name",  ".*"};
}
std::vector<std::string> FindSearchArgs() {
  return {"find", g->tree.root, "-name", kAbsentName, "-print", "-quit"};
}

// Every figure is CPU time (user and system) of the work alone, ours
// measured in this process, the tools' taken from the child's usage: on a
// machine shared with other work the wall clock would mostly measure the
// others. A single-threaded walk with a warm cache uses the CPU all along.
void RegisterAll() {
  // |prepare| runs before each measured run, outside the time.
  auto ours = [](const char* name, auto fn, void (*prepare)() = nullptr) {
    benchmark::RegisterBenchmark(name,
                                 [fn, prepare](benchmark::State& state) {
                                   for (auto _ : state) {
                                     if (prepare != nullptr) prepare();
                                     const double start = ProcessCpuSeconds();
                                     fn();
                                     state.SetIterationTime(ProcessCpuSeconds() - start);
                                   }
                                 })
        ->Iterations(1)
        ->Repetitions(kRepetitions)
        ->ReportAggregatesOnly(true)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
  };
  auto tool = [](const char* name, std::vector<std::string> (*args)()) {
    benchmark::RegisterBenchmark(name,
                                 [args](benchmark::State& state) {
                                   const std::vector<std::string> a = args();
                                   for (auto _ : state) state.SetIterationTime(Run(a));
                                 })
        ->Iterations(1)
        ->Repetitions(kRepetitions)
        ->ReportAggregatesOnly(true)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
  };
  ours("floor", [] { benchmark::DoNotOptimize(Floor(g->tree.root)); });
  ours("rlist", [] { benchmark::DoNotOptimize(ListAndReply(u"*.*", false)); });
  ours("rlist_fresh", [] { benchmark::DoNotOptimize(ListAndReply(u"*.*", true)); });
  tool("find", FindListArgs);
  tool("bfs", BfsListArgs);
  ours("pattern", [] { benchmark::DoNotOptimize(ListAndReply(u"*.txt;*.jpg", false)); });
  ours("pattern_fresh", [] { benchmark::DoNotOptimize(ListAndReply(u"*.txt;*.jpg", true)); });
  tool("find_pattern", FindPatternArgs);
  ours("search", [] {
    std::u16string name = Ascii(kAbsentName);
    std::u16string root = g->root16;
    benchmark::DoNotOptimize(g->dr->FindFileInTree(name, root));
  });
  tool("find_search", FindSearchArgs);
  ours(
      "reply_100k", [] { benchmark::DoNotOptimize(BuildReply(g->synthetic100k)); }, EvictCaches);
  ours(
      "reply_1M", [] { benchmark::DoNotOptimize(BuildReply(g->synthetic1M)); }, EvictCaches);
}

// Keeps the median of every benchmark as the console shows it.
class MedianReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.aggregate_name == "median")
        medians[run.run_name.function_name] = run.real_accumulated_time;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> medians;  // seconds
};

}  // namespace
}  // namespace zuvo

int main(int argc, char** argv) {
  using namespace zuvo;
  benchmark::Initialize(&argc, argv);
  Context context;
  g = &context;
  std::printf("building the tree (seed %llx)...\n", static_cast<unsigned long long>(kSeed));
  // ZUVO_BENCH_TREE keeps the tree for later runs (for profiling): an
  // existing one is used as it is.
  const char* kept = std::getenv("ZUVO_BENCH_TREE");
  if (kept != nullptr && *kept != 0 && access(kept, F_OK) == 0) {
    context.tree = Tree{kept, kFiles, kFolders};
  } else {
    context.tree = BuildTree();
    if (kept != nullptr && *kept != 0 && rename(context.tree.root.c_str(), kept) == 0) {
      context.tree.root = kept;
    }
  }
  context.root16 = Utf8ToUtf16(context.tree.root);
  context.fs = CreatePlatformFileSystem();
  context.dr = std::make_unique<DirRecurse>(*context.fs, context.pump, NativePathStyle());
  context.synthetic100k = SyntheticPaths(100000);
  context.synthetic1M = SyntheticPaths(1000000);

  // Warm the caches, and check that the tools run.
  PathList all;
  context.dr->ListFilesRecursive(all, context.root16, u"*.*");
  const size_t found = CountLines(FindArgs("find"));
  const size_t foundBfs = CountLines(FindArgs("bfs"));
  std::printf(
      "tree %s: %d folders, %d files; listed %zu (find %zu, bfs %zu: they also list\n"
      "the files inside hidden folders)\n",
      context.tree.root.c_str(), context.tree.folders, context.tree.files, all.size(), found,
      foundBfs);
  all = PathList();

  RegisterAll();
  MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  if (kept == nullptr || *kept == 0) RemoveTree(context.tree);

  auto m = [&](const char* name) {
    return reporter.medians.count(name) ? reporter.medians[name] : 0.0;
  };
  auto ratio = [&](const char* a, const char* b) { return m(b) > 0 ? m(a) / m(b) : 0.0; };
  struct Line {
    const char* what;
    const char* a;
    const char* b;
  };
  const Line lines[] = {
      {"recursive listing + reply / getdents floor", "rlist", "floor"},
      {"recursive listing + reply / GNU find", "rlist", "find"},
      {"recursive listing + reply / bfs", "rlist", "bfs"},
      {"GNU find / getdents floor", "find", "floor"},
      {"bfs / getdents floor", "bfs", "floor"},
      {"pattern listing + reply / getdents floor", "pattern", "floor"},
      {"pattern listing + reply / GNU find -iname", "pattern", "find_pattern"},
      {"search, absent name / getdents floor", "search", "floor"},
      {"search, absent name / find -name -print -quit", "search", "find_search"},
      {"recursive listing + reply, fresh text / floor", "rlist_fresh", "floor"},
      {"pattern listing + reply, fresh text / floor", "pattern_fresh", "floor"},
      {"reply for 1,000,000 paths / for 100,000", "reply_1M", "reply_100k"},
  };
  std::printf("\nmedians of %d warm runs (CPU time), as ratios (ours / theirs):\n", kRepetitions);
  for (const Line& l : lines) std::printf("  %-48s %6.2f\n", l.what, ratio(l.a, l.b));
  std::printf(
      "rlist_vs_floor=%.2f rlist_vs_find=%.2f rlist_vs_bfs=%.2f pattern_vs_find=%.2f "
      "search_vs_find=%.2f reply_1M_over_100k=%.2f\n",
      ratio("rlist", "floor"), ratio("rlist", "find"), ratio("rlist", "bfs"),
      ratio("pattern", "find_pattern"), ratio("search", "find_search"),
      ratio("reply_1M", "reply_100k"));
  return 0;
}
