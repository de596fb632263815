// Two `zuvo-host chat` processes on loopback, driven through their standard
// input as two people would type, checked through what they print.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <regex>
#include <thread>

#include "support/settings_test_support.h"

extern char** environ;

namespace {
using zuvo::testing::ReadFileBytes;
using zuvo::testing::WriteFileBytes;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

class ChatProcess {
 public:
  explicit ChatProcess(std::vector<std::string> args) {
    int in[2], out[2];
    EXPECT_EQ(pipe(in), 0);
    EXPECT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    args.insert(args.begin(), {ZUVO_HOST_BINARY, "chat"});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    EXPECT_EQ(posix_spawn(&pid_, ZUVO_HOST_BINARY, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    stdin_ = in[1];
    stdout_ = out[0];
    reader_ = std::thread([this] { Read(); });
  }

  ~ChatProcess() {
    CloseInput();
    if (pid_ > 0 && !exited_) {
      // Give it a moment to leave by itself before it is stopped.
      for (int i = 0; i < 50 && waitpid(pid_, &status_, WNOHANG) == 0; ++i) {
        std::this_thread::sleep_for(100ms);
      }
      if (waitpid(pid_, &status_, WNOHANG) == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status_, 0);
      }
    }
    reader_.join();
    close(stdout_);
  }

  void Type(const std::string& line) {
    const std::string bytes = line + "\n";
    ASSERT_EQ(write(stdin_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  void CloseInput() {
    if (stdin_ >= 0) close(stdin_);
    stdin_ = -1;
  }

  size_t Mark() {
    std::lock_guard lock(mutex_);
    return lines_.size();
  }
  // The first line since |mark| that contains one of |texts|; fails after a
  // while.
  std::string WaitForAny(size_t mark, std::vector<std::string> texts,
                         std::chrono::seconds limit = 60s) {
    std::unique_lock lock(mutex_);
    std::string found;
    const bool ok = changed_.wait_for(lock, limit, [&] {
      for (size_t i = mark; i < lines_.size(); ++i) {
        for (const std::string& text : texts) {
          if (lines_[i].find(text) != std::string::npos) {
            found = lines_[i];
            return true;
          }
        }
      }
      return false;
    });
    if (!ok)
      ADD_FAILURE() << "no line with \"" << texts[0] << "\"; output so far:\n" << AllLocked();
    return found;
  }
  std::string WaitFor(size_t mark, const std::string& text) { return WaitForAny(mark, {text}); }
  std::vector<std::string> Since(size_t mark) {
    std::lock_guard lock(mutex_);
    return {lines_.begin() + std::min(mark, lines_.size()), lines_.end()};
  }
  void Kill() {
    kill(pid_, SIGKILL);
    Wait();
  }
  int Wait() {
    waitpid(pid_, &status_, 0);
    exited_ = true;
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
  }

 private:
  void Read() {
    std::string pending;
    char buf[4096];
    for (ssize_t n; (n = read(stdout_, buf, sizeof buf)) > 0;) {
      pending.append(buf, n);
      std::lock_guard lock(mutex_);
      for (size_t nl; (nl = pending.find('\n')) != std::string::npos; pending.erase(0, nl + 1)) {
        lines_.push_back(pending.substr(0, nl));
      }
      changed_.notify_all();
    }
  }
  std::string AllLocked() {
    std::string all;
    for (const std::string& l : lines_) all += "  | " + l + "\n";
    return all;
  }

  pid_t pid_ = -1;
  int status_ = 0;
  bool exited_ = false;
  int stdin_ = -1;
  int stdout_ = -1;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
};

TEST(ChatEndToEnd, TwoUsersListSearchTransferRefuseAndToast) {
  std::string tmpl = (fs::temp_directory_path() / "zuvo-e2e-XXXXXX").string();
  const fs::path root = fs::canonical(mkdtemp(tmpl.data()));
  const fs::path shareA = root / "a" / "share", shareB = root / "b" / "share";
  WriteFileBytes(shareA / "mine.txt", "Ann's\n");
  WriteFileBytes(shareB / "readme.txt", "Bob's\n");
  WriteFileBytes(shareB / "song.mp3", "la la\n");
  std::mt19937 rng(7);
  std::string payload(1536 * 1024 + 3, '\0');
  for (char& c : payload) c = static_cast<char>(rng());
  WriteFileBytes(shareB / "deep" / "er" / "data.bin", payload);
  WriteFileBytes(root / "b" / "secret.txt", "private\n");
  // Ann already has a data.bin: the received one takes a free name.
  WriteFileBytes(root / "a" / "downloads" / "data.bin", "older");

  ChatProcess bob({"--name", "Bob", "--share", shareB.string(), "--registry",
                   (root / "b" / "settings.reg").string(), "--downloads",
                   (root / "b" / "downloads").string(), "--listen", "127.0.0.1:0"});
  const std::string waiting = bob.WaitFor(0, "Waiting for the other user on ");
  std::smatch port;
  ASSERT_TRUE(std::regex_search(waiting, port, std::regex(":([0-9]+) ")));
  ChatProcess ann({"--name", "Ann", "--share", shareA.string(), "--registry",
                   (root / "a" / "settings.reg").string(), "--downloads",
                   (root / "a" / "downloads").string(), "--connect", "127.0.0.1:" + port[1].str()});
  ann.WaitFor(0, "Connected to Bob.");
  bob.WaitFor(0, "Connected to Ann.");

  {
    SCOPED_TRACE("help with placeholders, and a plain text");
    size_t mark = ann.Mark();
    ann.Type("/help");
    EXPECT_NE(ann.WaitFor(mark, "/xrfile <path or name>").find("fetch a file"), std::string::npos);
    ann.WaitFor(mark, "/xrsearch <file name>");
    mark = bob.Mark();
    ann.Type("hello Bob");
    bob.WaitFor(mark, "Ann: hello Bob");
  }
  const std::string sb = shareB.string() + "/";
  {
    SCOPED_TRACE("a listing with a pattern, one path per line");
    const size_t mark = ann.Mark();
    ann.Type("/xrlist *.txt");
    ann.WaitFor(mark, "Bob shares " + shareB.string() + ":");
    ann.WaitFor(mark, "  readme.txt");
    for (const std::string& l : ann.Since(mark)) EXPECT_EQ(l.find("song.mp3"), std::string::npos);
  }
  {
    SCOPED_TRACE("a search finds a file two folders down");
    const size_t mark = ann.Mark();
    ann.Type("/xrsearch data.bin");
    ann.WaitFor(mark, "Bob shares " + shareB.string() + ":");
    ann.WaitFor(mark, "  deep/er/data.bin");
  }
  {
    SCOPED_TRACE("a file request: transferred, verified, stored under a free name");
    const size_t mark = ann.Mark(), bobMark = bob.Mark();
    // By its name alone: the search showed it.
    ann.Type("/xrfile data.bin");
    const std::string received = ann.WaitFor(mark, "Saved data (1).bin in");
    EXPECT_NE(received.find("SHA-256 verified"), std::string::npos) << received;
    EXPECT_NE(received.find("data (1).bin"), std::string::npos) << received;
    EXPECT_EQ(ReadFileBytes(root / "a" / "downloads" / "data (1).bin"), payload);
    EXPECT_EQ(ReadFileBytes(root / "a" / "downloads" / "data.bin"), "older");
    bob.WaitFor(bobMark, "Sent data.bin: Ann has it");
  }
  {
    SCOPED_TRACE("a request outside the shared folder is refused");
    const size_t mark = ann.Mark();
    ann.Type("/xrfile " + sb + "../secret.txt");
    // The plug-in refuses it, or at the latest the host does.
    const std::string answer =
        ann.WaitForAny(mark, {"Bob: That file is not in the shared folder", "Bob could not send"});
    EXPECT_FALSE(answer.empty());
    // A file would come before the answer to a later request.
    const size_t later = ann.Mark();
    ann.Type("/xrlist");
    ann.WaitFor(later, "Bob shares ");
    EXPECT_FALSE(fs::exists(root / "a" / "downloads" / "secret.txt"));
  }
  {
    SCOPED_TRACE("sharing off: refused; the toasts are drawn");
    size_t mark = bob.Mark();
    bob.Type("/xroff");
    bob.WaitFor(mark, "| turned off");
    mark = ann.Mark();
    ann.Type("/xrlist");
    ann.WaitFor(mark, "Bob: Request Denied, File Sharing is Turned off");
    mark = bob.Mark();
    bob.Type("/xrstats");
    bob.WaitFor(mark, "+- Zuvo File Sharing -");
    bob.WaitFor(mark, "| You have accepted and sent");
    bob.WaitFor(mark, "| 1 files");
  }
  {
    SCOPED_TRACE("Ann leaves: both end cleanly");
    const size_t mark = bob.Mark();
    ann.Type("/quit");
    EXPECT_EQ(ann.Wait(), 0);
    bob.WaitFor(mark, "Ann left the chat.");
    EXPECT_EQ(bob.Wait(), 0);
  }
  // No temporary file is left in either downloads folder.
  for (const char* side : {"a", "b"}) {
    for (const auto& e : fs::directory_iterator(root / side / "downloads")) {
      EXPECT_FALSE(e.path().filename().string().ends_with(".part")) << e.path();
    }
  }
  fs::remove_all(root);
}

TEST(ChatEndToEnd, BrokenConnectionEndsTheChatCleanly) {
  std::string tmpl = (fs::temp_directory_path() / "zuvo-e2e-XXXXXX").string();
  const fs::path root = fs::canonical(mkdtemp(tmpl.data()));
  ChatProcess bob({"--name", "Bob", "--registry", (root / "b.reg").string(), "--downloads",
                   (root / "b").string(), "--listen", "0"});
  const std::string waiting = bob.WaitFor(0, "Waiting for the other user on ");
  std::smatch port;
  ASSERT_TRUE(std::regex_search(waiting, port, std::regex(":([0-9]+) ")));
  {
    ChatProcess ann({"--name", "Ann", "--registry", (root / "a.reg").string(), "--downloads",
                     (root / "a").string(), "--connect", port[1].str()});
    bob.WaitFor(0, "Connected to Ann.");
    // Ann's process dies without a goodbye.
    ann.Kill();
  }
  bob.WaitFor(0, "The connection to Ann was lost");
  EXPECT_EQ(bob.Wait(), 1);
  fs::remove_all(root);
}

}  // namespace
