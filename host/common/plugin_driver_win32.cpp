// The Windows driver: the console drives the registered COM object, created
// by its ProgID, through its vtable. What the calls raise is seen the way a
// user would see it: toasts arrive at a hidden top-level window of this
// thread, and a watcher thread finds the real message boxes (reads and
// answers them) and the real options window (works its controls with window
// messages, as the form actions say).
#include <windows.h>
// (windows.h first: the OLE headers need its types)
#include <oleauto.h>
#include <shlobj.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <utility>

// The interface's GUIDs are defined here, in the one file that uses them.
#include <initguid.h>

#include "ZuvoFileSharing.h"
#include "base/plugin_error.h"
#include "base/text.h"
#include "core/px_plugin_const.h"
#include "host/common/plugin_driver.h"

namespace zuvo {
namespace {

constexpr wchar_t kProgId[] = L"ZuvoFileSharing.beta";
constexpr wchar_t kToastWindowClass[] = L"ZuvoConsoleToasts";
constexpr wchar_t kFormClass[] = L"ZuvoOptionsForm";
// The options window's control identifiers (settings/form_view_win32.h).
constexpr int kText1 = 101, kText2 = 102, kText3 = 103, kCheck1 = 111, kCheck2 = 112;
constexpr int kCancel = 121, kApply = 122, kBrowse = 123, kFrame = 130;

std::wstring Wide(const std::u16string& text) { return {text.begin(), text.end()}; }
std::u16string FromWide(const wchar_t* text, size_t length) {
  return {reinterpret_cast<const char16_t*>(text), length};
}

std::u16string WindowText(HWND window) {
  wchar_t buffer[1024] = {};
  const int length = GetWindowTextW(window, buffer, 1024);
  return FromWide(buffer, static_cast<size_t>(length));
}

class Bstr {
 public:
  explicit Bstr(const std::u16string& text)
      : value_(SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                                 static_cast<UINT>(text.size()))) {}
  ~Bstr() { SysFreeString(value_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return value_; }
  BSTR* address() { return &value_; }
  std::u16string text() const {
    return value_ ? FromWide(value_, SysStringLen(value_)) : std::u16string();
  }

 private:
  BSTR value_;
};

// A failed call becomes the core's error: the HRESULT and the text of the
// error information the server set.
void ThrowOnFailure(HRESULT hr) {
  if (SUCCEEDED(hr)) return;
  std::string description = "call failed";
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) == S_OK && info) {
    BSTR text = nullptr;
    if (SUCCEEDED(info->GetDescription(&text)) && text) {
      description = Utf16ToUtf8(FromWide(text, SysStringLen(text)));
    }
    SysFreeString(text);
    info->Release();
  }
  throw PluginError(static_cast<int32_t>(hr), description);
}

// The contract, forwarded to the COM object. In/out texts are handed back
// also when the call fails: what the server assigned before failing stays.
class ComPlugin : public PXPluginDef {
 public:
  explicit ComPlugin(_beta* object) : object_(object) {}

  bool Initialize(int32_t nVersion, const std::u16string& sUserEmail, HostObject*) override {
    Bstr email(sUserEmail);
    VARIANT_BOOL result = VARIANT_FALSE;
    ThrowOnFailure(object_->Initialize(nVersion, email.get(), nullptr, &result));
    return result != VARIANT_FALSE;
  }
  Variant Uninitialize() override {
    VARIANT result;
    VariantInit(&result);
    const HRESULT hr = object_->Uninitialize(&result);
    VariantClear(&result);
    ThrowOnFailure(hr);
    return {};
  }
  bool GetPublishInfo(std::u16string& sPluginName, int32_t& nCommandCount,
                      int32_t& nTagCount) override {
    Bstr name(sPluginName);
    LONG commands = nCommandCount, tags = nTagCount;
    VARIANT_BOOL result = VARIANT_FALSE;
    const HRESULT hr = object_->GetPublishInfo(name.address(), &commands, &tags, &result);
    sPluginName = name.text();
    nCommandCount = commands;
    nTagCount = tags;
    ThrowOnFailure(hr);
    return result != VARIANT_FALSE;
  }
  Variant GetPublishCommandInfo(int32_t nCommandIdx, std::u16string& sName, std::u16string& sValue,
                                std::u16string& sHelp) override {
    Bstr name(sName), value(sValue), help(sHelp);
    VARIANT result;
    VariantInit(&result);
    const HRESULT hr = object_->GetPublishCommandInfo(nCommandIdx, name.address(), value.address(),
                                                      help.address(), &result);
    VariantClear(&result);
    sName = name.text();
    sValue = value.text();
    sHelp = help.text();
    ThrowOnFailure(hr);
    return {};
  }
  Variant GetPublishTagInfo(int32_t nTagIdx, std::u16string& sName,
                            std::u16string& sValue) override {
    Bstr name(sName), value(sValue);
    VARIANT result;
    VariantInit(&result);
    const HRESULT hr =
        object_->GetPublishTagInfo(nTagIdx, name.address(), value.address(), &result);
    VariantClear(&result);
    sName = name.text();
    sValue = value.text();
    ThrowOnFailure(hr);
    return {};
  }
  bool ParseCommand(const std::u16string& sCommand, const std::u16string& sCommandArg, HostObject*,
                    std::u16string& sResult) override {
    Bstr command(sCommand), argument(sCommandArg), reply(sResult);
    VARIANT_BOOL result = VARIANT_FALSE;
    const HRESULT hr =
        object_->ParseCommand(command.get(), argument.get(), nullptr, reply.address(), &result);
    sResult = reply.text();
    ThrowOnFailure(hr);
    return result != VARIANT_FALSE;
  }
  bool ParseTag(const std::u16string& sTag, HostObject*, std::u16string& sResult) override {
    Bstr tag(sTag), reply(sResult);
    VARIANT_BOOL result = VARIANT_FALSE;
    const HRESULT hr = object_->ParseTag(tag.get(), nullptr, reply.address(), &result);
    sResult = reply.text();
    ThrowOnFailure(hr);
    return result != VARIANT_FALSE;
  }
  bool ReceiveNotify(const std::u16string& sNotifyCode, const std::u16string& sText,
                     const std::u16string& sContactName, HostObject*,
                     std::u16string& sTextToSend) override {
    Bstr code(sNotifyCode), text(sText), contact(sContactName), reply(sTextToSend);
    VARIANT_BOOL result = VARIANT_FALSE;
    const HRESULT hr = object_->ReceiveNotify(code.get(), text.get(), contact.get(), nullptr,
                                              reply.address(), &result);
    sTextToSend = reply.text();
    ThrowOnFailure(hr);
    return result != VARIANT_FALSE;
  }

 private:
  _beta* object_;
};

struct ClassSearch {
  const wchar_t* name;
  bool found;
};

BOOL CALLBACK FindChildOfClass(HWND child, LPARAM data) {
  auto* search = reinterpret_cast<ClassSearch*>(data);
  wchar_t name[64] = {};
  GetClassNameW(child, name, 64);
  if (lstrcmpiW(name, search->name) == 0) search->found = true;
  return !search->found;
}

bool HasChildOfClass(HWND window, const wchar_t* className) {
  ClassSearch search = {className, false};
  EnumChildWindows(window, FindChildOfClass, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

BOOL CALLBACK CollectVisible(HWND window, LPARAM list) {
  if (IsWindowVisible(window)) reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  return TRUE;
}

std::vector<HWND> ThreadWindows(DWORD thread) {
  std::vector<HWND> windows;
  EnumThreadWindows(thread, CollectVisible, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

BOOL CALLBACK AppendStaticText(HWND child, LPARAM out) {
  if (lstrcmpiW(ClassOf(child).c_str(), L"Static") == 0) {
    *reinterpret_cast<std::u16string*>(out) += WindowText(child);
  }
  return TRUE;
}

class Win32PluginDriver : public PluginDriver {
 public:
  Win32PluginDriver() {
    uiThread_ = GetCurrentThreadId();
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(kProgId, &clsid);
    if (SUCCEEDED(hr)) {
      hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID__beta,
                            reinterpret_cast<void**>(&object_));
    }
    if (FAILED(hr)) {
      char text[96];
      std::snprintf(text, sizeof text,
                    "cannot create ZuvoFileSharing.beta (%#lx); is it registered?",
                    static_cast<unsigned long>(hr));
      throw std::runtime_error(text);
    }
    plugin_ = std::make_unique<ComPlugin>(object_);

    toastMessage_ = RegisterWindowMessageW(L"Parlix_DisplayToast");
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = ToastProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kToastWindowClass;
    RegisterClassW(&windowClass);
    toastWindow_ = CreateWindowExW(0, kToastWindowClass, L"", WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                                   nullptr, windowClass.hInstance, nullptr);
    SetWindowLongPtrW(toastWindow_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    watcher_ = std::thread([this] { Watch(); });
  }

  ~Win32PluginDriver() override {
    stop_ = true;
    watcher_.join();
    plugin_.reset();
    if (object_) object_->Release();
    if (toastWindow_) DestroyWindow(toastWindow_);
    CoUninitialize();
  }

  PXPluginDef& plugin() override { return *plugin_; }
  void SetFormActions(std::vector<FormAction> actions) override {
    std::lock_guard<std::mutex> lock(mutex_);
    formActions_ = std::move(actions);
  }
  std::vector<ToastSeen> TakeToasts() override { return std::exchange(toasts_, {}); }
  std::vector<MessageBoxSeen> TakeMessageBoxes() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(messageBoxes_, {});
  }
  std::optional<BetaState> State() override { return std::nullopt; }
  HolderFields ReadHolder() override {
    throw std::runtime_error("the settings holder lives inside the server DLL");
  }

 private:
  static LRESULT CALLBACK ToastProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<Win32PluginDriver*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self && message == self->toastMessage_ && wParam != 0) {
      // The record lives only while the send lasts: copy it now.
      const auto* record = reinterpret_cast<const ToastRecord*>(wParam);
      auto text = [](const char16_t* p) { return p ? std::u16string(p) : std::u16string(); };
      self->toasts_.push_back(
          {text(record->pTitle), text(record->pMessage), text(record->pLink), record->nFlag});
      return 1;
    }
    return DefWindowProcW(window, message, wParam, lParam);
  }

  // Runs beside the host's thread: whatever modal window a call opens on
  // it is found here and answered.
  void Watch() {
    std::set<HWND> handled;
    while (!stop_) {
      for (HWND window : ThreadWindows(uiThread_)) {
        if (handled.count(window) && IsWindow(window)) continue;
        const std::wstring className = ClassOf(window);
        if (className == L"#32770" && !HasChildOfClass(window, L"SysTreeView32")) {
          handled.insert(window);
          AnswerMessageBox(window);
        } else if (className == kFormClass) {
          handled.insert(window);
          WorkForm(window);
        }
      }
      // Windows that are gone may be reused by new ones.
      for (auto it = handled.begin(); it != handled.end();) {
        it = IsWindowVisible(*it) ? std::next(it) : handled.erase(it);
      }
      Sleep(20);
    }
  }

  void AnswerMessageBox(HWND box) {
    std::u16string text;
    EnumChildWindows(box, AppendStaticText, reinterpret_cast<LPARAM>(&text));
    {
      std::lock_guard<std::mutex> lock(mutex_);
      messageBoxes_.push_back({text, WindowText(box)});
    }
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  }

  static HWND Control(HWND form, int id) {
    HWND control = GetDlgItem(form, id);
    return control ? control : GetDlgItem(GetDlgItem(form, kFrame), id);
  }

  static bool WaitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 500 && !condition(); ++i) Sleep(10);
    return condition();
  }

  HWND FindBrowser() {
    for (HWND window : ThreadWindows(uiThread_)) {
      if (ClassOf(window) == L"#32770" && HasChildOfClass(window, L"SysTreeView32")) return window;
    }
    return nullptr;
  }

  void WorkForm(HWND form) {
    std::vector<FormAction> actions;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      actions = std::exchange(formActions_, {});
    }
    auto open = [&] { return IsWindow(form) && IsWindowVisible(form); };
    for (const FormAction& action : actions) {
      if (!open()) break;
      const std::u16string& name = action.control;
      switch (action.kind) {
        case FormAction::Kind::kSetText: {
          const int id = name == u"Text1" ? kText1 : name == u"Text2" ? kText2 : kText3;
          const std::wstring text = Wide(action.text);
          SendMessageW(Control(form, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
          break;
        }
        case FormAction::Kind::kSetCheck: {
          const HWND box = Control(form, name == u"Check1" ? kCheck1 : kCheck2);
          const LRESULT want = action.check ? BST_CHECKED : BST_UNCHECKED;
          if (SendMessageW(box, BM_GETCHECK, 0, 0) != want) {
            PostMessageW(box, BM_CLICK, 0, 0);
            WaitFor([&] { return SendMessageW(box, BM_GETCHECK, 0, 0) == want; });
          }
          break;
        }
        case FormAction::Kind::kClick:
          if (name == u"Apply" || name == u"Cancel") {
            PostMessageW(Control(form, name == u"Apply" ? kApply : kCancel), BM_CLICK, 0, 0);
            WaitFor([&] { return !open(); });
          } else if (name == u"Close") {
            PostMessageW(form, WM_SYSCOMMAND, SC_CLOSE, 0);
            WaitFor([&] { return !open(); });
          } else if (name == u"...") {
            Browse(form, action.browse.value_or(u""));
          }
          break;
      }
    }
    // Actions that leave the form open end with the window's close command.
    if (open()) {
      PostMessageW(form, WM_SYSCOMMAND, SC_CLOSE, 0);
      WaitFor([&] { return !open(); });
    }
  }

  // The folder browser: picks |folder| (or cancels for none) by messages.
  void Browse(HWND form, const std::u16string& folder) {
    PostMessageW(Control(form, kBrowse), BM_CLICK, 0, 0);
    HWND browser = nullptr;
    if (!WaitFor([&] { return (browser = FindBrowser()) != nullptr; })) return;
    Sleep(100);  // let the dialog fill its tree
    if (folder.empty()) {
      PostMessageW(browser, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    } else {
      const std::wstring path = Wide(folder);
      SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(path.c_str()));
      PostMessageW(browser, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }
    WaitFor([&] { return !IsWindow(browser) || !IsWindowVisible(browser); });
    Sleep(50);
  }

  DWORD uiThread_ = 0;
  _beta* object_ = nullptr;
  std::unique_ptr<ComPlugin> plugin_;
  UINT toastMessage_ = 0;
  HWND toastWindow_ = nullptr;
  std::vector<ToastSeen> toasts_;
  std::mutex mutex_;
  std::vector<MessageBoxSeen> messageBoxes_;
  std::vector<FormAction> formActions_;
  std::atomic<bool> stop_{false};
  std::thread watcher_;
};

}  // namespace

std::unique_ptr<PluginDriver> CreatePluginDriver(RegistryBackend&, FormView*) {
  return std::make_unique<Win32PluginDriver>();
}

}  // namespace zuvo
