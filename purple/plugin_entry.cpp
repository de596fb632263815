// The libpurple plug-in's entry point: its description, its preference frame
// for Pidgin's and Finch's plug-in dialogs, and load and unload, which
// create and destroy the one PurpleHost of the loaded plug-in.
#include <memory>
#include <new>

#include "purple/prefs_registry.h"
#include "purple/purple_host.h"

extern "C" {
#include <debug.h>
#include <pluginpref.h>
#include <version.h>
}

namespace zuvo::purple {
namespace {

std::unique_ptr<PurpleHost> g_host;

gboolean PluginLoad(PurplePlugin* plugin) {
  try {
    PurpleHost::AddPreferences();
    auto host = std::make_unique<PurpleHost>(plugin);
    if (!host->Start()) return FALSE;
    g_host = std::move(host);
    return TRUE;
  } catch (const std::exception& e) {
    purple_debug_error("zuvo-file-sharing", "the plug-in did not load: %s\n", e.what());
    return FALSE;
  }
}

gboolean PluginUnload(PurplePlugin*) {
  g_host.reset();
  return TRUE;
}

PurplePluginPrefFrame* PreferenceFrame(PurplePlugin*) {
  PurplePluginPrefFrame* frame = purple_plugin_pref_frame_new();
  auto add = [frame](const char* name, const char* label) {
    PurplePluginPref* pref = name ? purple_plugin_pref_new_with_name_and_label(name, label)
                                  : purple_plugin_pref_new_with_label(label);
    purple_plugin_pref_frame_add(frame, pref);
    return pref;
  };
  add(nullptr, "Sharing");
  add(kPrefSharedFolder, "Shared Folder");
  add(kPrefStartOn, "Start with Zuvo File Sharing Turned on");
  add(kPrefSubFolders, "Include Sub Folders");
  add(nullptr, "Conversations");
  add(kPrefDownloads, "Downloads folder");
  PurplePluginPref* lines = add(kPrefMaxReplyLines, "Most lines of one reply sent (0: no limit)");
  purple_plugin_pref_set_bounds(lines, 0, 1000000);
  add(kPrefAnswerEveryone, "Answer everyone, not only buddies");
  return frame;
}

PurplePluginUiInfo g_prefsInfo = {PreferenceFrame, 0, nullptr, nullptr, nullptr, nullptr, nullptr};

PurplePluginInfo g_info = {
    PURPLE_PLUGIN_MAGIC,
    PURPLE_MAJOR_VERSION,
    PURPLE_MINOR_VERSION,
    PURPLE_PLUGIN_STANDARD,
    nullptr,  // no UI requirement: Pidgin and Finch alike
    0,
    nullptr,
    PURPLE_PRIORITY_DEFAULT,
    const_cast<char*>("core-zuvo-file-sharing"),
    const_cast<char*>("Zuvo File Sharing"),
    const_cast<char*>("2.0"),
    const_cast<char*>("Share a folder with your contacts in IM conversations."),
    const_cast<char*>(
        "Your contacts who run Zuvo File Sharing too can list, search and fetch the files of "
        "the folder you share, and you theirs, with the commands /xrlist, /xrfile, /xrfolder, "
        "/xrfolders and /xrsearch. /xron, /xroff, /xrstatus, /xrstats and /xroptions control "
        "your own sharing. Only your buddies are answered unless you allow everyone."),
    const_cast<char*>("Zuvo File Sharing"),
    const_cast<char*>(""),
    PluginLoad,
    PluginUnload,
    nullptr,
    nullptr,
    nullptr,
    &g_prefsInfo,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

void InitPlugin(PurplePlugin*) {}

}  // namespace
}  // namespace zuvo::purple

extern "C" {
// PURPLE_INIT_PLUGIN defines the exported entry point libpurple looks for;
// inside extern "C" its name is not mangled.
using zuvo::purple::g_info;
using zuvo::purple::InitPlugin;
PURPLE_INIT_PLUGIN(zuvo_file_sharing, InitPlugin, g_info)
}
