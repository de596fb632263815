#include "com/beta_object.h"

#include <oleauto.h>

#include <new>
#include <string>
#include <utility>

#include "ZuvoFileSharing.h"
#include "base/plugin_error.h"
#include "base/text.h"
#include "com/module.h"
#include "core/beta.h"

namespace zuvo::com {
namespace {

// The source named in the error information of a failed call.
constexpr wchar_t kErrorSource[] = L"ZuvoFileSharing.beta";

std::u16string FromBstr(BSTR text) {
  if (!text) return {};
  return std::u16string(reinterpret_cast<const char16_t*>(text), SysStringLen(text));
}

HostObject* AsHostObject(IDispatch* object) { return reinterpret_cast<HostObject*>(object); }

VARIANT_BOOL ToVariantBool(bool value) { return value ? VARIANT_TRUE : VARIANT_FALSE; }

// An in/out text: the host's value is read on entry, the operation works on
// the copy, and Store hands the copy back only when the operation changed
// it, so a text the operation leaves alone keeps the host's very BSTR.
class InOutText {
 public:
  explicit InOutText(BSTR* host) : host_(host), value(FromBstr(*host)) {}
  // Reads the host's value into |buffer|, whose room is kept.
  InOutText(BSTR* host, std::u16string buffer) : host_(host), value(std::move(buffer)) {
    if (*host) {
      value.assign(reinterpret_cast<const char16_t*>(*host), SysStringLen(*host));
    } else {
      value.clear();
    }
  }

  HRESULT Store() {
    if (value == FromBstr(*host_)) return S_OK;
    BSTR copy = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(value.data()),
                                  static_cast<UINT>(value.size()));
    if (!copy) return E_OUTOFMEMORY;
    SysFreeString(*host_);
    *host_ = copy;
    return S_OK;
  }

 private:
  BSTR* host_;

 public:
  std::u16string value;
};

// Hands a failure to the caller's error object, or clears a stale one after
// success, and gives the HRESULT the call returns.
HRESULT Finish(const CallStatus& status, HRESULT storeResult) {
  if (!status.failed() && SUCCEEDED(storeResult)) {
    SetErrorInfo(0, nullptr);
    return S_OK;
  }
  const HRESULT code = status.failed() ? static_cast<HRESULT>(status.code) : storeResult;
  ICreateErrorInfo* create = nullptr;
  if (SUCCEEDED(CreateErrorInfo(&create))) {
    const std::u16string description =
        status.failed() ? Utf8ToUtf16(status.description) : u"Out of memory";
    create->SetGUID(IID__beta);
    create->SetSource(const_cast<LPOLESTR>(kErrorSource));
    create->SetDescription(
        const_cast<LPOLESTR>(reinterpret_cast<const OLECHAR*>(description.c_str())));
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
      SetErrorInfo(0, info);
      info->Release();
    }
    create->Release();
  }
  return code;
}

// Runs a whole method body; nothing it throws crosses the COM boundary.
template <typename Body>
HRESULT Guarded(Body&& body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return Finish({hr::kOutOfMemory, "Out of memory"}, S_OK);
  } catch (...) {
    return Finish({hr::kUnexpected, "Unexpected failure"}, S_OK);
  }
}

class BetaObject final : public _beta, public ISupportErrorInfo {
 public:
  explicit BetaObject(PluginServer& server) : plugin_(server) { LockModule(); }
  BetaObject(const BetaObject&) = delete;
  BetaObject& operator=(const BetaObject&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        IsEqualIID(riid, IID__beta)) {
      *object = static_cast<_beta*>(this);
    } else if (IsEqualIID(riid, IID_ISupportErrorInfo)) {
      *object = static_cast<ISupportErrorInfo*>(this);
    } else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG refs = InterlockedDecrement(&refs_);
    if (refs == 0) delete this;
    return refs;
  }

  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
    return IsEqualIID(riid, IID__beta) ? S_OK : S_FALSE;
  }

  // IDispatch, through the type library.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return GetBetaTypeInfo(info);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    ITypeInfo* info = nullptr;
    HRESULT hr = GetBetaTypeInfo(&info);
    if (FAILED(hr)) return hr;
    hr = info->GetIDsOfNames(names, count, ids);
    info->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* excepInfo, UINT* argError) override {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    ITypeInfo* info = nullptr;
    HRESULT hr = GetBetaTypeInfo(&info);
    if (FAILED(hr)) return hr;
    hr = info->Invoke(static_cast<_beta*>(this), id, flags, params, result, excepInfo, argError);
    info->Release();
    return hr;
  }

  // _beta: the host contract.
  HRESULT STDMETHODCALLTYPE Initialize(LONG nVersion, BSTR sUserEmail, IDispatch* oMessenger,
                                       VARIANT_BOOL* result) override {
    if (!result) return E_POINTER;
    return Guarded([&] {
      const std::u16string email = FromBstr(sUserEmail);
      bool ok = false;
      const CallStatus status = CallContract(
          [&] { return plugin_.Initialize(nVersion, email, AsHostObject(oMessenger)); }, ok);
      *result = ToVariantBool(ok);
      return Finish(status, S_OK);
    });
  }

  HRESULT STDMETHODCALLTYPE Uninitialize(VARIANT* result) override {
    if (!result) return E_POINTER;
    VariantInit(result);
    return Guarded([&] {
      Variant unused;
      const CallStatus status = CallContract([&] { return plugin_.Uninitialize(); }, unused);
      return Finish(status, S_OK);
    });
  }

  HRESULT STDMETHODCALLTYPE GetPublishInfo(BSTR* sPluginName, LONG* nCommandCount, LONG* nTagCount,
                                           VARIANT_BOOL* result) override {
    if (!sPluginName || !nCommandCount || !nTagCount || !result) return E_POINTER;
    return Guarded([&] {
      InOutText name(sPluginName);
      int32_t commands = *nCommandCount;
      int32_t tags = *nTagCount;
      bool ok = false;
      const CallStatus status =
          CallContract([&] { return plugin_.GetPublishInfo(name.value, commands, tags); }, ok);
      *nCommandCount = commands;
      *nTagCount = tags;
      *result = ToVariantBool(ok);
      return Finish(status, name.Store());
    });
  }

  HRESULT STDMETHODCALLTYPE GetPublishCommandInfo(LONG nCommandIdx, BSTR* sName, BSTR* sValue,
                                                  BSTR* sHelp, VARIANT* result) override {
    if (!sName || !sValue || !sHelp || !result) return E_POINTER;
    VariantInit(result);
    return Guarded([&] {
      InOutText name(sName), value(sValue), help(sHelp);
      Variant unused;
      const CallStatus status = CallContract(
          [&] {
            return plugin_.GetPublishCommandInfo(nCommandIdx, name.value, value.value, help.value);
          },
          unused);
      return Finish(status, StoreAll(name, value, help));
    });
  }

  HRESULT STDMETHODCALLTYPE GetPublishTagInfo(LONG nTagIdx, BSTR* sName, BSTR* sValue,
                                              VARIANT* result) override {
    if (!sName || !sValue || !result) return E_POINTER;
    VariantInit(result);
    return Guarded([&] {
      InOutText name(sName), value(sValue);
      Variant unused;
      const CallStatus status = CallContract(
          [&] { return plugin_.GetPublishTagInfo(nTagIdx, name.value, value.value); }, unused);
      return Finish(status, StoreAll(name, value));
    });
  }

  HRESULT STDMETHODCALLTYPE ParseCommand(BSTR sCommand, BSTR sCommandArg,
                                         IDispatch* oConversationWnd, BSTR* sResult,
                                         VARIANT_BOOL* result) override {
    if (!sResult || !result) return E_POINTER;
    return Guarded([&] {
      const std::u16string command = FromBstr(sCommand);
      const std::u16string argument = FromBstr(sCommandArg);
      InOutText reply(sResult);
      bool ok = false;
      const CallStatus status = CallContract(
          [&] {
            return plugin_.ParseCommand(command, argument, AsHostObject(oConversationWnd),
                                        reply.value);
          },
          ok);
      *result = ToVariantBool(ok);
      return Finish(status, reply.Store());
    });
  }

  HRESULT STDMETHODCALLTYPE ParseTag(BSTR sTag, IDispatch* oConversationWnd, BSTR* sResult,
                                     VARIANT_BOOL* result) override {
    if (!sResult || !result) return E_POINTER;
    return Guarded([&] {
      const std::u16string tag = FromBstr(sTag);
      InOutText reply(sResult);
      bool ok = false;
      const CallStatus status = CallContract(
          [&] { return plugin_.ParseTag(tag, AsHostObject(oConversationWnd), reply.value); }, ok);
      *result = ToVariantBool(ok);
      return Finish(status, reply.Store());
    });
  }

  HRESULT STDMETHODCALLTYPE ReceiveNotify(BSTR sNotifyCode, BSTR sText, BSTR sContactName,
                                          IDispatch* oConversationWnd, BSTR* sTextToSend,
                                          VARIANT_BOOL* result) override {
    if (!sTextToSend || !result) return E_POINTER;
    return Guarded([&] {
      const std::u16string code = FromBstr(sNotifyCode);
      const std::u16string text = FromBstr(sText);
      const std::u16string contact = FromBstr(sContactName);
      // A call made while another one runs (a walk lets the host run)
      // finds no spare text and takes a fresh one.
      InOutText reply(sTextToSend, std::exchange(spareReply_, std::u16string()));
      bool ok = false;
      const CallStatus status = CallContract(
          [&] {
            return plugin_.ReceiveNotify(code, text, contact, AsHostObject(oConversationWnd),
                                         reply.value);
          },
          ok);
      *result = ToVariantBool(ok);
      const HRESULT stored = reply.Store();
      KeepSpareReply(std::move(reply.value));
      return Finish(status, stored);
    });
  }

 private:
  ~BetaObject() { UnlockModule(); }

  template <typename... Texts>
  static HRESULT StoreAll(Texts&... texts) {
    HRESULT hr = S_OK;
    // Every text is handed back even when one of them cannot be.
    ((hr = FAILED(texts.Store()) ? E_OUTOFMEMORY : hr), ...);
    return hr;
  }

  // Keeps the larger of |text| and the spare, up to kMaxSpareReply.
  void KeepSpareReply(std::u16string text) {
    if (text.capacity() <= spareReply_.capacity() || text.capacity() > kMaxSpareReply) return;
    text.clear();
    spareReply_ = std::move(text);
  }

  // The text replies are written into, kept from one ReceiveNotify to the
  // next. A listing of a large share is tens of megabytes of text; written
  // into memory the process already has, it costs about half as much as in
  // fresh memory, whose every page the system must first find and clear. At
  // most kMaxSpareReply characters (64 MB) are kept.
  static constexpr size_t kMaxSpareReply = size_t{32} << 20;
  std::u16string spareReply_;

  LONG refs_ = 1;
  zuvo::beta plugin_;
};

}  // namespace

HRESULT CreateBetaObject(REFIID riid, void** object) {
  *object = nullptr;
  BetaObject* created = nullptr;
  try {
    created = new BetaObject(Server());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
  const HRESULT hr = created->QueryInterface(riid, object);
  created->Release();
  return hr;
}

}  // namespace zuvo::com
