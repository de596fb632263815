// One plug-in driven from a host's main loop and one worker thread. The
// plug-in takes one call at a time; its long call, the answer to a
// contact's request (a listing may walk a large share), runs on the worker
// so that the main loop keeps answering the user, and every other call runs
// on the main loop, never while the worker is in the plug-in. The main loop
// never waits for the worker: a call that finds it busy waits its turn in a
// queue and runs as soon as the work in progress has been delivered.
//
//   Call     a call into the plug-in from the main loop (a typed command,
//            the options form, a change of settings): at once when the
//            worker is idle, else right after the work in progress has been
//            delivered, before work not yet started. Calls keep their order.
//   Post     work for the worker thread and its delivery on the main loop.
//            Deliveries keep the order in which they were posted; one
//            without work (a reply that needs no call) waits for the work
//            posted before it.
//   Deliver  the host calls it on its main loop once |wake| has been
//            called: it delivers the finished work and starts what comes
//            next.
//   Stop     waits for the work in progress to end and drops what has not
//            started; nothing is delivered afterwards. The destructor stops.
//
// Everything but the work itself runs on the main loop: the thread that
// calls these. The work must touch nothing the main loop uses meanwhile but
// the plug-in, and nothing of the plug-in's host services that belong to
// the main loop (its settings store, its windows): the host makes sure of
// that before it posts. The worker thread starts with the first work.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace zuvo {

class PluginWorker {
 public:
  using Task = std::function<void()>;

  // |wake| is called on the worker thread, once for each finished work,
  // until Stop returns: it asks the main loop to call Deliver. It must not
  // block and must not call this object.
  explicit PluginWorker(Task wake);
  ~PluginWorker();
  PluginWorker(const PluginWorker&) = delete;
  PluginWorker& operator=(const PluginWorker&) = delete;

  void Call(Task call);
  void Post(Task work, Task deliver);
  void Deliver();
  void Stop();

  // Work posted and not yet delivered, the work in progress included.
  size_t pending() const { return queue_.size() + (working_ ? 1 : 0); }

 private:
  struct Job {
    Task work;
    Task deliver;
  };
  // Runs the waiting calls and deliveries, then hands the next work to the
  // worker thread.
  void Pump();
  void RunWorker();

  const Task wake_;

  // The main loop's side.
  std::deque<Task> calls_;
  std::deque<Job> queue_;
  Task delivery_;         // of the work in progress
  bool working_ = false;  // work handed to the worker and not yet delivered
  bool pumping_ = false;
  bool stopped_ = false;

  // Shared with the worker thread.
  std::mutex mutex_;
  std::condition_variable handed_;
  Task work_;              // handed to the worker, not yet started
  bool finished_ = false;  // the work has ended, its delivery waits
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace zuvo
