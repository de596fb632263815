#include "purple/purple_form_view.h"

#include "base/text.h"
#include "core/plugin_server.h"
#include "host/common/plugin_worker.h"
#include "purple/settings_notices.h"
#include "settings/frm_options.h"

extern "C" {
#include <account.h>
#include <core.h>
#include <request.h>
}

namespace zuvo::purple {
namespace {

constexpr char kTitle[] = "Zuvo File Sharing - Preferences";
constexpr char kFolderField[] = "folder";
constexpr char kStartOnField[] = "start_on";
constexpr char kSubFoldersField[] = "sub_folders";
constexpr char kBrowseField[] = "browse";

}  // namespace

std::string FieldLabel(const std::string& label) {
  const char* ui = purple_core_get_ui();
  if (!ui || std::string_view(ui) != "gnt-purple") return label;
  const size_t columns = g_utf8_strlen(label.c_str(), -1);
  return columns < kTerminalLabelWidth ? label + std::string(kTerminalLabelWidth - columns, ' ')
                                       : label;
}

PurpleFormView::~PurpleFormView() { Close(); }

void PurpleFormView::SetConversation(PurpleConversation* conv) {
  account_ = conv ? purple_conversation_get_account(conv) : nullptr;
  contact_ = conv ? purple_conversation_get_name(conv) : "";
}

PurpleConversation* PurpleFormView::Conversation() const {
  if (!account_ || !g_list_find(purple_accounts_get_all(), account_)) return nullptr;
  return purple_find_conversation_with_account(PURPLE_CONV_TYPE_IM, contact_.c_str(), account_);
}

void PurpleFormView::Close() {
  if (dialog_) purple_request_close(PURPLE_REQUEST_FIELDS, dialog_);
  if (chooser_) purple_request_close(PURPLE_REQUEST_FOLDER, chooser_);
  dialog_ = chooser_ = nullptr;
}

void PurpleFormView::RunModal(frmOptions& form) {
  // Showing the form loads the stored settings into it.
  form.Form_Activate();
  Open({Utf16ToUtf8(form.Text1), form.Check1 != 0, form.Check2 != 0});
}

void PurpleFormView::Open(const Shown& shown) {
  Close();
  PurpleConversation* conv = Conversation();
  PurpleAccount* account = conv ? account_ : nullptr;
  PurpleRequestFields* fields = purple_request_fields_new();
  // The folder has a group of its own: Pidgin lays out a group as a table
  // whose check boxes share the labels' column, so beside long check boxes
  // the folder's box would keep its smallest width.
  PurpleRequestFieldGroup* folder = purple_request_field_group_new(nullptr);
  purple_request_fields_add_group(fields, folder);
  purple_request_field_group_add_field(
      folder, purple_request_field_string_new(kFolderField, FieldLabel("Shared Folder").c_str(),
                                              shown.folder.c_str(), FALSE));
  PurpleRequestFieldGroup* group = purple_request_field_group_new(nullptr);
  purple_request_fields_add_group(fields, group);
  purple_request_field_group_add_field(
      group, purple_request_field_bool_new(
                 kBrowseField, "Choose the folder in a folder chooser (Apply opens it)", FALSE));
  purple_request_field_group_add_field(
      group,
      purple_request_field_bool_new(kSubFoldersField, "Include Sub Folders", shown.subFolders));
  purple_request_field_group_add_field(
      group, purple_request_field_bool_new(kStartOnField, "Start with Zuvo File Sharing Turned on",
                                           shown.startOn));
  dialog_ = purple_request_fields(plugin_, kTitle, "Zuvo File Sharing v2.0",
                                  "Nothing is stored until you press Apply.", fields, "Apply",
                                  G_CALLBACK(OnApply), "Cancel", G_CALLBACK(OnCancel), account,
                                  account ? contact_.c_str() : nullptr, conv, this);
}

void PurpleFormView::OnApply(void* data, PurpleRequestFields* fields) {
  auto* self = static_cast<PurpleFormView*>(data);
  self->dialog_ = nullptr;
  const char* folder = purple_request_fields_get_string(fields, kFolderField);
  Shown shown{folder ? folder : "", purple_request_fields_get_bool(fields, kStartOnField) != 0,
              purple_request_fields_get_bool(fields, kSubFoldersField) != 0};
  if (purple_request_fields_get_bool(fields, kBrowseField)) {
    self->pending_ = shown;
    self->chooser_ = purple_request_folder(
        self->plugin_, "Shared Folder", shown.folder.empty() ? nullptr : shown.folder.c_str(),
        G_CALLBACK(OnFolderChosen), G_CALLBACK(OnFolderCancelled), nullptr, nullptr, nullptr, self);
    return;
  }
  if (!self->server_) return;
  self->worker_->Call([self, shown] {
    const std::shared_ptr<frmOptions> form = self->server_->Holder();
    form->Text1 = Utf8ToUtf16(shown.folder);
    form->Check1 = shown.startOn ? 1 : 0;
    form->Check2 = shown.subFolders ? 1 : 0;
    form->Command2_Click();
    if (self->notices_) self->notices_->Applied(self->Conversation());
  });
}

void PurpleFormView::OnCancel(void* data, PurpleRequestFields*) {
  auto* self = static_cast<PurpleFormView*>(data);
  self->dialog_ = nullptr;
  if (!self->server_) return;
  self->worker_->Call([self] { self->server_->Holder()->Command1_Click(); });
}

void PurpleFormView::OnFolderChosen(void* data, const char* folder) {
  auto* self = static_cast<PurpleFormView*>(data);
  self->chooser_ = nullptr;
  Shown shown = self->pending_;
  if (folder && *folder) shown.folder = folder;
  self->Open(shown);
}

void PurpleFormView::OnFolderCancelled(void* data, const char*) {
  auto* self = static_cast<PurpleFormView*>(data);
  self->chooser_ = nullptr;
  self->Open(self->pending_);
}

}  // namespace zuvo::purple
