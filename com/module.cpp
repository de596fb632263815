#include "com/module.h"

#include <memory>

#include "ZuvoFileSharing.h"
#include "base/message_box_win32.h"
#include "files/event_pump_win32.h"
#include "settings/form_view_win32.h"

namespace zuvo::com {

HINSTANCE g_instance = nullptr;

namespace {

LONG g_moduleLocks = 0;
ITypeInfo* g_betaTypeInfo = nullptr;

// The Windows services the server's modules run on.
struct Win32Platform {
  std::unique_ptr<RegistryBackend> registry = OpenPlatformRegistry({});
  Win32MessageBox messageBox;
  Win32FormView formView;
  std::unique_ptr<WindowMessages> windowMessages = CreatePlatformWindowMessages();
  std::unique_ptr<FileSystem> fileSystem = CreatePlatformFileSystem();
  Win32EventPump eventPump;

  Platform services() {
    Platform platform;
    platform.registry = registry.get();
    platform.messageBox = &messageBox;
    platform.formView = &formView;
    platform.windowMessages = windowMessages.get();
    platform.fileSystem = fileSystem.get();
    platform.eventPump = &eventPump;
    platform.pathStyle = PathStyle::kWindows;
    return platform;
  }
};

struct ServerInstance {
  Win32Platform platform;
  PluginServer server{platform.services()};
};

}  // namespace

std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(g_instance, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

void LockModule() { InterlockedIncrement(&g_moduleLocks); }
void UnlockModule() { InterlockedDecrement(&g_moduleLocks); }
bool ModuleInUse() { return g_moduleLocks != 0; }

PluginServer& Server() {
  // Made on first use (thread-safe static initialisation); destroyed when the
  // DLL is unloaded.
  static ServerInstance instance;
  return instance.server;
}

HRESULT GetBetaTypeInfo(ITypeInfo** info) {
  if (!g_betaTypeInfo) {
    ITypeLib* library = nullptr;
    HRESULT hr = LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, &library);
    if (FAILED(hr)) return hr;
    ITypeInfo* typeInfo = nullptr;
    hr = library->GetTypeInfoOfGuid(IID__beta, &typeInfo);
    library->Release();
    if (FAILED(hr)) return hr;
    // Another thread may have raced us here; keep the first.
    if (InterlockedCompareExchangePointer(reinterpret_cast<void**>(&g_betaTypeInfo), typeInfo,
                                          nullptr) != nullptr) {
      typeInfo->Release();
    }
  }
  g_betaTypeInfo->AddRef();
  *info = g_betaTypeInfo;
  return S_OK;
}

void ReleaseTypeInfo() {
  if (g_betaTypeInfo) {
    g_betaTypeInfo->Release();
    g_betaTypeInfo = nullptr;
  }
}

}  // namespace zuvo::com
