// The DLL's entry points: DllMain, the class object and the unload check.
// Registration lives in registration.cpp.
#include <windows.h>
// (windows.h first: the OLE headers need its types)
#include <objbase.h>

#include "ZuvoFileSharing.h"
#include "com/beta_object.h"
#include "com/module.h"

namespace zuvo::com {
namespace {

// The class object of beta. It lives as long as the DLL; references to it
// hold the module, as LockServer does.
class ClassFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *object = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    LockModule();
    return 2;
  }
  ULONG STDMETHODCALLTYPE Release() override {
    UnlockModule();
    return 1;
  }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return CreateBetaObject(riid, object);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      LockModule();
    } else {
      UnlockModule();
    }
    return S_OK;
  }
};

ClassFactory g_factory;

}  // namespace
}  // namespace zuvo::com

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void* reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      zuvo::com::g_instance = instance;
      DisableThreadLibraryCalls(instance);
      break;
    case DLL_PROCESS_DETACH:
      // At process exit other DLLs may already be gone; only a FreeLibrary
      // unload releases what we hold from them.
      if (!reserved) zuvo::com::ReleaseTypeInfo();
      break;
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_beta)) return CLASS_E_CLASSNOTAVAILABLE;
  return zuvo::com::g_factory.QueryInterface(riid, object);
}

STDAPI DllCanUnloadNow() { return zuvo::com::ModuleInUse() ? S_FALSE : S_OK; }
