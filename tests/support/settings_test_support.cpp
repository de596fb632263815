#include "support/settings_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/text.h"
#include "settings/frm_options.h"
#include "settings/settings_store.h"

namespace zuvo::testing {

void FakeFormView::RunModal(frmOptions& form) {
  ++shows;
  form.Form_Activate();
  if (script) script(form);
}

long RecordingBackend::OpenKey(RootKey root, const std::string& subKey, KeyAccess access,
                               KeyHandle& key) {
  ++calls;
  if (refuseWrites && access == KeyAccess::kWrite) return reg::kAccessDenied;
  const long status = inner_.OpenKey(root, subKey, access, key);
  if (status == reg::kSuccess) ++openKeys;
  return status;
}

long RecordingBackend::QueryValue(KeyHandle key, const std::string& valueName, char16_t* buffer,
                                  uint32_t& size) {
  ++calls;
  return inner_.QueryValue(key, valueName, buffer, size);
}

long RecordingBackend::SetValue(KeyHandle key, const std::string& valueName,
                                std::u16string_view data) {
  ++calls;
  return inner_.SetValue(key, valueName, data);
}

long RecordingBackend::CloseKey(KeyHandle key) {
  ++calls;
  const long status = inner_.CloseKey(key);
  if (status == reg::kSuccess) --openKeys;
  return status;
}

long RecordingBackend::CreateKey(RootKey root, const std::string& subKey) {
  ++calls;
  return inner_.CreateKey(root, subKey);
}

std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes) {
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string SettingsSubKey() {
  const std::string path = Utf16ToUtf8(kSettingsKeyPath);
  return path.substr(path.find('\\') + 1);
}

TestRegistry::TestRegistry()
    : file(OpenPlatformRegistry(storePath())), backend(*file), registry(backend, messageBox) {}

void TestRegistry::CreateSettingsKey() {
  ASSERT_EQ(file->CreateKey(kHkeyLocalMachine, SettingsSubKey()), reg::kSuccess);
}

void TestRegistry::PutRaw(const std::string& name, const std::string& bytes) {
  KeyHandle key = 0;
  ASSERT_EQ(file->OpenKey(kHkeyLocalMachine, SettingsSubKey(), KeyAccess::kWrite, key),
            reg::kSuccess);
  EXPECT_EQ(file->SetValue(key, name, Utf8ToUtf16(bytes)), reg::kSuccess);
  file->CloseKey(key);
}

std::optional<std::string> TestRegistry::GetRaw(const std::string& name) {
  KeyHandle key = 0;
  if (file->OpenKey(kHkeyLocalMachine, SettingsSubKey(), KeyAccess::kRead, key) != reg::kSuccess) {
    return std::nullopt;
  }
  std::u16string buffer(4096, u'\x7f');
  uint32_t size = static_cast<uint32_t>(buffer.size());
  const long status = file->QueryValue(key, name, buffer.data(), size);
  file->CloseKey(key);
  if (status != reg::kSuccess) return std::nullopt;
  buffer.resize(size);
  return Utf16ToUtf8(buffer);
}

}  // namespace zuvo::testing
