// The plug-in worker: a host's calls into the plug-in never overlap the
// answer running on the worker thread, calls and deliveries keep their
// order, and stopping (the plug-in unloaded) while an answer runs waits for
// it, drops the rest and delivers nothing. The test thread is the host's
// main loop; the "plug-in" is a log that notices two calls inside at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/common/plugin_worker.h"

namespace zuvo {
namespace {

using namespace std::chrono_literals;

// The plug-in's calls, in the order they were made, from either thread.
class ScriptedPlugin {
 public:
  void Enter(const std::string& what) {
    if (inside_.fetch_add(1) != 0) overlapped_ = true;
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back(what);
  }
  void Leave() { inside_.fetch_sub(1); }
  // A call that stays inside until |gate| opens.
  void Listing(const std::string& what, std::shared_future<void> gate) {
    Enter(what);
    gate.wait();
    Leave();
  }
  void Quick(const std::string& what) {
    Enter(what);
    Leave();
  }
  std::vector<std::string> log() {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
  }
  bool overlapped() const { return overlapped_; }

 private:
  std::atomic<int> inside_{0};
  std::atomic<bool> overlapped_{false};
  std::mutex mutex_;
  std::vector<std::string> log_;
};

// The host's main loop: the worker wakes it, and it delivers.
class MainLoop {
 public:
  PluginWorker::Task Wake() {
    return [this] {
      std::lock_guard<std::mutex> lock(mutex_);
      ++wakes_;
      woken_.notify_all();
    };
  }
  // Waits for the worker's next wake, then delivers.
  bool DeliverNext(PluginWorker& worker) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!woken_.wait_for(lock, 10s, [this] { return wakes_ > 0; })) return false;
    --wakes_;
    lock.unlock();
    worker.Deliver();
    return true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable woken_;
  int wakes_ = 0;
};

TEST(PluginWorker, CallsWaitForTheAnswerInProgressAndEverythingKeepsItsOrder) {
  ScriptedPlugin plugin;
  MainLoop loop;
  PluginWorker worker(loop.Wake());
  std::vector<std::string> delivered;  // main loop only

  // Idle: a call runs at once.
  worker.Call([&] { plugin.Quick("command 0"); });
  EXPECT_EQ(plugin.log(), std::vector<std::string>{"command 0"});

  std::promise<void> open;
  const std::shared_future<void> gate = open.get_future().share();
  worker.Post([&] { plugin.Listing("listing 1", gate); },
              [&] {
                delivered.push_back("reply 1");
                // A call made while delivering waits for the calls before it.
                worker.Call([&] { plugin.Quick("command 3"); });
              });
  // A reply that needs no call keeps its place behind the listing.
  worker.Post(nullptr, [&] { delivered.push_back("busy"); });
  worker.Post([&] { plugin.Quick("listing 2"); }, [&] { delivered.push_back("reply 2"); });
  worker.Call([&] { plugin.Quick("command 1"); });
  worker.Call([&] { plugin.Quick("command 2"); });
  EXPECT_EQ(worker.pending(), 3u);
  // The main loop goes on while the listing runs: nothing else entered.
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(plugin.log().size(), 2u);
  EXPECT_TRUE(delivered.empty());

  open.set_value();
  ASSERT_TRUE(loop.DeliverNext(worker));
  ASSERT_TRUE(loop.DeliverNext(worker));
  EXPECT_EQ(plugin.log(), (std::vector<std::string>{"command 0", "listing 1", "command 1",
                                                    "command 2", "command 3", "listing 2"}));
  EXPECT_EQ(delivered, (std::vector<std::string>{"reply 1", "busy", "reply 2"}));
  EXPECT_FALSE(plugin.overlapped());
  EXPECT_EQ(worker.pending(), 0u);
}

TEST(PluginWorker, StoppingDuringAnAnswerWaitsForItDropsTheRestAndDeliversNothing) {
  ScriptedPlugin plugin;
  MainLoop loop;
  bool delivered = false;
  std::promise<void> open;
  const std::shared_future<void> gate = open.get_future().share();
  std::promise<void> entered;
  {
    PluginWorker worker(loop.Wake());
    // The answer writes into state the host frees after the worker: it
    // must have ended by then.
    auto answer = std::make_unique<std::string>();
    worker.Post(
        [&] {
          entered.set_value();
          plugin.Listing("listing 1", gate);
          *answer = "answered";
        },
        [&] { delivered = true; });
    worker.Post([&] { plugin.Quick("listing 2"); }, [&] { delivered = true; });
    worker.Call([&] { plugin.Quick("command"); });
    entered.get_future().wait();
    std::thread opener([&] {
      std::this_thread::sleep_for(20ms);
      open.set_value();
    });
    worker.Stop();
    opener.join();
    EXPECT_EQ(*answer, "answered");
    answer.reset();
    // Nothing is delivered, called or posted after the stop.
    worker.Deliver();
    worker.Call([&] { plugin.Quick("late command"); });
    worker.Post([&] { plugin.Quick("late listing"); }, [&] { delivered = true; });
  }
  EXPECT_EQ(plugin.log(), std::vector<std::string>{"listing 1"});
  EXPECT_FALSE(delivered);
}

}  // namespace
}  // namespace zuvo
