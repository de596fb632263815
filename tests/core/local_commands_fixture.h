// A plug-in server on test doubles for the local commands: a registry store
// in a temporary file, a message box that records, a scripted options-form
// view (tests/support), and a host window that copies every toast request
// it receives.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/message_box.h"
#include "base/plugin_error.h"
#include "base/text.h"
#include "core/beta.h"
#include "core/plugin_server.h"
#include "core/px_plugin_const.h"
#include "core/window_messages_posix.h"
#include "files/file_system.h"
#include "settings/form_view.h"
#include "settings/frm_options.h"
#include "settings/settings_store.h"
#include "support/plugin_on_platform.h"
#include "support/settings_test_support.h"

namespace zuvo {
namespace {

// What a host window copied out of one toast request.
struct CapturedToast {
  uint32_t message = 0;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
  std::optional<std::u16string> title;  // none: pTitle was 0
  std::u16string text;
  std::optional<std::u16string> link;  // none: pLink was 0
  int32_t flag = 0;
};

// A top-level window of the host that copies each toast request, as the
// host must: the record and its texts are gone once the send returns.
class ToastWindow {
 public:
  explicit ToastWindow(InProcessWindowMessages& messages) : messages_(messages) {
    handle_ = messages_.CreateTopLevelWindow(
        [this](uint32_t message, uintptr_t wParam, intptr_t lParam) -> intptr_t {
          if (message != messages_.RegisterWindowMessage(kToastMessageName)) return 0;
          const auto* record = reinterpret_cast<const ToastRecord*>(wParam);
          CapturedToast toast;
          toast.message = message;
          toast.wParam = wParam;
          toast.lParam = lParam;
          if (record->pTitle) toast.title = record->pTitle;
          toast.text = record->pMessage;
          if (record->pLink) toast.link = record->pLink;
          toast.flag = record->nFlag;
          toasts.push_back(std::move(toast));
          return 1;
        });
  }
  ~ToastWindow() { messages_.DestroyWindow(handle_); }
  ToastWindow(const ToastWindow&) = delete;
  ToastWindow& operator=(const ToastWindow&) = delete;

  std::vector<CapturedToast> toasts;

 private:
  InProcessWindowMessages& messages_;
  intptr_t handle_ = 0;
};

inline std::u16string Lines(std::u16string_view first, std::u16string_view second) {
  return std::u16string(first) + kCR + std::u16string(second);
}

class LocalCommandsTest : public ::testing::Test {
 protected:
  // Creates the settings key, as the host does, with the three values.
  void StoreSettings(std::u16string_view folder, std::u16string_view startOn,
                     std::u16string_view subFolders) {
    store_->CreateKey(kHkeyLocalMachine, testing::SettingsSubKey());
    server->registry().WriteValue(kSettingsKeyPath, kSharedFolderValue, folder);
    server->registry().WriteValue(kSettingsKeyPath, kStartOnValue, startOn);
    server->registry().WriteValue(kSettingsKeyPath, kSubFoldersValue, subFolders);
  }
  std::u16string Stored(std::u16string_view valueName) {
    return server->registry().ReadValue(kSettingsKeyPath, valueName);
  }

  // One ParseCommand call through the boundary, as the host makes it.
  struct Outcome {
    CallStatus status;
    bool result = false;
  };
  Outcome Parse(std::u16string_view command, std::u16string_view arg, std::u16string& sResult) {
    Outcome outcome;
    outcome.status = CallContract(
        [&] {
          return plugin->ParseCommand(std::u16string(command), std::u16string(arg), nullptr,
                                      sResult);
        },
        outcome.result);
    return outcome;
  }

  testing::FakeMessageBox boxes;
  testing::FakeFormView view;
  InProcessWindowMessages messages;
  ToastWindow host{messages};

 private:
  Platform Fakes() {
    Platform fakes;
    fakes.messageBox = &boxes;
    fakes.formView = &view;
    fakes.windowMessages = &messages;
    return fakes;
  }

  testing::TempDir dir_;
  PluginOnPlatform platform_{dir_.path(), Fakes()};
  RegistryBackend* store_ = platform_.registry.get();

 public:
  std::unique_ptr<PluginServer>& server = platform_.server;
  std::unique_ptr<beta>& plugin = platform_.plugin;
};

}  // namespace
}  // namespace zuvo
