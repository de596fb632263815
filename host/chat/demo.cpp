// zuvo-host demo: the plug-in's main job in one command. Two users, Ann and
// Bob, each with a host of their own (a separate plug-in server, settings
// store and downloads folder) on a thread of their own, talk over a
// loopback connection. A script types their lines and checks that each
// step gives what it should; the transcript shows both sides.
#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iostream>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include "base/text.h"
#include "host/chat/chat_host.h"
#include "host/chat/chat_main.h"
#include "host/chat/plugin_loader.h"
#include "host/common/command_line.h"
#include "host/common/path_text.h"
#include "host/common/settings_key.h"

namespace zuvo::chat {
namespace fs = std::filesystem;
using namespace std::chrono_literals;
namespace {

constexpr auto kStepTimeout = 15s;

std::mutex g_printMutex;

void Print(const std::string& line) {
  std::lock_guard lock(g_printMutex);
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// One user's side: the transcript lines it shows, kept for the checks.
class DemoUser : public ChatOutput {
 public:
  DemoUser(std::string name, const fs::path& home) : name_(std::move(name)), home_(home) {
    fs::create_directories(downloads());
  }

  const std::string& name() const { return name_; }
  fs::path downloads() const { return home_ / "downloads"; }
  fs::path registryFile() const { return home_ / "settings.reg"; }

  void Line(const std::string& text) override { Lines({text}); }
  void Lines(const std::vector<std::string>& lines) override {
    std::lock_guard lock(mutex_);
    for (const std::string& text : lines) {
      Print("  [" + name_ + "] " + text);
      lines_.push_back(text);
    }
    changed_.notify_all();
  }
  void Progress(uint32_t, const std::string&, unsigned) override {}
  void ProgressEnd(uint32_t) override {}
  bool EchoTyped() const override { return false; }

  size_t Mark() {
    std::lock_guard lock(mutex_);
    return lines_.size();
  }

  // Waits until the lines shown since |mark| satisfy |done|.
  bool WaitFor(size_t mark, const std::function<bool(const std::vector<std::string>&)>& done) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kStepTimeout, [&] {
      return done(std::vector<std::string>(lines_.begin() + mark, lines_.end()));
    });
  }
  std::vector<std::string> Since(size_t mark) {
    std::lock_guard lock(mutex_);
    return std::vector<std::string>(lines_.begin() + mark, lines_.end());
  }

  void Type(const std::string& line) {
    Print(name_ + "> " + line);
    events.Push(Event::Line(Utf8ToUtf16(line)));
  }

  EventQueue events;

 private:
  std::string name_;
  fs::path home_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
};

bool Has(const std::vector<std::string>& lines, const std::string& text) {
  for (const std::string& l : lines) {
    if (l.find(text) != std::string::npos) return true;
  }
  return false;
}

// The entries of the contact's last listing: the indented lines under its
// header line ("Bob shares /tmp/.../share:"), relative to the share.
std::vector<std::string> ListedEntries(const std::vector<std::string>& lines,
                                       const std::string& header) {
  std::vector<std::string> out;
  bool in = false;
  for (const std::string& l : lines) {
    if (l.find(header) != std::string::npos) {
      in = true;
    } else if (in && l.starts_with("  ")) {
      out.push_back(l.substr(2));
    } else {
      in = false;
    }
  }
  return out;
}

void WriteFile(const fs::path& p, const std::string& bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << bytes;
}

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The sample shared folder: a few folders and files.
void MakeSampleShare(const fs::path& share, const fs::path& secret) {
  WriteFile(share / "readme.txt", "Bob's shared files.\n");
  WriteFile(share / "notes.md", "# Notes\n");
  WriteFile(share / "music" / "song.mp3", std::string(3000, 'm'));
  WriteFile(share / "photos" / "beach.jpg", std::string(5000, 'b'));
  WriteFile(share / "photos" / "2024" / "party.jpg", std::string(7000, 'p'));
  WriteFile(share / "docs" / "old" / "draft.txt", "first draft\n");
  std::string report;
  for (int i = 0; i < 40000; ++i) report += "Quarterly report line " + std::to_string(i) + "\n";
  WriteFile(share / "docs" / "report.pdf", report);
  WriteFile(secret, "not for contacts\n");
}

class Demo {
 public:
  Demo(DemoUser& ann, DemoUser& bob, std::string share)
      : ann_(ann), bob_(bob), share_(std::move(share)) {}

  // One step: a title, what is typed, and the check of what follows.
  void Step(const std::string& title, const std::function<bool()>& body) {
    ++number_;
    Print("");
    Print("== " + std::to_string(number_) + ". " + title + " ==");
    const bool ok = body();
    Print(ok ? "   ok" : "   FAILED");
    if (!ok) failed_.push_back(std::to_string(number_) + ". " + title);
  }

  const std::vector<std::string>& failed() const { return failed_; }

 private:
  DemoUser& ann_;
  DemoUser& bob_;
  std::string share_;
  int number_ = 0;
  std::vector<std::string> failed_;
};

std::unique_ptr<StreamSocket> ConnectPair(std::unique_ptr<StreamSocket>& other, std::string& why) {
  Endpoint loopback;
  std::unique_ptr<Listener> listener = Listen(loopback, why);
  if (!listener) return nullptr;
  std::unique_ptr<StreamSocket> a = Connect(listener->local(), why);
  if (!a) return nullptr;
  other = listener->Accept(why);
  return other ? std::move(a) : nullptr;
}

}  // namespace

int RunDemo(int argc, char** argv) {
  static const option kNoOptions[] = {{nullptr, 0, nullptr, 0}};
  std::string bad;
  if (!ReadOptions(
          argc, argv, kNoOptions, [](int, const char*, std::string&) { return true; }, bad)) {
    return BadCommandLine("zuvo-host demo", bad, kDemoSynopsis);
  }
  std::error_code ec;
  fs::path root;
  std::random_device rd;
  for (int attempt = 0; attempt < 10 && root.empty(); ++attempt) {
    const fs::path candidate = fs::temp_directory_path(ec) / ("zuvo-demo-" + std::to_string(rd()));
    if (fs::create_directory(candidate, ec)) root = fs::canonical(candidate, ec);
  }
  if (root.empty()) {
    std::fprintf(stderr, "zuvo-host demo: cannot make a temporary folder\n");
    return 1;
  }
  const fs::path share = root / "bob" / "share";
  const fs::path secret = root / "bob" / "secret.txt";
  MakeSampleShare(share, secret);
  WriteFile(root / "ann" / "share" / "hello.txt", "hi\n");

  DemoUser ann("Ann", root / "ann");
  DemoUser bob("Bob", root / "bob");
  Print("Zuvo File Sharing demo in " + root.string());
  Print("Bob shares " + share.string() + "; Ann shares " + (root / "ann" / "share").string() + ".");

  std::string why;
  std::unique_ptr<StreamSocket> bobSocket;
  std::unique_ptr<StreamSocket> annSocket = ConnectPair(bobSocket, why);
  if (!annSocket) {
    std::fprintf(stderr, "zuvo-host demo: no loopback connection: %s\n", why.c_str());
    return 1;
  }

  // Each user's host runs on its own thread, with its own plug-in server.
  auto runUser = [](DemoUser& user, std::unique_ptr<StreamSocket> socket, fs::path shareDir,
                    int& exitCode) {
    std::unique_ptr<RegistryBackend> store = OpenPlatformRegistry(user.registryFile().string());
    HostSettings settings;
    settings.sharedFolder = TextFromPath(shareDir);
    PrepareSettings(*store, settings);
    std::istringstream noInput;
    LoadedPlugin plugin;
    try {
      plugin = LoadPlugin(*store, noInput, std::cout);
    } catch (const std::exception& e) {
      Print(user.name() + ": " + e.what());
      exitCode = 1;
      return;
    }
    Connection connection(std::move(socket), user.events, user.downloads());
    ChatHost host(*plugin.driver, *store, connection, user.events, user, Utf8ToUtf16(user.name()));
    connection.Start();
    exitCode = host.Start() ? host.Run() : 1;
    connection.Close(false);
  };
  int annExit = -1, bobExit = -1;
  const size_t annStart = ann.Mark(), bobStart = bob.Mark();
  std::thread annThread(runUser, std::ref(ann), std::move(annSocket), root / "ann" / "share",
                        std::ref(annExit));
  std::thread bobThread(runUser, std::ref(bob), std::move(bobSocket), share, std::ref(bobExit));

  Demo demo(ann, bob, share.string());
  const std::string s = share.string() + "/";
  const std::string header = "Bob shares " + share.string() + ":";
  auto names = [&](size_t mark) { return ListedEntries(ann.Since(mark), header); };
  // Bob's answer reaches Ann as one message: its first line starts "Bob: ",
  // or "Bob shares" for a listing.
  auto replyDone = [](const std::vector<std::string>& lines) {
    return std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
      return l.rfind("Bob: ", 0) == 0 || l.rfind("Bob shares", 0) == 0;
    });
  };
  // Waits for Bob's reply to reach Ann; a list reply arrives as one text.
  auto ask = [&](const std::string& line) {
    const size_t mark = ann.Mark();
    ann.Type(line);
    ann.WaitFor(mark, replyDone);
    return mark;
  };
  auto same = [](std::vector<std::string> a, std::vector<std::string> b) {
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    return a == b;
  };

  demo.Step("Both users start their plug-in and connect", [&] {
    return ann.WaitFor(annStart, [](auto& l) { return Has(l, "Connected to Bob."); }) &&
           bob.WaitFor(bobStart, [](auto& l) { return Has(l, "Connected to Ann."); });
  });
  demo.Step("A plain message", [&] {
    const size_t mark = bob.Mark();
    ann.Type("Hi Bob, what do you share?");
    return bob.WaitFor(mark, [](auto& l) { return Has(l, "Ann: Hi Bob, what do you share?"); });
  });
  demo.Step("Ann lists Bob's shared files (sub-folders included)", [&] {
    const size_t mark = ask("/xrlist");
    return Has(ann.Since(mark), header) &&
           same(names(mark), {"readme.txt", "notes.md", "music/song.mp3", "photos/beach.jpg",
                              "photos/2024/party.jpg", "docs/report.pdf", "docs/old/draft.txt"});
  });
  demo.Step("Ann lists only the texts: patterns *.txt;*.md", [&] {
    const size_t mark = ask("/xrlist *.txt;*.md");
    return same(names(mark), {"readme.txt", "docs/old/draft.txt", "notes.md"});
  });
  demo.Step("Ann asks for the files of the folder docs", [&] {
    const size_t mark = ask("/xrfolder docs");
    return same(names(mark), {"docs/report.pdf"});
  });
  demo.Step("Ann asks for the sub-folders of photos", [&] {
    const size_t mark = ask("/xrfolders photos");
    return same(names(mark), {"photos/2024"});
  });
  demo.Step("Ann searches for party.jpg", [&] {
    const size_t mark = ask("/xrsearch party.jpg");
    return same(names(mark), {"photos/2024/party.jpg"});
  });
  demo.Step("Ann requests docs/report.pdf: sent, stored, checksum verified", [&] {
    const size_t mark = ann.Mark();
    const size_t bobMark = bob.Mark();
    ann.Type("/xrfile " + s + "docs/report.pdf");
    const bool received = ann.WaitFor(mark, [](auto& l) { return Has(l, "Saved report.pdf in"); });
    const bool confirmed =
        bob.WaitFor(bobMark, [](auto& l) { return Has(l, "Sent report.pdf: Ann has it"); });
    const bool equal =
        ReadFile(ann.downloads() / "report.pdf") == ReadFile(share / "docs" / "report.pdf");
    Print(std::string("   the stored copy is ") + (equal ? "byte for byte the same" : "DIFFERENT"));
    return received && confirmed && equal;
  });
  demo.Step("Ann tries to leave the shared folder: /xrfile <share>/../secret.txt", [&] {
    const size_t mark = ann.Mark();
    ann.Type("/xrfile " + s + "../secret.txt");
    const bool refused = ann.WaitFor(mark, [](auto& l) {
      return Has(l, "That file is not in the shared folder") || Has(l, "Bob could not send");
    });
    std::this_thread::sleep_for(300ms);
    const bool nothing = !fs::exists(ann.downloads() / "secret.txt");
    Print(std::string("   secret.txt ") + (nothing ? "did not reach Ann" : "REACHED Ann"));
    return refused && nothing && !Has(ann.Since(mark), "Saved");
  });
  demo.Step("Bob turns sharing off; Ann's request is refused", [&] {
    const size_t bobMark = bob.Mark();
    bob.Type("/xroff");
    const bool toast = bob.WaitFor(bobMark, [](auto& l) { return Has(l, "turned off"); });
    const size_t mark = ask("/xrlist");
    return toast && Has(ann.Since(mark), "Bob: Request Denied, File Sharing is Turned off");
  });
  demo.Step("Bob checks the status and the statistics (toasts)", [&] {
    const size_t mark = bob.Mark();
    bob.Type("/xrstatus");
    bob.Type("/xrstats");
    return bob.WaitFor(mark, [](auto& l) {
      return Has(l, "Zuvo File Sharing is...") && Has(l, "| off") &&
             Has(l, "You have accepted and sent") && Has(l, "| 1 files");
    });
  });
  demo.Step("Bob turns sharing on again; Ann's search is answered", [&] {
    const size_t bobMark = bob.Mark();
    bob.Type("/xron");
    const bool toast = bob.WaitFor(bobMark, [](auto& l) { return Has(l, "turned on"); });
    const size_t mark = ask("/xrsearch readme.txt");
    return toast && same(names(mark), {"readme.txt"});
  });
  demo.Step("Ann leaves; both chats end cleanly", [&] {
    ann.Type("/quit");
    annThread.join();
    bobThread.join();
    return annExit == 0 && bobExit == 0;
  });

  Print("");
  if (demo.failed().empty()) {
    Print("All steps gave what they should.");
    fs::remove_all(root);
    return 0;
  }
  Print(std::to_string(demo.failed().size()) + " step(s) failed:");
  for (const std::string& f : demo.failed()) Print("  " + f);
  Print("(files kept in " + root.string() + ")");
  return 1;
}

}  // namespace zuvo::chat
