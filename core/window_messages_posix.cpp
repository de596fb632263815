#include "core/window_messages_posix.h"

#include <vector>

#include "base/text.h"

namespace zuvo {

// Registered message identifiers live in the same range as on Windows.
constexpr uint32_t kFirstRegisteredMessage = 0xC000;

uint32_t InProcessWindowMessages::RegisterWindowMessage(const std::u16string& name) {
  // Names compare without regard to case, as the system's do.
  std::u16string key;
  key.reserve(name.size());
  for (char16_t c : name) key.push_back(FoldCase(c));
  auto [it, inserted] = registered_.try_emplace(
      key, kFirstRegisteredMessage + static_cast<uint32_t>(registered_.size()));
  return it->second;
}

void InProcessWindowMessages::SendToProcessWindows(uint32_t message, uintptr_t wParam,
                                                   intptr_t lParam) {
  // A window procedure may create or destroy windows; deliver to the windows
  // that existed when the send began.
  std::vector<intptr_t> targets;
  for (const auto& [handle, proc] : windows_) targets.push_back(handle);
  for (intptr_t handle : targets) {
    auto it = windows_.find(handle);
    if (it != windows_.end()) it->second(message, wParam, lParam);
  }
}

intptr_t InProcessWindowMessages::CreateTopLevelWindow(WindowProc proc) {
  const intptr_t handle = nextWindow_;
  nextWindow_ += 4;
  windows_.emplace(handle, std::move(proc));
  return handle;
}

void InProcessWindowMessages::DestroyWindow(intptr_t hwnd) { windows_.erase(hwnd); }

std::unique_ptr<WindowMessages> CreatePlatformWindowMessages() {
  return std::make_unique<InProcessWindowMessages>();
}

}  // namespace zuvo
