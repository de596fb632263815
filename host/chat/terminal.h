// The terminal the chat runs in: the user's interrupt, and whether output
// is a terminal. Variants: terminal_posix.cpp (signals), terminal_win32.cpp
// (the console's control handler).
#pragma once

#include <functional>

namespace zuvo::chat {

// Calls |handler| (on a thread of its own) when the user interrupts the
// program (Ctrl-C, or a request to terminate); a second interrupt ends the
// program at once. Call it before starting other threads.
void OnInterrupt(std::function<void()> handler);

// Whether standard output is a terminal (progress bars redraw in place).
bool StdoutIsTerminal();

}  // namespace zuvo::chat
