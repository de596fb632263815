#include <windows.h>

#include <io.h>

#include <cstdio>
#include <cstdlib>

#include "host/chat/terminal.h"

namespace zuvo::chat {
namespace {

std::function<void()> g_interruptHandler;
LONG g_interrupts = 0;

BOOL WINAPI ConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
    return FALSE;
  }
  if (InterlockedIncrement(&g_interrupts) > 1) std::_Exit(130);
  g_interruptHandler();
  return TRUE;
}

}  // namespace

void OnInterrupt(std::function<void()> handler) {
  g_interruptHandler = std::move(handler);
  SetConsoleCtrlHandler(ConsoleControl, TRUE);
}

bool StdoutIsTerminal() { return _isatty(_fileno(stdout)) != 0; }

}  // namespace zuvo::chat
