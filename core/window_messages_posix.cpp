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

intptr_t InProcessWindowMessages::SendMessage(intptr_t hwnd, uint32_t message, uintptr_t wParam,
                                              intptr_t lParam) {
  if (hwnd != kAllTopLevelWindows) {
    auto it = windows_.find(hwnd);
    return it == windows_.end() ? 0 : it->second(message, wParam, lParam);
  }
  // A window procedure may create or destroy windows; deliver to the windows
  // that existed when the send began.
  std::vector<intptr_t> targets;
  for (const auto& [handle, proc] : windows_) targets.push_back(handle);
  for (intptr_t handle : targets) {
    auto it = windows_.find(handle);
    if (it != windows_.end()) it->second(message, wParam, lParam);
  }
  return 0;
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
