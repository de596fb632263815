// A host's access to the plug-in. The hosts (the console, the chat, the
// libpurple plug-in) are portable; a driver gives them the plug-in object
// and tells them what each call raised. The POSIX driver runs a
// PluginServer in-process on the POSIX stand-ins (plugin_driver_posix.h);
// the Windows driver creates the registered COM object and forwards the
// contract's operations to it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/beta.h"
#include "core/px_plugin_def.h"
#include "settings/form_view.h"
#include "settings/registry_backend.h"

namespace zuvo {

struct ToastSeen {
  std::u16string title;  // a null address in the record reads as empty
  std::u16string message;
  std::u16string link;
  int32_t flag = 0;
};

struct MessageBoxSeen {
  std::u16string text;
  std::u16string title;
};

// One step of the user's work in the options form while it is shown.
struct FormAction {
  enum class Kind { kSetText, kSetCheck, kClick };
  Kind kind = Kind::kClick;
  std::u16string control;                // "Text1".."Text3", "Check1", "Check2", or the button
  std::u16string text;                   // kSetText
  int check = 0;                         // kSetCheck
  std::optional<std::u16string> browse;  // "...": the folder the browser answers
};

// The settings holder's fields (the console shows them by their control
// names, Text1..Text3, Check1 and Check2).
struct HolderFields {
  std::u16string sharedFolder;
  std::u16string startOn;
  std::u16string subFolders;
  int startOnChecked = 0;
  int subFoldersChecked = 0;
};

class PluginDriver {
 public:
  virtual ~PluginDriver() = default;

  // The plug-in's contract. Failures arrive as PluginError.
  virtual PXPluginDef& plugin() = 0;

  // What the options form is to do if the next call shows it. With no
  // actions, or when they leave it open, the form is dismissed with the
  // window's close command.
  virtual void SetFormActions(std::vector<FormAction> actions) = 0;

  // The toasts and message boxes raised since the last take, in order.
  // Message boxes are answered OK at once.
  virtual std::vector<ToastSeen> TakeToasts() = 0;
  virtual std::vector<MessageBoxSeen> TakeMessageBoxes() = 0;

  // The plug-in object's state, where the driver can see it.
  virtual std::optional<BetaState> State() = 0;

  // Reads the settings holder, which creates and loads it on first use.
  virtual HolderFields ReadHolder() = 0;
};

// The platform's driver; |registry| is the store the plug-in is to use
// where the driver runs the plug-in itself. Where the driver runs it,
// |formView| (when given, kept alive by the caller) shows the options form
// instead of the scripted view, and SetFormActions has no effect.
std::unique_ptr<PluginDriver> CreatePluginDriver(RegistryBackend& registry,
                                                 FormView* formView = nullptr);

}  // namespace zuvo
