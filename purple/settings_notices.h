// Tells the user what the sharing settings do, in the client's own windows
// (the texts are host/common/settings_report.h's):
//
//   Started   when the plug-in starts: a warning notice when sharing is on
//             but shares nothing (a fresh install: on, with no folder).
//   Applied   after "Apply" in the options dialog (/xroptions): one line
//             in the conversation where /xroptions was typed saying what is
//             now stored, and the warning below it when it applies; a notice
//             when that conversation is gone.
//   changes   a shared folder or switch changed in the client's plug-in
//             dialog: Pidgin stores each keystroke, Finch all fields at
//             "Save", so the settings are judged once they have not changed
//             for kSettle; a notice then says what is stored (with the
//             warning), unless that is what the user was last told.
//
// One notice of its own is open at a time: a new one replaces the last.
// Everything runs on libpurple's main loop.
#pragma once

#include <glib.h>

#include <chrono>
#include <functional>
#include <string>

#include "host/common/settings_report.h"

extern "C" {
#include <conversation.h>
#include <plugin.h>
#include <prefs.h>
}

namespace zuvo::purple {

class SettingsNotices {
 public:
  static constexpr std::chrono::milliseconds kSettle{2000};

  // |sharingOn| tells whether sharing is on now (the plug-in's state).
  SettingsNotices(PurplePlugin* plugin, std::function<bool()> sharingOn);
  ~SettingsNotices();
  SettingsNotices(const SettingsNotices&) = delete;
  SettingsNotices& operator=(const SettingsNotices&) = delete;

  void Started();
  // |conv| may be null (then a notice).
  void Applied(PurpleConversation* conv);

 private:
  static void OnPrefChanged(const char* name, PurplePrefType type, gconstpointer value, void* data);
  static gboolean OnSettled(void* data);
  static void OnNoticeClosed(void* data);

  SharingSettings Stored() const;
  std::optional<std::string> Warning(const SharingSettings& stored) const;
  void Notice(const std::string& primary, const std::string& secondary, bool warning);

  PurplePlugin* plugin_;
  std::function<bool()> sharingOn_;
  SharingSettings told_;  // what the user was last told is stored
  guint settle_ = 0;
  void* notice_ = nullptr;
};

}  // namespace zuvo::purple
