// Two chat sockets connected to each other over loopback.
#pragma once

#include <memory>
#include <utility>

#include "host/chat/socket.h"

namespace zuvo::testing {

// The connecting side first, then the accepted one; a side that could not
// be made is null, with the reason reported as a test failure.
std::pair<std::unique_ptr<chat::StreamSocket>, std::unique_ptr<chat::StreamSocket>> SocketPair();

}  // namespace zuvo::testing
