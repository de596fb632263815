// A local writer swaps a folder of the share with a link to outside, over and
// over, while a contact's requests run: no answer may list, offer or open
// anything from outside.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>

#include <atomic>
#include <thread>

#include "core/beta_requests_fixture.h"
#include "files/shared_file.h"

namespace zuvo {
namespace {

TEST_F(BetaRequestsTest, SwappingAFolderAndALinkNeverLeadsOutside) {
  MakeFile("share/sw/f.txt");
  MakeDir("share/sw/in-sub");
  MakeFile("outside/f.txt");
  MakeFile("outside/secret.txt");
  MakeDir("outside/out-sub");
  { std::ofstream(root_ / "share/sw/f.txt") << "inside"; }
  { std::ofstream(root_ / "outside/f.txt") << "outside"; }
  std::filesystem::create_directory_symlink(root_ / "outside", root_ / "share/swap");
  const std::string a = (root_ / "share/sw").string(), b = (root_ / "share/swap").string();

  // Bounded in count: the reader makes kRounds rounds of requests; the
  // writer swaps at least kSwaps times and until the reader is done.
  constexpr int kSwaps = 3000, kRounds = 1500;
  std::atomic<bool> done{false};
  int swaps = 0;
  std::thread writer([&] {
    while (swaps < kSwaps || !done) {
      if (renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) != 0) break;
      ++swaps;
    }
  });

  int escapes = 0, listed = 0, offered = 0;
  const std::u16string file = At("share/sw/f.txt");
  for (int round = 0; round < kRounds; ++round) {
    std::u16string reply;
    Notify(u"rfldr", u"sw", reply);
    listed += reply.find(u"f.txt") != std::u16string::npos;
    escapes += reply.find(u"secret.txt") != std::u16string::npos;
    reply.clear();
    Notify(u"rflds", u"sw", reply);
    escapes += reply.find(u"out-sub") != std::u16string::npos;
    // The file request, then the host's open: what is sent is what it read.
    reply.clear();
    Notify(u"rfile", file, reply);
    SharedFile opened;
    if (OpenSharedFile(server().files(), server().access(), Share(), file, opened) ==
        FsStatus::kOk) {
      char text[16] = {};
      EXPECT_GT(std::fread(text, 1, sizeof text - 1, opened.get()), 0u);
      escapes += std::string(text) == "outside";
      ++offered;
    }
  }
  done = true;
  writer.join();
  EXPECT_GE(swaps, kSwaps);
  EXPECT_EQ(escapes, 0) << "in " << kRounds << " rounds, " << swaps << " swaps";
  // The race was real: the folder was seen both in and out of place.
  EXPECT_GT(listed, 0);
  EXPECT_GT(offered, 0);
}

}  // namespace
}  // namespace zuvo
