// The host's toast window on the in-process window messages: a top-level
// window that copies each toast record while the send lasts.
#pragma once

#include <functional>

#include "core/window_messages_posix.h"
#include "host/common/plugin_driver.h"

namespace zuvo {

// Creates the window; |show| receives the copy of each toast, a null
// address in the record read as the empty text.
void OpenToastWindow(InProcessWindowMessages& messages, std::function<void(ToastSeen)> show);

}  // namespace zuvo
