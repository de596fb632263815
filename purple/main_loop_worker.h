// The plug-in worker (host/common/plugin_worker.h) on GLib's main loop, the
// loop of Pidgin and Finch: a finished answer wakes the loop through an
// idle source, which delivers it.
#pragma once

#include <glib.h>

#include <mutex>

#include "host/common/plugin_worker.h"

namespace zuvo::purple {

class MainLoopWorker {
 public:
  MainLoopWorker();
  // Stops the worker (waiting for the answer in progress), then takes the
  // idle source off the loop: nothing is delivered afterwards.
  ~MainLoopWorker();
  MainLoopWorker(const MainLoopWorker&) = delete;
  MainLoopWorker& operator=(const MainLoopWorker&) = delete;

  PluginWorker& worker() { return worker_; }

 private:
  // On the worker thread.
  void Wake();
  static gboolean OnWoken(void* data);

  std::mutex mutex_;
  guint source_ = 0;  // the idle source that delivers, while one is waiting
  PluginWorker worker_;
};

}  // namespace zuvo::purple
