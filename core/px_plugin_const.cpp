#include "core/px_plugin_const.h"

#include <cstring>

namespace zuvo {

bool DisplayToast(WindowMessages& messages, const std::u16string& sMessage,
                  const std::u16string& sTitle, const std::u16string& sLink, bool bFlag) {
  // Private copies: the record points into them until the send returns, and
  // they are released when this call ends.
  const std::u16string message = sMessage;
  const std::u16string title = sTitle;
  const std::u16string link = sLink;

  ToastRecord record;
  std::memset(&record, 0, sizeof record);  // the 64-bit record's padding goes out as zeros
  record.pTitle = title.empty() ? nullptr : title.c_str();
  record.pMessage = message.c_str();
  record.pLink = link.empty() ? nullptr : link.c_str();
  record.nFlag = bFlag ? -1 : 0;

  // The identifier is asked for on every call; neither a zero identifier nor
  // the send's result changes the answer.
  const uint32_t id = messages.RegisterWindowMessage(kToastMessageName);
  messages.SendToProcessWindows(id, reinterpret_cast<uintptr_t>(&record), 1);
  return true;
}

}  // namespace zuvo
