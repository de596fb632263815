#include "purple/main_loop_worker.h"

namespace zuvo::purple {

MainLoopWorker::MainLoopWorker() : worker_([this] { Wake(); }) {}

MainLoopWorker::~MainLoopWorker() {
  worker_.Stop();
  // The worker thread has ended: no wake comes any more.
  std::lock_guard<std::mutex> lock(mutex_);
  if (source_) g_source_remove(source_);
  source_ = 0;
}

void MainLoopWorker::Wake() {
  // g_idle_add is safe from any thread; it wakes the default main context.
  std::lock_guard<std::mutex> lock(mutex_);
  if (!source_) source_ = g_idle_add(OnWoken, this);
}

gboolean MainLoopWorker::OnWoken(void* data) {
  auto* self = static_cast<MainLoopWorker*>(data);
  {
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->source_ = 0;
  }
  self->worker_.Deliver();
  return G_SOURCE_REMOVE;
}

}  // namespace zuvo::purple
