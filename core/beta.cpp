#include "core/beta.h"

#include <optional>
#include <string_view>

#include "settings/settings_store.h"

namespace zuvo {
namespace {

struct CommandRow {
  std::u16string_view name;
  std::u16string_view value;
  std::optional<std::u16string_view> help;  // none: sHelp is not assigned
};

// The published commands, by index from 1.
constexpr CommandRow kCommands[] = {
    {u"Request List", u"xrlist", std::nullopt},
    {u"Request File", u"xrfile", u"File Path"},
    {u"Turn Sharing On", u"xron", std::nullopt},
    {u"Turn Sharing Off", u"xroff", std::nullopt},
    {u"Options", u"xroptions", std::nullopt},
    {u"Search For File", u"xrsearch", u"Filename"},
    {u"Get Folder Contents", u"xrfolder", u"Folder Path"},
    {u"Get Folder List", u"xrfolders", u"Folder Path"},
    {u"Status", u"xrstatus", std::nullopt},
    {u"Statistics", u"xrstats", std::nullopt},
};
constexpr int32_t kCommandCount = static_cast<int32_t>(std::size(kCommands));

}  // namespace

bool beta::Initialize(int32_t, const std::u16string&, HostObject*) {
  // Taking the holder creates and loads it on first use; the start-up then
  // reads the three settings once more into its fields.
  std::shared_ptr<frmOptions> holder = server_.Holder();
  Registry& registry = server_.registry();
  holder->SharedFolder() = registry.ReadValue(kSettingsKeyPath, kSharedFolderValue);
  holder->StartOn() = registry.ReadValue(kSettingsKeyPath, kStartOnValue);
  holder->SubFolders() = registry.ReadValue(kSettingsKeyPath, kSubFoldersValue);
  state_.sSharingOn = holder->StartOn();
  state_.sFilesSent = u"0";
  return true;
}

Variant beta::Uninitialize() { return {}; }

bool beta::GetPublishInfo(std::u16string& sPluginName, int32_t& nCommandCount, int32_t& nTagCount) {
  sPluginName = u"Zuvo File Sharing";
  nCommandCount = kCommandCount;
  nTagCount = 0;
  return true;
}

Variant beta::GetPublishCommandInfo(int32_t nCommandIdx, std::u16string& sName,
                                    std::u16string& sValue, std::u16string& sHelp) {
  if (nCommandIdx < 1 || nCommandIdx > kCommandCount) return {};
  const CommandRow& row = kCommands[nCommandIdx - 1];
  sName = row.name;
  sValue = row.value;
  if (row.help) sHelp = *row.help;
  return {};
}

Variant beta::GetPublishTagInfo(int32_t, std::u16string&, std::u16string&) { return {}; }

bool beta::ParseTag(const std::u16string&, HostObject*, std::u16string&) { return false; }

}  // namespace zuvo
