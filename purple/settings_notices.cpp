#include "purple/settings_notices.h"

#include "purple/prefs_registry.h"

extern "C" {
#include <notify.h>
}

namespace zuvo::purple {
namespace {

constexpr char kTitle[] = "Zuvo File Sharing settings";

void WriteLine(PurpleConversation* conv, const std::string& line, PurpleMessageFlags flags) {
  gchar* escaped = g_markup_escape_text(line.c_str(), -1);
  purple_conversation_write(conv, nullptr, escaped, flags, time(nullptr));
  g_free(escaped);
}

}  // namespace

SettingsNotices::SettingsNotices(PurplePlugin* plugin, std::function<bool()> sharingOn)
    : plugin_(plugin), sharingOn_(std::move(sharingOn)) {
  for (const char* pref : {kPrefSharedFolder, kPrefStartOn, kPrefSubFolders}) {
    purple_prefs_connect_callback(this, pref, OnPrefChanged, this);
  }
}

SettingsNotices::~SettingsNotices() {
  purple_prefs_disconnect_by_handle(this);
  if (settle_) g_source_remove(settle_);
  if (notice_) purple_notify_close(PURPLE_NOTIFY_MESSAGE, notice_);
}

SharingSettings SettingsNotices::Stored() const {
  const char* folder = purple_prefs_get_string(kPrefSharedFolder);
  return {folder ? folder : "", purple_prefs_get_bool(kPrefStartOn) != FALSE,
          purple_prefs_get_bool(kPrefSubFolders) != FALSE};
}

std::optional<std::string> SettingsNotices::Warning(const SharingSettings& stored) const {
  return SharingWarning(sharingOn_(), stored, CheckSharedFolder(stored.folder));
}

void SettingsNotices::Started() {
  told_ = Stored();
  if (const std::optional<std::string> warning = Warning(told_)) Notice(*warning, "", true);
}

void SettingsNotices::Applied(PurpleConversation* conv) {
  if (settle_) g_source_remove(settle_);
  settle_ = 0;
  told_ = Stored();
  const std::string saved = SavedLine(told_);
  const std::optional<std::string> warning = Warning(told_);
  if (!conv) {
    Notice(saved, warning.value_or(""), warning.has_value());
    return;
  }
  WriteLine(conv, saved, PURPLE_MESSAGE_SYSTEM);
  if (warning) WriteLine(conv, *warning, PURPLE_MESSAGE_ERROR);
}

void SettingsNotices::OnPrefChanged(const char*, PurplePrefType, gconstpointer, void* data) {
  auto* self = static_cast<SettingsNotices*>(data);
  if (self->settle_) g_source_remove(self->settle_);
  self->settle_ = g_timeout_add(static_cast<guint>(kSettle.count()), OnSettled, self);
}

gboolean SettingsNotices::OnSettled(void* data) {
  auto* self = static_cast<SettingsNotices*>(data);
  self->settle_ = 0;
  const SharingSettings stored = self->Stored();
  if (stored != self->told_) {
    self->told_ = stored;
    const std::optional<std::string> warning = self->Warning(stored);
    self->Notice(SavedLine(stored), warning.value_or(""), warning.has_value());
  }
  return G_SOURCE_REMOVE;
}

void SettingsNotices::Notice(const std::string& primary, const std::string& secondary,
                             bool warning) {
  if (notice_) purple_notify_close(PURPLE_NOTIFY_MESSAGE, notice_);
  notice_ = purple_notify_message(
      plugin_, warning ? PURPLE_NOTIFY_MSG_WARNING : PURPLE_NOTIFY_MSG_INFO, kTitle,
      primary.c_str(), secondary.empty() ? nullptr : secondary.c_str(), OnNoticeClosed, this);
}

void SettingsNotices::OnNoticeClosed(void* data) {
  static_cast<SettingsNotices*>(data)->notice_ = nullptr;
}

}  // namespace zuvo::purple
