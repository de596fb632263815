// The chat's output: its lines, and progress bars redrawn in place on a
// terminal.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace zuvo::chat {

// Where the chat shows things: whole lines, and a progress line per
// transfer that is redrawn in place where the output allows it.
class ChatOutput {
 public:
  virtual ~ChatOutput() = default;
  virtual void Line(const std::string& text) = 0;
  // Lines that belong together (one message of the contact).
  virtual void Lines(const std::vector<std::string>& lines) {
    for (const std::string& l : lines) Line(l);
  }
  virtual void Progress(uint32_t key, const std::string& text, unsigned percent) = 0;
  virtual void ProgressEnd(uint32_t key) = 0;
  // Whether the user's own lines are shown again (they are not on a
  // terminal, which shows them as they are typed).
  virtual bool EchoTyped() const = 0;
};

// Lines on standard output; progress bars redrawn on the last line of a
// terminal, or printed every 25% otherwise.
class TerminalOutput : public ChatOutput {
 public:
  explicit TerminalOutput(bool terminal) : terminal_(terminal) {}
  void Line(const std::string& text) override;
  void Progress(uint32_t key, const std::string& text, unsigned percent) override;
  void ProgressEnd(uint32_t key) override;
  bool EchoTyped() const override { return !terminal_; }

 private:
  void ClearStatus();
  bool terminal_;
  std::string status_;  // the bar currently drawn
  std::map<uint32_t, unsigned> quarters_;
};

}  // namespace zuvo::chat
