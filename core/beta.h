// beta: the plug-in object the host creates. It carries the eight operations
// of the host contract and the object's own state; the live settings are the
// server's holder (PluginServer::Holder).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/notify_text.h"
#include "core/plugin_server.h"
#include "core/px_plugin_def.h"

namespace zuvo {

// A line of a reply that starts with this text is a command to the host, not
// text for the contact: send the file whose path follows.
inline constexpr std::u16string_view kDropFile = u"#/dropfile ";

// The state of one plug-in object. Nothing of it is ever saved.
struct BetaState {
  std::u16string sRequestedFile;    // the path of the last "rfile" notification
  std::u16string sSharedFolder;     // the folder the current remote request works on
  std::u16string sSharingOn;        // "1" on, "0" off; other texts are possible
  std::u16string sSubFolders;       // the "Sub Folders" copy a remote request takes
  std::u16string sFilesSent;        // file requests accepted since Initialize, decimal
  bool bOwnRequestPending = false;  // the local user's own request is expected back once
};

class beta : public PXPluginDef {
 public:
  explicit beta(PluginServer& server) : server_(server) {}

  bool Initialize(int32_t nVersion, const std::u16string& sUserEmail,
                  HostObject* oMessenger) override;
  Variant Uninitialize() override;
  bool GetPublishInfo(std::u16string& sPluginName, int32_t& nCommandCount,
                      int32_t& nTagCount) override;
  Variant GetPublishCommandInfo(int32_t nCommandIdx, std::u16string& sName, std::u16string& sValue,
                                std::u16string& sHelp) override;
  Variant GetPublishTagInfo(int32_t nTagIdx, std::u16string& sName,
                            std::u16string& sValue) override;
  bool ParseCommand(const std::u16string& sCommand, const std::u16string& sCommandArg,
                    HostObject* oConversationWnd, std::u16string& sResult) override;
  bool ParseTag(const std::u16string& sTag, HostObject* oConversationWnd,
                std::u16string& sResult) override;
  bool ReceiveNotify(const std::u16string& sNotifyCode, const std::u16string& sText,
                     const std::u16string& sContactName, HostObject* oConversationWnd,
                     std::u16string& sTextToSend) override;

  const BetaState& state() const { return state_; }

  // The most characters the reply to one listing request may hold, as much
  // as one chat text carries; a longer list is cut and ends with a line that
  // says so.
  static constexpr size_t kMaxReplyChars = size_t{1} << 25;

 private:
  // Asks the host for a toast with the plug-in's title, link and flag.
  void ShowToast(const std::u16string& sMessage);

  // Remote requests (beta_requests.cpp).
  void AnswerList(const std::u16string& sText, std::u16string& sTextToSend);
  void AnswerFolder(RequestCode code, const std::u16string& sText, std::u16string& sTextToSend);
  void AnswerSearch(const std::u16string& sText, std::u16string& sTextToSend);
  void AnswerFile(std::u16string& sTextToSend);
  bool IsOffered(std::u16string_view path);

  friend struct BetaTestPeer;  // tests set the state directly

  PluginServer& server_;
  BetaState state_;
  size_t maxReplyChars_ = kMaxReplyChars;  // lowered by tests only
};

}  // namespace zuvo
