// The modal message-box seam: a text, a title and a single OK button, no
// icon. Show returns when the user has closed the box. The Win32 variant is
// MessageBoxW; hosts without a desktop supply their own (the console records
// each box and answers OK at once).
#pragma once

#include <string>

namespace zuvo {

// The title a box gets when its caller gives none: the component's name.
inline constexpr char16_t kDefaultMessageBoxTitle[] = u"ZuvoFileSharing";

class MessageBoxSeam {
 public:
  virtual ~MessageBoxSeam() = default;
  virtual void Show(const std::u16string& text, const std::u16string& title) = 0;
};

}  // namespace zuvo
