#include "host/common/toast_window_posix.h"

#include "core/px_plugin_const.h"

namespace zuvo {
namespace {

std::u16string TextAt(const char16_t* text) { return text ? std::u16string(text) : u""; }

}  // namespace

void OpenToastWindow(InProcessWindowMessages& messages, std::function<void(ToastSeen)> show) {
  const uint32_t toastMessage = messages.RegisterWindowMessage(kToastMessageName);
  messages.CreateTopLevelWindow([toastMessage, show = std::move(show)](uint32_t message,
                                                                       uintptr_t wParam, intptr_t) {
    if (message != toastMessage || wParam == 0) return intptr_t{0};
    const auto* record = reinterpret_cast<const ToastRecord*>(wParam);
    show({TextAt(record->pTitle), TextAt(record->pMessage), TextAt(record->pLink), record->nFlag});
    return intptr_t{1};
  });
}

}  // namespace zuvo
