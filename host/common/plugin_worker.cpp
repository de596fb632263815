#include "host/common/plugin_worker.h"

#include <utility>

namespace zuvo {
namespace {

// Sets a flag for the life of a scope, then gives it back its value.
class SetFor {
 public:
  explicit SetFor(bool& flag) : flag_(flag), old_(std::exchange(flag, true)) {}
  ~SetFor() { flag_ = old_; }
  SetFor(const SetFor&) = delete;
  SetFor& operator=(const SetFor&) = delete;

 private:
  bool& flag_;
  bool old_;
};

}  // namespace

PluginWorker::PluginWorker(Task wake) : wake_(std::move(wake)) {}

PluginWorker::~PluginWorker() { Stop(); }

void PluginWorker::Call(Task call) {
  if (stopped_) return;
  calls_.push_back(std::move(call));
  Pump();
}

void PluginWorker::Post(Task work, Task deliver) {
  if (stopped_) return;
  queue_.push_back({std::move(work), std::move(deliver)});
  Pump();
}

void PluginWorker::Pump() {
  // A call or delivery that calls or posts again only queues: the loop
  // below, already running further up the stack, takes it in its turn.
  if (pumping_) return;
  const SetFor pumping(pumping_);
  while (!working_ && !stopped_) {
    if (!calls_.empty()) {
      const Task call = std::move(calls_.front());
      calls_.pop_front();
      call();
      continue;
    }
    if (queue_.empty()) return;
    Job job = std::move(queue_.front());
    queue_.pop_front();
    if (!job.work) {
      if (job.deliver) job.deliver();
      continue;
    }
    working_ = true;
    delivery_ = std::move(job.deliver);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      work_ = std::move(job.work);
    }
    if (!thread_.joinable()) thread_ = std::thread([this] { RunWorker(); });
    handed_.notify_one();
  }
}

void PluginWorker::RunWorker() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    handed_.wait(lock, [this] { return work_ || stopping_; });
    if (stopping_) return;
    const Task work = std::exchange(work_, nullptr);
    lock.unlock();
    try {
      work();
    } catch (...) {
      // The work reports its own failures in what it delivers; nothing
      // thrown may end the host.
    }
    lock.lock();
    finished_ = true;
    lock.unlock();
    wake_();
    lock.lock();
  }
}

void PluginWorker::Deliver() {
  if (stopped_) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!finished_) return;
    finished_ = false;
  }
  working_ = false;
  const Task delivery = std::exchange(delivery_, nullptr);
  if (delivery) {
    // What the delivery calls or posts waits for the pump below.
    const SetFor pumping(pumping_);
    delivery();
  }
  Pump();
}

void PluginWorker::Stop() {
  if (stopped_) return;
  stopped_ = true;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  handed_.notify_one();
  if (thread_.joinable()) thread_.join();
  calls_.clear();
  queue_.clear();
  delivery_ = nullptr;
  work_ = nullptr;
  working_ = false;
}

}  // namespace zuvo
