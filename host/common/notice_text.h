// Toasts and message boxes drawn as text, for hosts that show them in a
// terminal: a frame with the title in its top edge around the lines.
#pragma once

#include <string>
#include <vector>

#include "host/common/plugin_driver.h"

namespace zuvo {

// Splits |text| at CR, LF or CR LF.
std::vector<std::u16string> SplitLines(const std::u16string& text);

// The columns |utf8| takes on a terminal: one per character.
size_t TextColumns(const std::string& utf8);

// A toast: its lines, then its link in angle brackets, framed with "-".
std::vector<std::string> ToastText(const ToastSeen& toast);

// A message box: its lines and its one button, framed with "=".
std::vector<std::string> MessageBoxText(const MessageBoxSeen& box);

}  // namespace zuvo
