// The Windows pause for pending events: the messages waiting in the calling
// thread's queue are translated and dispatched, then the call returns.
#pragma once

#include "files/file_system.h"

namespace zuvo {

class Win32EventPump : public EventPump {
 public:
  void ProcessPendingEvents() override;
};

}  // namespace zuvo
