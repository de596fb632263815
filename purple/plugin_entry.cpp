// The libpurple plug-in's entry point: its description, its preference frame
// for Pidgin's and Finch's plug-in dialogs, and load and unload, which
// create and destroy the one PurpleHost of the loaded plug-in.
#include <memory>
#include <new>

#include "purple/prefs_registry.h"
#include "purple/purple_form_view.h"
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
  // The two folders come first, outside any group: Pidgin's groups give a
  // text box only its smallest width, the top of the frame the whole
  // width beside the labels (see FieldLabel).
  add(kPrefSharedFolder, FieldLabel("Shared folder").c_str());
  add(kPrefDownloads, FieldLabel("Save files in").c_str());
  add(nullptr, "Sharing");
  add(kPrefStartOn, "Start with Zuvo File Sharing Turned on");
  add(kPrefSubFolders, "Include Sub Folders");
  add(nullptr, "Answering");
  PurplePluginPref* lines = add(kPrefMaxReplyLines, FieldLabel("Lines per reply (0: all)").c_str());
  purple_plugin_pref_set_bounds(lines, 0, 1000000);
  add(kPrefAnswerEveryone, "Answer everyone, not only buddies");
  return frame;
}

PurplePluginUiInfo g_prefsInfo = {
    .get_plugin_pref_frame = PreferenceFrame,
    .page_num = 0,
    .frame = nullptr,
    ._purple_reserved1 = nullptr,
    ._purple_reserved2 = nullptr,
    ._purple_reserved3 = nullptr,
    ._purple_reserved4 = nullptr,
};

PurplePluginInfo g_info = {
    .magic = PURPLE_PLUGIN_MAGIC,
    .major_version = PURPLE_MAJOR_VERSION,
    .minor_version = PURPLE_MINOR_VERSION,
    .type = PURPLE_PLUGIN_STANDARD,
    .ui_requirement = nullptr,  // none: Pidgin and Finch alike
    .flags = 0,
    .dependencies = nullptr,
    .priority = PURPLE_PRIORITY_DEFAULT,
    .id = const_cast<char*>("core-zuvo-file-sharing"),
    .name = const_cast<char*>("Zuvo File Sharing"),
    .version = const_cast<char*>("2.0"),
    .summary = const_cast<char*>("Share a folder with your contacts in IM conversations."),
    .description = const_cast<char*>(
        "Your contacts who run Zuvo File Sharing too can list, search and fetch the files of "
        "the folder you share, and you theirs, with the commands /xrlist, /xrfile, /xrfolder, "
        "/xrfolders and /xrsearch. /xron, /xroff, /xrstatus, /xrstats and /xroptions control "
        "your own sharing. Only your buddies are answered unless you allow everyone."),
    // The project's own (CMakeLists.txt), as the packages give them.
    .author = const_cast<char*>(ZUVO_AUTHOR),
    .homepage = const_cast<char*>(ZUVO_HOMEPAGE),
    .load = PluginLoad,
    .unload = PluginUnload,
    .destroy = nullptr,
    .ui_info = nullptr,
    .extra_info = nullptr,
    .prefs_info = &g_prefsInfo,
    .actions = nullptr,
    ._purple_reserved1 = nullptr,
    ._purple_reserved2 = nullptr,
    ._purple_reserved3 = nullptr,
    ._purple_reserved4 = nullptr,
};

// Called once when libpurple probes the plug-in, before any load: the
// preferences exist from then on, with their defaults, so the client's
// plug-in dialog shows them before the plug-in is first enabled.
void InitPlugin(PurplePlugin*) { PurpleHost::AddPreferences(); }

}  // namespace
}  // namespace zuvo::purple

extern "C" {
// PURPLE_INIT_PLUGIN defines the exported entry point libpurple looks for;
// inside extern "C" its name is not mangled.
using zuvo::purple::g_info;
using zuvo::purple::InitPlugin;
PURPLE_INIT_PLUGIN(zuvo_file_sharing, InitPlugin, g_info)
}
