// Shared fakes for the settings and plug-in tests: a message box that
// records, a scripted form view, a registry decorator that counts open keys
// and can refuse writes, and a registry store in a fresh temporary folder.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/message_box.h"
#include "settings/form_view.h"
#include "settings/registry.h"
#include "support/temp_dir.h"

namespace zuvo::testing {

struct ShownBox {
  std::u16string text;
  std::u16string title;
};

class FakeMessageBox : public MessageBoxSeam {
 public:
  void Show(const std::u16string& text, const std::u16string& title) override {
    shown.push_back({text, title});
  }
  std::vector<ShownBox> shown;
};

// Raises Form_Activate like a real window, then runs |script| (which plays
// the user); the browser answers |browseResult|.
class FakeFormView : public FormView {
 public:
  void RunModal(frmOptions& form) override;
  std::u16string BrowseForFolder(frmOptions&) override {
    ++browses;
    return browseResult;
  }
  std::function<void(frmOptions&)> script;
  std::u16string browseResult;
  int shows = 0;
  int browses = 0;
};

// Forwards to another backend, counting the keys left open and every call.
class RecordingBackend : public RegistryBackend {
 public:
  explicit RecordingBackend(RegistryBackend& inner) : inner_(inner) {}
  long OpenKey(RootKey root, const std::string& subKey, KeyAccess access, KeyHandle& key) override;
  long QueryValue(KeyHandle key, const std::string& valueName, char16_t* buffer,
                  uint32_t& size) override;
  long SetValue(KeyHandle key, const std::string& valueName, std::u16string_view data) override;
  long CloseKey(KeyHandle key) override;
  long CreateKey(RootKey root, const std::string& subKey) override;
  std::string ToNarrow(std::u16string_view text) const override { return inner_.ToNarrow(text); }
  std::u16string FromNarrow(std::string_view text) const override {
    return inner_.FromNarrow(text);
  }

  int openKeys = 0;
  int calls = 0;
  bool refuseWrites = false;  // opening for writing fails with access denied

 private:
  RegistryBackend& inner_;
};

// A file's bytes; writing makes the folders above it first.
std::string ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);

// A registry store file in a fresh folder, opened through a RecordingBackend,
// with a Registry on top that reports to |messageBox|.
class TestRegistry {
 public:
  TestRegistry();
  std::string storePath() const { return dir.File("registry.reg"); }

  // Creates the plug-in's settings key, as the host add-on does.
  void CreateSettingsKey();
  // Stores the text whose UTF-8 form is |bytes| exactly under the settings
  // key (which must exist).
  void PutRaw(const std::string& name, const std::string& bytes);
  // The UTF-8 form of the exact text stored under the settings key, if the
  // value exists.
  std::optional<std::string> GetRaw(const std::string& name);

  TempDir dir;
  std::unique_ptr<RegistryBackend> file;
  RecordingBackend backend;
  FakeMessageBox messageBox;
  Registry registry;
};

// The narrow form of the plug-in's settings key path below its root.
std::string SettingsSubKey();

}  // namespace zuvo::testing
