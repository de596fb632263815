// An event pump for hosts and tests that do not wait for window messages:
// nothing is ever pending.
#pragma once

#include "files/file_system.h"

namespace zuvo {

class IdleEventPump : public EventPump {
 public:
  void ProcessPendingEvents() override {}
};

}  // namespace zuvo
