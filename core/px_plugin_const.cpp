#include "core/px_plugin_const.h"

namespace zuvo {

bool DisplayToast(WindowMessages&, const std::u16string&, const std::u16string&,
                  const std::u16string&, bool) {
  return true;  // Placeholder until the toast work lands.
}

}  // namespace zuvo
