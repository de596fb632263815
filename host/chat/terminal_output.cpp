#include "host/chat/terminal_output.h"

#include <cstdio>

namespace zuvo::chat {

void TerminalOutput::ClearStatus() {
  if (terminal_ && !status_.empty()) std::fputs("\r\x1b[K", stdout);
}

void TerminalOutput::Line(const std::string& text) {
  ClearStatus();
  std::fputs(text.c_str(), stdout);
  std::fputc('\n', stdout);
  if (terminal_ && !status_.empty()) std::fputs(status_.c_str(), stdout);
  std::fflush(stdout);
}

void TerminalOutput::Progress(uint32_t key, const std::string& text, unsigned percent) {
  if (terminal_) {
    ClearStatus();
    status_ = text;
    std::fputs(status_.c_str(), stdout);
    std::fflush(stdout);
    return;
  }
  unsigned& shown = quarters_[key];
  if (percent / 25 > shown) {
    shown = percent / 25;
    Line(text);
  }
}

void TerminalOutput::ProgressEnd(uint32_t key) {
  quarters_.erase(key);
  ClearStatus();
  status_.clear();
  std::fflush(stdout);
}

}  // namespace zuvo::chat
