// The plug-in's three settings: where they are stored and what they are
// called. The key belongs to the host add-on, which creates it; the plug-in
// only opens it.
#pragma once

namespace zuvo {

inline constexpr char16_t kSettingsKeyPath[] =
    u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Dravoux\\Parlix2\\RegisteredPlugins\\ZuvoFiles";
inline constexpr char16_t kSharedFolderValue[] = u"Shared Folder";
inline constexpr char16_t kStartOnValue[] = u"Start On";
inline constexpr char16_t kSubFoldersValue[] = u"Sub Folders";

}  // namespace zuvo
