// PXPluginConst: the toast request. The plug-in does not draw toasts; it
// asks the host with the registered window message "Parlix_DisplayToast",
// whose wParam carries the address of a ToastRecord.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/window_messages.h"

namespace zuvo {

inline constexpr char16_t kToastMessageName[] = u"Parlix_DisplayToast";
inline constexpr char16_t kPluginTitle[] = u"Zuvo File Sharing";
// The add-on's web site, attached to every toast as its link.
inline constexpr char16_t kAddOnWebSite[] = u"http://www.parlix.example/";

// The record a toast request points at, built in the sender's memory for the
// duration of one send. Each address points at the first character of a
// zero-terminated UTF-16 text; the receiver copies whatever it keeps.
//
// 32-bit build (the host's record, 16 bytes, little-endian):
//   offset  0  pTitle    4 bytes  title text, or 0 when the title is empty
//   offset  4  pMessage  4 bytes  message text, always set
//   offset  8  pLink     4 bytes  link text, or 0 when the link is empty
//   offset 12  nFlag     4 bytes  signed: -1 for True, 0 for False
//
// 64-bit build (the address fields are pointer-sized, 32 bytes):
//   offset  0  pTitle    8 bytes
//   offset  8  pMessage  8 bytes
//   offset 16  pLink     8 bytes
//   offset 24  nFlag     4 bytes  signed: -1 for True, 0 for False
//   offset 28  (4 bytes of padding, left zero)
struct ToastRecord {
  const char16_t* pTitle;
  const char16_t* pMessage;
  const char16_t* pLink;
  int32_t nFlag;
};

static_assert(offsetof(ToastRecord, pTitle) == 0);
static_assert(offsetof(ToastRecord, pMessage) == sizeof(void*));
static_assert(offsetof(ToastRecord, pLink) == 2 * sizeof(void*));
static_assert(offsetof(ToastRecord, nFlag) == 3 * sizeof(void*));
static_assert(sizeof(void*) != 4 || sizeof(ToastRecord) == 16, "the host's 16-byte record");
static_assert(sizeof(void*) != 8 || sizeof(ToastRecord) == 32, "the 64-bit record");

// Requests a toast from the host: sends the registered message to every
// top-level window of the host's process (where the add-on's window is, and
// where the record's addresses mean something) with the record's address as
// wParam and 1 as lParam, and returns once they have handled it. The host
// may show nothing; the answer is True all the same.
bool DisplayToast(WindowMessages& messages, const std::u16string& sMessage,
                  const std::u16string& sTitle, const std::u16string& sLink, bool bFlag);

}  // namespace zuvo
