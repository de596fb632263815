// PXPluginDef: the host add-on's plug-in contract. Eight operations in slot
// order; the host creates one object and calls them on its user-interface
// thread, one at a time. In/out parameters are references: the host's value
// arrives in them and stays unless the operation assigns a new one. An
// operation fails by throwing PluginError (see plugin_error.h); what it
// assigned before that stays assigned.
//
// The default bodies accept the parameters, assign nothing and answer False
// or an empty variant; a plug-in overrides every operation it uses.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace zuvo {

// A host object reference (messenger, conversation window). The plug-in only
// accepts these; it never calls them and keeps no reference past the call.
class HostObject;

// The automation variant the contract's three variant operations answer.
// This plug-in always answers an empty variant (VT_EMPTY).
using Variant = std::monostate;

class PXPluginDef {
 public:
  virtual ~PXPluginDef() = default;

  virtual bool Initialize(int32_t nVersion, const std::u16string& sUserEmail,
                          HostObject* oMessenger);
  virtual Variant Uninitialize();
  virtual bool GetPublishInfo(std::u16string& sPluginName, int32_t& nCommandCount,
                              int32_t& nTagCount);
  virtual Variant GetPublishCommandInfo(int32_t nCommandIdx, std::u16string& sName,
                                        std::u16string& sValue, std::u16string& sHelp);
  virtual Variant GetPublishTagInfo(int32_t nTagIdx, std::u16string& sName, std::u16string& sValue);
  virtual bool ParseCommand(const std::u16string& sCommand, const std::u16string& sCommandArg,
                            HostObject* oConversationWnd, std::u16string& sResult);
  virtual bool ParseTag(const std::u16string& sTag, HostObject* oConversationWnd,
                        std::u16string& sResult);
  virtual bool ReceiveNotify(const std::u16string& sNotifyCode, const std::u16string& sText,
                             const std::u16string& sContactName, HostObject* oConversationWnd,
                             std::u16string& sTextToSend);
};

}  // namespace zuvo
