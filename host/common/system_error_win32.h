// The system's words for a Windows error code, for a host's messages.
#pragma once

#include <string>

namespace zuvo {

// "|what|: " and the system's text for |code| (GetLastError, WSAGetLastError
// or a returned code), without its trailing line break.
std::string SystemErrorText(const char* what, int code);

}  // namespace zuvo
