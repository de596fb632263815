#include "purple/purple_form_view.h"

#include "base/text.h"
#include "core/plugin_server.h"
#include "host/common/plugin_worker.h"
#include "settings/frm_options.h"

extern "C" {
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

PurpleFormView::~PurpleFormView() { Close(); }

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
  PurpleRequestFields* fields = purple_request_fields_new();
  PurpleRequestFieldGroup* group = purple_request_field_group_new(nullptr);
  purple_request_fields_add_group(fields, group);
  purple_request_field_group_add_field(
      group,
      purple_request_field_string_new(kFolderField, "Shared Folder", shown.folder.c_str(), FALSE));
  purple_request_field_group_add_field(
      group, purple_request_field_bool_new(kBrowseField,
                                           "Choose the folder in a folder chooser (Apply opens "
                                           "it; nothing is stored yet)",
                                           FALSE));
  purple_request_field_group_add_field(
      group,
      purple_request_field_bool_new(kSubFoldersField, "Include Sub Folders", shown.subFolders));
  purple_request_field_group_add_field(
      group, purple_request_field_bool_new(kStartOnField, "Start with Zuvo File Sharing Turned on",
                                           shown.startOn));
  dialog_ = purple_request_fields(plugin_, kTitle, "Zuvo File Sharing v2.0",
                                  "Nothing is stored until you press Apply.", fields, "Apply",
                                  G_CALLBACK(OnApply), "Cancel", G_CALLBACK(OnCancel), nullptr,
                                  nullptr, nullptr, this);
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
