#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "host/chat/terminal.h"

namespace zuvo::chat {

void OnInterrupt(std::function<void()> handler) {
  // The signals wait for this thread alone; every thread started later
  // inherits the blocked mask.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread([set, handler = std::move(handler)] {
    int signal = 0;
    for (int count = 0; sigwait(&set, &signal) == 0; ++count) {
      if (count > 0) std::_Exit(128 + signal);
      handler();
    }
  }).detach();
}

bool StdoutIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

}  // namespace zuvo::chat
