// PXPluginConst: the toast request. The plug-in does not draw toasts; it
// asks the host with the registered window message "Parlix_DisplayToast",
// whose wParam carries the address of a ToastRecord.
#pragma once

#include <cstdint>
#include <string>

#include "core/window_messages.h"

namespace zuvo {

inline constexpr char16_t kToastMessageName[] = u"Parlix_DisplayToast";
inline constexpr char16_t kPluginTitle[] = u"Zuvo File Sharing";
// The add-on's web site, attached to every toast as its link.
inline constexpr char16_t kAddOnWebSite[] = u"http://www.parlix.example/";

// The record a toast request points at. (Layout to be documented with the
// toast work.)
struct ToastRecord {
  const char16_t* pTitle;
  const char16_t* pMessage;
  const char16_t* pLink;
  int32_t nFlag;
};

// Requests a toast from the host; always answers True.
bool DisplayToast(WindowMessages& messages, const std::u16string& sMessage,
                  const std::u16string& sTitle, const std::u16string& sLink, bool bFlag);

}  // namespace zuvo
