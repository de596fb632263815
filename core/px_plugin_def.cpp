#include "core/px_plugin_def.h"

namespace zuvo {

bool PXPluginDef::Initialize(int32_t, const std::u16string&, HostObject*) { return false; }

Variant PXPluginDef::Uninitialize() { return {}; }

bool PXPluginDef::GetPublishInfo(std::u16string&, int32_t&, int32_t&) { return false; }

Variant PXPluginDef::GetPublishCommandInfo(int32_t, std::u16string&, std::u16string&,
                                           std::u16string&) {
  return {};
}

Variant PXPluginDef::GetPublishTagInfo(int32_t, std::u16string&, std::u16string&) { return {}; }

bool PXPluginDef::ParseCommand(const std::u16string&, const std::u16string&, HostObject*,
                               std::u16string&) {
  return false;
}

bool PXPluginDef::ParseTag(const std::u16string&, HostObject*, std::u16string&) { return false; }

bool PXPluginDef::ReceiveNotify(const std::u16string&, const std::u16string&, const std::u16string&,
                                HostObject*, std::u16string&) {
  return false;
}

}  // namespace zuvo
