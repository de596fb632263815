// A C++ client of the registered server, run under Wine: creates the object
// by its ProgID, reads the interface's layout from the registered type
// library, calls the operations through the vtable and by name through
// IDispatch, and checks the exports, the version block and the error path.
//
// Usage: com_client [--expect-unregistered | --per-user | --hung-window]
#include <windows.h>
// (windows.h first: the OLE headers need its types)
#include <initguid.h>
#include <oleauto.h>

#include <map>
#include <string>
#include <vector>

#include "ZuvoFileSharing.h"
#include "tests/wine/wine_check.h"

namespace {

constexpr DISPID kFirstDispId = 0x60030000;
constexpr HRESULT kTypeMismatch = static_cast<HRESULT>(0x800A000D);
constexpr wchar_t kMarker = 18;

// The contract's operations in slot order, with their parameter shapes as
// the type library must describe them in the vtable interface.
struct Param {
  VARTYPE vt;       // VT_PTR for by-reference parameters
  VARTYPE pointee;  // what a VT_PTR points at
  USHORT flags;     // PARAMFLAG_*
};
constexpr USHORT kIn = PARAMFLAG_FIN;
constexpr USHORT kInOut = PARAMFLAG_FIN | PARAMFLAG_FOUT;
constexpr USHORT kRetval = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
const Param kLong{VT_I4, VT_EMPTY, kIn};
const Param kText{VT_BSTR, VT_EMPTY, kIn};
const Param kObject{VT_DISPATCH, VT_EMPTY, kIn};
const Param kTextRef{VT_PTR, VT_BSTR, kInOut};
const Param kLongRef{VT_PTR, VT_I4, kInOut};
const Param kBoolResult{VT_PTR, VT_BOOL, kRetval};
const Param kVariantResult{VT_PTR, VT_VARIANT, kRetval};

struct Operation {
  const wchar_t* name;
  std::vector<Param> params;
};
const Operation kOperations[] = {
    {L"Initialize", {kLong, kText, kObject, kBoolResult}},
    {L"Uninitialize", {kVariantResult}},
    {L"GetPublishInfo", {kTextRef, kLongRef, kLongRef, kBoolResult}},
    {L"GetPublishCommandInfo", {kLong, kTextRef, kTextRef, kTextRef, kVariantResult}},
    {L"GetPublishTagInfo", {kLong, kTextRef, kTextRef, kVariantResult}},
    {L"ParseCommand", {kText, kText, kObject, kTextRef, kBoolResult}},
    {L"ParseTag", {kText, kObject, kTextRef, kBoolResult}},
    {L"ReceiveNotify", {kText, kText, kText, kObject, kTextRef, kBoolResult}},
};

// What the type library says about one operation.
struct Layout {
  MEMBERID id = 0;
  SHORT vtableOffset = 0;
};
std::map<std::wstring, Layout> g_layout;

// An owned BSTR; |get| keeps its address stable so tests can tell whether
// the server replaced it.
class Bstr {
 public:
  explicit Bstr(const wchar_t* text) : value_(SysAllocString(text)) {}
  ~Bstr() { SysFreeString(value_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR* address() { return &value_; }
  BSTR get() const { return value_; }
  std::wstring text() const { return value_ ? std::wstring(value_, SysStringLen(value_)) : L""; }

 private:
  BSTR value_;
};

template <typename T>
class Ptr {
 public:
  Ptr() = default;
  ~Ptr() { reset(); }
  Ptr(const Ptr&) = delete;
  Ptr& operator=(const Ptr&) = delete;
  T** out() {
    reset();
    return &p_;
  }
  void** outVoid() { return reinterpret_cast<void**>(out()); }
  T* operator->() const { return p_; }
  T* get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  void reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }

 private:
  T* p_ = nullptr;
};

std::wstring ErrorDescription() {
  Ptr<IErrorInfo> info;
  if (GetErrorInfo(0, info.out()) != S_OK || !info) return L"";
  BSTR description = nullptr;
  info->GetDescription(&description);
  std::wstring text = description ? description : L"";
  SysFreeString(description);
  return text;
}

// ---------------------------------------------------------------------------
// Creation by ProgID, aggregation, interfaces.

void TestCreation() {
  wine_check::Context context("creation");
  CLSID clsid = {};
  CHECK_HR(S_OK, CLSIDFromProgID(L"ZuvoFileSharing.beta", &clsid));
  CHECK(IsEqualCLSID(clsid, CLSID_beta));

  Ptr<_beta> plugin;
  CHECK_HR(S_OK,
           CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID__beta, plugin.outVoid()));
  if (!plugin) return;
  Ptr<ISupportErrorInfo> errorInfo;
  CHECK_HR(S_OK, plugin->QueryInterface(IID_ISupportErrorInfo, errorInfo.outVoid()));
  if (errorInfo) CHECK_HR(S_OK, errorInfo->InterfaceSupportsErrorInfo(IID__beta));
  Ptr<IUnknown> none;
  CHECK_HR(E_NOINTERFACE, plugin->QueryInterface(IID_IClassFactory, none.outVoid()));
  CHECK(!none);

  Ptr<IClassFactory> factory;
  CHECK_HR(S_OK, CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                  factory.outVoid()));
  if (!factory) return;
  void* aggregated = reinterpret_cast<void*>(1);
  CHECK_HR(CLASS_E_NOAGGREGATION, factory->CreateInstance(plugin.get(), IID_IUnknown, &aggregated));
  CHECK(aggregated == nullptr);
}

// ---------------------------------------------------------------------------
// The registered type library.

void CheckParam(const ELEMDESC& element, const Param& expected, const std::wstring& where) {
  wine_check::Context context(wine_check::Narrow(where.c_str()));
  CHECK_EQ_INT(expected.vt, element.tdesc.vt);
  if (expected.vt == VT_PTR && element.tdesc.vt == VT_PTR) {
    CHECK_EQ_INT(expected.pointee, element.tdesc.lptdesc->vt);
  }
  CHECK_EQ_INT(expected.flags, element.paramdesc.wParamFlags);
}

void TestTypeLibrary() {
  wine_check::Context context("type library");
  Ptr<ITypeLib> library;
  CHECK_HR(S_OK, LoadRegTypeLib(LIBID_ZuvoFileSharing, 1, 0, 0x409, library.out()));
  if (!library) return;
  TLIBATTR* attributes = nullptr;
  CHECK_HR(S_OK, library->GetLibAttr(&attributes));
  if (attributes) {
    CHECK_EQ_INT(0x409, attributes->lcid);
    CHECK_EQ_INT(1, attributes->wMajorVerNum);
    CHECK_EQ_INT(0, attributes->wMinorVerNum);
    CHECK_EQ_INT(sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32, attributes->syskind);
    library->ReleaseTLibAttr(attributes);
  }
  BSTR name = nullptr;
  CHECK_HR(S_OK, library->GetDocumentation(-1, &name, nullptr, nullptr, nullptr));
  CHECK_EQ_WSTR(L"ZuvoFileSharing", name ? name : L"");
  SysFreeString(name);

  // The class and its default interface.
  Ptr<ITypeInfo> coclass;
  CHECK_HR(S_OK, library->GetTypeInfoOfGuid(CLSID_beta, coclass.out()));
  if (coclass) {
    name = nullptr;
    coclass->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
    CHECK_EQ_WSTR(L"beta", name ? name : L"");
    SysFreeString(name);
    INT flags = 0;
    CHECK_HR(S_OK, coclass->GetImplTypeFlags(0, &flags));
    CHECK(flags & IMPLTYPEFLAG_FDEFAULT);
  }

  Ptr<ITypeInfo> dispatch;
  CHECK_HR(S_OK, library->GetTypeInfoOfGuid(IID__beta, dispatch.out()));
  if (!dispatch) return;
  TYPEATTR* type = nullptr;
  dispatch->GetTypeAttr(&type);
  CHECK(type && (type->wTypeFlags & TYPEFLAG_FDUAL));
  if (type) dispatch->ReleaseTypeAttr(type);

  // The vtable view of the dual interface: IDispatch's seven slots, then ours.
  HREFTYPE vtableRef = 0;
  CHECK_HR(S_OK, dispatch->GetRefTypeOfImplType(-1, &vtableRef));
  Ptr<ITypeInfo> vtable;
  CHECK_HR(S_OK, dispatch->GetRefTypeInfo(vtableRef, vtable.out()));
  if (!vtable) return;
  type = nullptr;
  vtable->GetTypeAttr(&type);
  if (!type) return;
  CHECK_EQ_INT(TKIND_INTERFACE, type->typekind);
  CHECK_EQ_INT(8, type->cFuncs);
  CHECK_EQ_INT(15 * sizeof(void*), type->cbSizeVft);
  const int functions = type->cFuncs;
  vtable->ReleaseTypeAttr(type);

  for (int i = 0; i < functions && i < 8; ++i) {
    FUNCDESC* function = nullptr;
    if (FAILED(vtable->GetFuncDesc(i, &function))) continue;
    const Operation& expected = kOperations[i];
    BSTR functionName = nullptr;
    vtable->GetDocumentation(function->memid, &functionName, nullptr, nullptr, nullptr);
    const std::wstring actualName = functionName ? functionName : L"";
    SysFreeString(functionName);
    wine_check::Context slot(wine_check::Narrow(expected.name));
    CHECK_EQ_WSTR(expected.name, actualName);
    CHECK_EQ_INT(kFirstDispId + i, function->memid);
    CHECK_EQ_INT((7 + i) * sizeof(void*), function->oVft);
    CHECK_EQ_INT(VT_HRESULT, function->elemdescFunc.tdesc.vt);
    CHECK_EQ_INT(expected.params.size(), function->cParams);
    for (int p = 0; p < function->cParams && p < static_cast<int>(expected.params.size()); ++p) {
      CheckParam(function->lprgelemdescParam[p], expected.params[p],
                 actualName + L" parameter " + std::to_wstring(p + 1));
    }
    g_layout[actualName] = {function->memid, function->oVft};
    vtable->ReleaseFuncDesc(function);
  }
}

// ---------------------------------------------------------------------------
// Calls through the vtable.

// Calls GetPublishInfo through the slot the type library names, as a host
// that binds by the library's offsets does.
HRESULT CallGetPublishInfoBySlot(_beta* plugin, BSTR* name, LONG* commands, LONG* tags,
                                 VARIANT_BOOL* result) {
  VARIANTARG args[4];
  VARTYPE types[4] = {VT_BYREF | VT_BSTR, VT_BYREF | VT_I4, VT_BYREF | VT_I4, VT_BYREF | VT_BOOL};
  void* pointers[4] = {name, commands, tags, result};
  VARIANTARG* argv[4];
  for (int i = 0; i < 4; ++i) {
    VariantInit(&args[i]);
    V_VT(&args[i]) = types[i];
    V_BYREF(&args[i]) = pointers[i];
    argv[i] = &args[i];
  }
  VARIANT returned;
  VariantInit(&returned);
  const HRESULT call = DispCallFunc(plugin, g_layout[L"GetPublishInfo"].vtableOffset, CC_STDCALL,
                                    VT_ERROR, 4, types, argv, &returned);
  if (FAILED(call)) return call;
  return V_ERROR(&returned);
}

void TestVtableCalls() {
  wine_check::Context context("vtable calls");
  Ptr<_beta> plugin;
  CHECK_HR(S_OK, CoCreateInstance(CLSID_beta, nullptr, CLSCTX_INPROC_SERVER, IID__beta,
                                  plugin.outVoid()));
  if (!plugin) return;

  {  // GetPublishInfo assigns all three whatever they held.
    Bstr name(L"host's name");
    LONG commands = 99, tags = 77;
    VARIANT_BOOL result = 123;
    CHECK_HR(S_OK,
             CallGetPublishInfoBySlot(plugin.get(), name.address(), &commands, &tags, &result));
    CHECK_EQ_WSTR(L"Zuvo File Sharing", name.text());
    CHECK_EQ_INT(10, commands);
    CHECK_EQ_INT(0, tags);
    CHECK_EQ_INT(VARIANT_TRUE, result);
  }

  VARIANT_BOOL ok = 0;
  Bstr email(L"someone@example.com");
  CHECK_HR(S_OK, plugin->Initialize(7, email.get(), nullptr, &ok));
  CHECK_EQ_INT(VARIANT_TRUE, ok);

  {  // The command table; sHelp is assigned only where a row has a help text.
    const struct {
      LONG index;
      const wchar_t* name;
      const wchar_t* value;
      const wchar_t* help;  // nullptr: left as passed
    } rows[] = {
        {1, L"Request List", L"xrlist", nullptr},
        {2, L"Request File", L"xrfile", L"File Path"},
        {3, L"Turn Sharing On", L"xron", nullptr},
        {4, L"Turn Sharing Off", L"xroff", nullptr},
        {5, L"Options", L"xroptions", nullptr},
        {6, L"Search For File", L"xrsearch", L"Filename"},
        {7, L"Get Folder Contents", L"xrfolder", L"Folder Path"},
        {8, L"Get Folder List", L"xrfolders", L"Folder Path"},
        {9, L"Status", L"xrstatus", nullptr},
        {10, L"Statistics", L"xrstats", nullptr},
    };
    for (const auto& row : rows) {
      const std::string label = "command row " + std::to_string(row.index);
      wine_check::Context rowContext(label);
      Bstr name(L"n"), value(L"v"), help(L"host's help");
      const BSTR hostHelp = help.get();
      VARIANT result;
      V_VT(&result) = VT_I4;
      V_I4(&result) = 5;
      CHECK_HR(S_OK, plugin->GetPublishCommandInfo(row.index, name.address(), value.address(),
                                                   help.address(), &result));
      CHECK_EQ_INT(VT_EMPTY, V_VT(&result));
      CHECK_EQ_WSTR(row.name, name.text());
      CHECK_EQ_WSTR(row.value, value.text());
      if (row.help) {
        CHECK_EQ_WSTR(row.help, help.text());
      } else {
        CHECK(help.get() == hostHelp);  // the host's very string, not a copy
        CHECK_EQ_WSTR(L"host's help", help.text());
      }
    }
  }

  for (LONG index : {0L, 11L, -1L}) {  // out of range: nothing assigned
    const std::string label = "command index " + std::to_string(index);
    wine_check::Context rowContext(label);
    Bstr name(L"n"), value(L"v"), help(L"h");
    const BSTR before[3] = {name.get(), value.get(), help.get()};
    VARIANT result;
    VariantInit(&result);
    CHECK_HR(S_OK, plugin->GetPublishCommandInfo(index, name.address(), value.address(),
                                                 help.address(), &result));
    CHECK(name.get() == before[0] && value.get() == before[1] && help.get() == before[2]);
    CHECK_EQ_INT(VT_EMPTY, V_VT(&result));
  }

  {  // Tags: nothing published, nothing assigned.
    Bstr name(L"n"), value(L"v"), tag(L"<b>"), reply(L"host's reply");
    const BSTR before[3] = {name.get(), value.get(), reply.get()};
    VARIANT result;
    VariantInit(&result);
    CHECK_HR(S_OK, plugin->GetPublishTagInfo(1, name.address(), value.address(), &result));
    CHECK(name.get() == before[0] && value.get() == before[1]);
    VARIANT_BOOL handled = VARIANT_TRUE;
    CHECK_HR(S_OK, plugin->ParseTag(tag.get(), nullptr, reply.address(), &handled));
    CHECK_EQ_INT(VARIANT_FALSE, handled);
    CHECK(reply.get() == before[2]);
  }

  {  // A request command gives the notification text.
    Bstr command(L"/XRLIST"), argument(L"*.txt"), reply(L"old");
    VARIANT_BOOL handled = VARIANT_FALSE;
    CHECK_HR(S_OK, plugin->ParseCommand(command.get(), argument.get(), nullptr, reply.address(),
                                        &handled));
    CHECK_EQ_INT(VARIANT_TRUE, handled);
    CHECK_EQ_WSTR(std::wstring(1, kMarker) + L"rlist*.txt", reply.text());
  }
  {  // Not this plug-in's command: False, the reply untouched.
    Bstr command(L"/xrlist "), argument(L""), reply(L"old");
    const BSTR before = reply.get();
    VARIANT_BOOL handled = VARIANT_TRUE;
    CHECK_HR(S_OK, plugin->ParseCommand(command.get(), argument.get(), nullptr, reply.address(),
                                        &handled));
    CHECK_EQ_INT(VARIANT_FALSE, handled);
    CHECK(reply.get() == before);
  }

  {  // Uninitialize answers an empty variant; the object stays usable.
    VARIANT result;
    V_VT(&result) = VT_I4;
    CHECK_HR(S_OK, plugin->Uninitialize(&result));
    CHECK_EQ_INT(VT_EMPTY, V_VT(&result));
    Bstr name(L"");
    LONG commands = 0, tags = 5;
    VARIANT_BOOL result2 = 0;
    CHECK_HR(S_OK, plugin->GetPublishInfo(name.address(), &commands, &tags, &result2));
    CHECK_EQ_INT(10, commands);
  }

  {  // Missing pointers are refused before anything runs.
    VARIANT_BOOL result = 0;
    LONG n = 0;
    CHECK_HR(E_POINTER, plugin->GetPublishInfo(nullptr, &n, &n, &result));
    CHECK_HR(E_POINTER, plugin->Initialize(0, nullptr, nullptr, nullptr));
  }

  {  // A failing operation: "/xrstatus" before Initialize has no number to read.
    Ptr<_beta> fresh;
    CoCreateInstance(CLSID_beta, nullptr, CLSCTX_INPROC_SERVER, IID__beta, fresh.outVoid());
    if (!fresh) return;
    Bstr command(L"/xrstatus"), argument(L""), reply(L"host's reply");
    const BSTR before = reply.get();
    VARIANT_BOOL handled = VARIANT_TRUE;
    CHECK_HR(kTypeMismatch, fresh->ParseCommand(command.get(), argument.get(), nullptr,
                                                reply.address(), &handled));
    CHECK_EQ_INT(VARIANT_FALSE, handled);
    CHECK(reply.get() == before);
    CHECK(!ErrorDescription().empty());
  }
}

// ---------------------------------------------------------------------------
// Late binding: IDispatch by name.

DISPID IdOf(IDispatch* object, const wchar_t* name) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID id = DISPID_UNKNOWN;
  object->GetIDsOfNames(IID_NULL, names, 1, 0x409, &id);
  return id;
}

void TestDispatchByName() {
  wine_check::Context context("dispatch by name");
  Ptr<IDispatch> object;
  CHECK_HR(S_OK, CoCreateInstance(CLSID_beta, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                  object.outVoid()));
  if (!object) return;
  UINT count = 0;
  CHECK_HR(S_OK, object->GetTypeInfoCount(&count));
  CHECK_EQ_INT(1, count);

  for (int i = 0; i < 8; ++i) {
    const wchar_t* name = kOperations[i].name;
    wine_check::Context slot(wine_check::Narrow(name));
    const DISPID id = IdOf(object.get(), name);
    CHECK_EQ_INT(kFirstDispId + i, id);
    CHECK_EQ_INT(g_layout[name].id, id);
  }
  CHECK_EQ_INT(DISPID_UNKNOWN, IdOf(object.get(), L"Frobnicate"));
  // Names are matched without regard to case, as automation clients expect.
  CHECK_EQ_INT(kFirstDispId + 2, IdOf(object.get(), L"getpublishinfo"));

  {  // GetPublishInfo(ByRef String, ByRef Long, ByRef Long) As Boolean
    Bstr name(L"x");
    LONG commands = -5, tags = 3;
    VARIANTARG args[3];
    V_VT(&args[2]) = VT_BYREF | VT_BSTR;
    V_BSTRREF(&args[2]) = name.address();
    V_VT(&args[1]) = VT_BYREF | VT_I4;
    V_I4REF(&args[1]) = &commands;
    V_VT(&args[0]) = VT_BYREF | VT_I4;
    V_I4REF(&args[0]) = &tags;
    DISPPARAMS params = {args, nullptr, 3, 0};
    VARIANT result;
    VariantInit(&result);
    CHECK_HR(S_OK, object->Invoke(IdOf(object.get(), L"GetPublishInfo"), IID_NULL, 0x409,
                                  DISPATCH_METHOD, &params, &result, nullptr, nullptr));
    CHECK_EQ_INT(VT_BOOL, V_VT(&result));
    CHECK_EQ_INT(VARIANT_TRUE, V_BOOL(&result));
    CHECK_EQ_WSTR(L"Zuvo File Sharing", name.text());
    CHECK_EQ_INT(10, commands);
    CHECK_EQ_INT(0, tags);
  }

  {  // GetPublishCommandInfo(1, ...): sHelp stays the caller's.
    Bstr name(L""), value(L""), help(L"keep me");
    const BSTR hostHelp = help.get();
    VARIANTARG args[4];
    V_VT(&args[3]) = VT_I4;
    V_I4(&args[3]) = 1;
    BSTR* refs[3] = {help.address(), value.address(), name.address()};
    for (int i = 0; i < 3; ++i) {
      V_VT(&args[i]) = VT_BYREF | VT_BSTR;
      V_BSTRREF(&args[i]) = refs[i];
    }
    DISPPARAMS params = {args, nullptr, 4, 0};
    VARIANT result;
    VariantInit(&result);
    CHECK_HR(S_OK, object->Invoke(kFirstDispId + 3, IID_NULL, 0x409, DISPATCH_METHOD, &params,
                                  &result, nullptr, nullptr));
    CHECK_EQ_INT(VT_EMPTY, V_VT(&result));
    CHECK_EQ_WSTR(L"Request List", name.text());
    CHECK_EQ_WSTR(L"xrlist", value.text());
    CHECK(help.get() == hostHelp);
  }

  {  // Too few arguments are the dispatcher's to refuse.
    DISPPARAMS params = {nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    CHECK_HR(DISP_E_BADPARAMCOUNT,
             object->Invoke(kFirstDispId + 2, IID_NULL, 0x409, DISPATCH_METHOD, &params, &result,
                            nullptr, nullptr));
  }

  {  // ParseCommand("/xrstatus") before Initialize fails: the error comes back
     // in EXCEPINFO and the by-reference reply keeps the caller's text.
    Bstr command(L"/xrstatus"), argument(L""), reply(L"untouched");
    const BSTR before = reply.get();
    VARIANTARG args[4];
    V_VT(&args[3]) = VT_BSTR;
    V_BSTR(&args[3]) = command.get();
    V_VT(&args[2]) = VT_BSTR;
    V_BSTR(&args[2]) = argument.get();
    V_VT(&args[1]) = VT_DISPATCH;
    V_DISPATCH(&args[1]) = nullptr;
    V_VT(&args[0]) = VT_BYREF | VT_BSTR;
    V_BSTRREF(&args[0]) = reply.address();
    DISPPARAMS params = {args, nullptr, 4, 0};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO exception = {};
    UINT argError = 0;
    CHECK_HR(DISP_E_EXCEPTION,
             object->Invoke(IdOf(object.get(), L"ParseCommand"), IID_NULL, 0x409, DISPATCH_METHOD,
                            &params, &result, &exception, &argError));
    CHECK_HR(kTypeMismatch, exception.scode);
    CHECK(exception.bstrDescription && SysStringLen(exception.bstrDescription) > 0);
    CHECK_EQ_WSTR(L"ZuvoFileSharing.beta", exception.bstrSource ? exception.bstrSource : L"");
    CHECK(reply.get() == before);
    CHECK_EQ_WSTR(L"untouched", reply.text());
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrHelpFile);
  }
}

// ---------------------------------------------------------------------------
// Toasts: the registered message reaches a real top-level window.

// The toast record as the server lays it out: four fields, the three
// addresses pointer-sized.
struct ToastRecord {
  const wchar_t* pTitle;
  const wchar_t* pMessage;
  const wchar_t* pLink;
  INT32 nFlag;
};

struct ReceivedToast {
  std::wstring title, message, link;
  bool hasTitle = false, hasLink = false;
  INT32 flag = 0;
  LPARAM lParam = 0;
};
std::vector<ReceivedToast> g_toasts;
UINT g_toastMessage = 0;

LRESULT CALLBACK ToastWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == g_toastMessage && g_toastMessage != 0) {
    // The record lives only until the send returns: copy what we keep.
    const auto* record = reinterpret_cast<const ToastRecord*>(wParam);
    ReceivedToast toast;
    toast.hasTitle = record->pTitle != nullptr;
    toast.hasLink = record->pLink != nullptr;
    if (record->pTitle) toast.title = record->pTitle;
    if (record->pMessage) toast.message = record->pMessage;
    if (record->pLink) toast.link = record->pLink;
    toast.flag = record->nFlag;
    toast.lParam = lParam;
    g_toasts.push_back(toast);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// Another program's top-level window whose thread never reads its messages
// (com_client --hung-window): it signals the named event once the window
// exists and gives up after a while, so a toast that waited for it would be
// slow, not endless.
constexpr wchar_t kHungWindowReady[] = L"ZuvoHungWindowReady";
constexpr DWORD kHungWindowLifeMs = 20000;

int RunHungWindow() {
  HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, kHungWindowReady);
  HWND window = CreateWindowExW(0, L"STATIC", L"hung window", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0,
                                0, 100, 100, nullptr, nullptr, nullptr, nullptr);
  if (!window || !ready) return 1;
  SetEvent(ready);
  Sleep(kHungWindowLifeMs);
  return 0;
}

// Starts the hung window's process; its handle, or nullptr.
HANDLE StartHungWindow() {
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, kHungWindowReady);
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(self) + L"\" --hung-window";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  const bool started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                      nullptr, &startup, &process);
  const bool isReady = started && WaitForSingleObject(ready, 10000) == WAIT_OBJECT_0;
  CloseHandle(ready);
  if (!started) return nullptr;
  CloseHandle(process.hThread);
  CHECK(isReady);
  return process.hProcess;
}

void TestToasts() {
  wine_check::Context context("toasts");
  HANDLE hung = StartHungWindow();
  CHECK(hung != nullptr);
  g_toastMessage = RegisterWindowMessageW(L"Parlix_DisplayToast");
  CHECK(g_toastMessage >= 0xC000);
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = ToastWindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"ZuvoToastReceiver";
  RegisterClassW(&windowClass);
  // A plain top-level window, as the host's toast window is.
  HWND window = CreateWindowExW(0, L"ZuvoToastReceiver", L"toast receiver", WS_OVERLAPPEDWINDOW, 0,
                                0, 100, 100, nullptr, nullptr, windowClass.hInstance, nullptr);
  CHECK(window != nullptr);
  if (!window) return;

  Ptr<_beta> plugin;
  CoCreateInstance(CLSID_beta, nullptr, CLSCTX_INPROC_SERVER, IID__beta, plugin.outVoid());
  if (!plugin) return;
  VARIANT_BOOL ok = 0;
  plugin->Initialize(0, nullptr, nullptr, &ok);
  const wchar_t cr[] = {13, 0};
  const struct {
    const wchar_t* command;
    std::wstring toast;
  } cases[] = {
      {L"/xrstats", std::wstring(L"You have accepted and sent") + cr + L"0 files"},
      {L"/xron", std::wstring(L"Zuvo File Sharing has been") + cr + L"turned on"},
      {L"/xrstatus", std::wstring(L"Zuvo File Sharing is...") + cr + L"on"},
      {L"/xroff", std::wstring(L"Zuvo File Sharing has been") + cr + L"turned off"},
      {L"/xrstatus", std::wstring(L"Zuvo File Sharing is...") + cr + L"off"},
  };
  for (const auto& entry : cases) {
    wine_check::Context command(wine_check::Narrow(entry.command));
    g_toasts.clear();
    Bstr text(entry.command), argument(L""), reply(L"x");
    VARIANT_BOOL handled = VARIANT_FALSE;
    const ULONGLONG start = GetTickCount64();
    CHECK_HR(S_OK,
             plugin->ParseCommand(text.get(), argument.get(), nullptr, reply.address(), &handled));
    // The other program's hung window does not hold the toast.
    CHECK(GetTickCount64() - start < kHungWindowLifeMs / 4);
    CHECK_EQ_INT(VARIANT_TRUE, handled);
    CHECK_EQ_WSTR(L"", reply.text());
    // Delivered synchronously: the toast is there when the call returns.
    CHECK_EQ_INT(1, g_toasts.size());
    if (g_toasts.empty()) continue;
    const ReceivedToast& toast = g_toasts.front();
    CHECK_EQ_WSTR(entry.toast, toast.message);
    CHECK_EQ_WSTR(L"Zuvo File Sharing", toast.title);
    CHECK(toast.hasLink && !toast.link.empty());
    CHECK_EQ_INT(-1, toast.flag);
    CHECK_EQ_INT(1, toast.lParam);
  }
  DestroyWindow(window);
  if (hung) {
    // Still alive: it was there, hung, for every toast.
    CHECK_EQ_INT(WAIT_TIMEOUT, WaitForSingleObject(hung, 0));
    TerminateProcess(hung, 0);
    WaitForSingleObject(hung, 5000);
    CloseHandle(hung);
  }
}

// ---------------------------------------------------------------------------
// The DLL itself: exports, unload check, version block.

std::wstring RegisteredServerPath() {
  wchar_t path[MAX_PATH] = {};
  LONG size = sizeof(path);
  RegQueryValueW(HKEY_CLASSES_ROOT,
                 L"CLSID\\{347D0ED2-BC5E-4464-B9B4-738EE632B8D4}\\InprocServer32", path, &size);
  return path;
}

void TestExports() {
  wine_check::Context context("exports");
  const std::wstring path = RegisteredServerPath();
  CHECK(!path.empty());
  HMODULE module = LoadLibraryW(path.c_str());
  CHECK(module != nullptr);
  if (!module) return;
  using CanUnload = HRESULT(WINAPI*)();
  using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
  auto canUnload = reinterpret_cast<CanUnload>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
  auto getClassObject = reinterpret_cast<GetClassObject>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
  for (const char* name : {"DllRegisterServer", "DllUnregisterServer", "DllInstall"}) {
    CHECK(GetProcAddress(module, name) != nullptr);
  }
  if (canUnload && getClassObject) {
    CHECK_HR(S_OK, canUnload());
    void* unknown = reinterpret_cast<void*>(1);
    CHECK_HR(CLASS_E_CLASSNOTAVAILABLE, getClassObject(IID__beta, IID_IClassFactory, &unknown));
    CHECK(unknown == nullptr);
    Ptr<IClassFactory> factory;
    CHECK_HR(S_OK, getClassObject(CLSID_beta, IID_IClassFactory, factory.outVoid()));
    if (factory) {
      CHECK_HR(S_FALSE, canUnload());
      Ptr<IUnknown> object;
      CHECK_HR(S_OK, factory->CreateInstance(nullptr, IID_IUnknown, object.outVoid()));
      factory->LockServer(TRUE);
      factory.reset();
      CHECK_HR(S_FALSE, canUnload());  // the object and the lock hold it
      object.reset();
      CHECK_HR(S_FALSE, canUnload());  // the lock alone
      getClassObject(CLSID_beta, IID_IClassFactory, factory.outVoid());
      factory->LockServer(FALSE);
      factory.reset();
      CHECK_HR(S_OK, canUnload());
    }
  }
  FreeLibrary(module);

  // The version block.
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
  CHECK(size > 0);
  std::vector<BYTE> block(size);
  if (!size || !GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  CHECK(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  if (fixed) {
    CHECK_EQ_INT(0x00020000, fixed->dwFileVersionMS);
    CHECK_EQ_INT(0x00020000, fixed->dwProductVersionMS);
  }
  const struct {
    const wchar_t* key;
    const wchar_t* value;
  } strings[] = {
      {L"\\StringFileInfo\\040904B0\\FileVersion", L"2.00"},
      {L"\\StringFileInfo\\040904B0\\ProductVersion", L"2.00"},
      {L"\\StringFileInfo\\040904B0\\OLESelfRegister", nullptr},
  };
  for (const auto& entry : strings) {
    wchar_t* text = nullptr;
    length = 0;
    const BOOL found =
        VerQueryValueW(block.data(), entry.key, reinterpret_cast<void**>(&text), &length);
    wine_check::Context key(wine_check::Narrow(entry.key));
    CHECK(found);
    if (found && entry.value) CHECK_EQ_WSTR(entry.value, text);
  }
}

void TestUnregistered() {
  wine_check::Context context("unregistered");
  CLSID clsid = {};
  CHECK(FAILED(CLSIDFromProgID(L"ZuvoFileSharing.beta", &clsid)));
  Ptr<IUnknown> object;
  CHECK_HR(REGDB_E_CLASSNOTREG, CoCreateInstance(CLSID_beta, nullptr, CLSCTX_INPROC_SERVER,
                                                 IID_IUnknown, object.outVoid()));
  Ptr<ITypeLib> library;
  CHECK(FAILED(LoadRegTypeLib(LIBID_ZuvoFileSharing, 1, 0, 0x409, library.out())));
}

// Per-user registration. Wine's COM looks classes up only in the machine's
// classes key, so this follows the per-user entries by hand, as the system
// does on Windows: ProgID -> CLSID -> InprocServer32 -> DllGetClassObject,
// and the type library by its registered path.
std::wstring UserClassesText(const std::wstring& key, const wchar_t* name = nullptr) {
  wchar_t text[MAX_PATH] = {};
  DWORD size = sizeof(text);
  const std::wstring full = L"Software\\Classes\\" + key;
  if (RegGetValueW(HKEY_CURRENT_USER, full.c_str(), name, RRF_RT_REG_SZ, nullptr, text, &size) !=
      ERROR_SUCCESS) {
    return L"";
  }
  return text;
}

void TestPerUser() {
  wine_check::Context context("per-user registration");
  const std::wstring clsid = UserClassesText(L"ZuvoFileSharing.beta\\CLSID");
  CHECK_EQ_WSTR(L"{347D0ED2-BC5E-4464-B9B4-738EE632B8D4}", clsid);
  const std::wstring server = UserClassesText(L"CLSID\\" + clsid + L"\\InprocServer32");
  CHECK(!server.empty());
  CHECK_EQ_WSTR(L"Apartment",
                UserClassesText(L"CLSID\\" + clsid + L"\\InprocServer32", L"ThreadingModel"));
  const std::wstring library =
      UserClassesText(std::wstring(L"TypeLib\\{7514E2FA-FA7C-46B7-A375-51630E8A842B}\\1.0\\409\\") +
                      (sizeof(void*) == 8 ? L"win64" : L"win32"));
  CHECK_EQ_WSTR(server, library);
  CHECK(!UserClassesText(L"Interface\\{1FDA1137-60B4-4B0B-9B7C-7CBBAEF49C0C}\\TypeLib").empty());

  // Nothing for the whole machine.
  HKEY machine = nullptr;
  CHECK(RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                      L"Software\\Classes\\CLSID\\{347D0ED2-BC5E-4464-B9B4-738EE632B8D4}", 0,
                      KEY_READ, &machine) == ERROR_FILE_NOT_FOUND);

  Ptr<ITypeLib> typeLib;
  CHECK_HR(S_OK, LoadTypeLibEx(library.c_str(), REGKIND_NONE, typeLib.out()));
  HMODULE module = LoadLibraryW(server.c_str());
  CHECK(module != nullptr);
  if (!module) return;
  using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
  auto getClassObject = reinterpret_cast<GetClassObject>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
  Ptr<IClassFactory> factory;
  CHECK_HR(S_OK, getClassObject(CLSID_beta, IID_IClassFactory, factory.outVoid()));
  Ptr<_beta> plugin;
  if (factory) CHECK_HR(S_OK, factory->CreateInstance(nullptr, IID__beta, plugin.outVoid()));
  if (plugin) {
    Bstr name(L"");
    LONG commands = 0, tags = 0;
    VARIANT_BOOL result = 0;
    CHECK_HR(S_OK, plugin->GetPublishInfo(name.address(), &commands, &tags, &result));
    CHECK_EQ_WSTR(L"Zuvo File Sharing", name.text());
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--hung-window") return RunHungWindow();
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (argc > 1 && std::string(argv[1]) == "--expect-unregistered") {
    TestUnregistered();
  } else if (argc > 1 && std::string(argv[1]) == "--per-user") {
    TestPerUser();
  } else {
    TestCreation();
    TestTypeLibrary();
    TestVtableCalls();
    TestDispatchByName();
    TestToasts();
    CoFreeUnusedLibraries();
    TestExports();
  }
  CoUninitialize();
  return wine_check::Finish("com_client");
}
