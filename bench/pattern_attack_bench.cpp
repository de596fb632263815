// Hostile "rlist" texts against a real folder of 1,000 files with
// 250-character names: the time and the peak memory of one answer, and the
// reply's size. Usage: zuvo_bench_pattern_attack MODE, MODE one of
// ordinary, empty, flood, slow, worst; /usr/bin/time -v gives the peak too.
#include <stdlib.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/text.h"
#include "core/beta.h"
#include "files/wildcard.h"
#include "tests/support/plugin_on_platform.h"

int main(int argc, char** argv) {
  using namespace zuvo;
  const std::string attack = argc > 1 ? argv[1] : "empty";
  char dir[] = "/tmp/zuvo-attack-XXXXXX";
  if (!mkdtemp(dir)) return 1;
  const std::filesystem::path root(dir);
  std::filesystem::create_directories(root / "share");
  for (int i = 0; i < 1000; ++i) {
    std::string name = std::to_string(i) + "-";
    name.append(250 - name.size() - 4, 'a');
    name += ".txt";
    std::ofstream(root / "share" / name) << "x";
  }
  std::u16string text;
  if (attack == "empty") {
    text.assign(20000, u';');  // every empty piece lists every file again
  } else if (attack == "slow") {
    for (int i = 0; i < 100000; ++i) text += i ? u";?*ab" : u"?*ab";  // one 1 MB frame
  } else if (attack == "flood") {
    text.assign(500000, u';');  // one 1 MB frame of empty pieces
  } else if (attack == "worst") {
    // As many different slow pieces as a list may ask, each as long as it
    // may be.
    for (size_t i = 0; i < kMaxPatternPieces; ++i) {
      text += i ? u";*" : u"*";
      text.append(kMaxPatternChars / kMaxPatternPieces - 5, u'a');
      text += u"?" + DecimalText(100 + i);
    }
  } else {
    text = u"*.txt;1*;*.doc";
  }
  double seconds = 0;
  size_t replySize = 0;
  {
    PluginOnPlatform platform(root);
    platform.server->Holder()->Text1 = Utf8ToUtf16((root / "share").string());
    platform.server->Holder()->Text3 = u"1";
    platform.State().sSharingOn = u"1";
    std::u16string reply;
    const auto start = std::chrono::steady_clock::now();
    platform.plugin->ReceiveNotify(u"rlist", text, u"attacker", nullptr, reply);
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    replySize = reply.size();
  }
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%s: request %zu characters, %.3f s, reply %zu characters, peak %ld MB\n",
              attack.c_str(), text.size(), seconds, replySize, usage.ru_maxrss / 1024);
  std::filesystem::remove_all(root);
  return 0;
}
