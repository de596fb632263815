// Self-registration: DllRegisterServer and DllUnregisterServer for the whole
// machine (HKLM\Software\Classes), and DllInstall with the command line
// "user" for the current user only (HKCU\Software\Classes), which needs no
// administrator rights: `regsvr32 /n /i:user ZuvoFileSharing.dll`.
//
// Written under the classes key of the chosen scope:
//   CLSID\{beta}                  the class, its in-process server (apartment
//                                 threaded), ProgID and type library
//   ZuvoFileSharing.beta          the ProgID, pointing at the class
//   TypeLib\{library}\1.0\409\win32 or win64   this DLL, which embeds it
//   Interface\{_beta}             the dual interface, marshalled through the
//                                 type library (the automation marshaller)
#include <windows.h>
// (windows.h first: the OLE headers need its types)
#include <oleauto.h>

#include <string>

#include "ZuvoFileSharing.h"
#include "com/module.h"

namespace zuvo::com {
namespace {

constexpr wchar_t kProgId[] = L"ZuvoFileSharing.beta";
constexpr wchar_t kLibraryName[] = L"ZuvoFileSharing";
constexpr wchar_t kInterfaceName[] = L"_beta";
constexpr wchar_t kTypeLibVersion[] = L"1.0";
constexpr wchar_t kTypeLibLcid[] = L"409";
// The automation (type library) marshaller, PSOAInterface.
constexpr wchar_t kAutomationMarshaller[] = L"{00020424-0000-0000-C000-000000000046}";
#ifdef _WIN64
constexpr wchar_t kTypeLibPlatform[] = L"win64";
#else
constexpr wchar_t kTypeLibPlatform[] = L"win32";
#endif

enum class Scope { kMachine, kUser };

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

// The classes key of a scope, opened for writing and deleting.
class ClassesKey {
 public:
  explicit ClassesKey(Scope scope) {
    status_ = RegCreateKeyExW(scope == Scope::kMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER,
                              L"Software\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                              nullptr);
  }
  ~ClassesKey() {
    if (key_) RegCloseKey(key_);
  }
  ClassesKey(const ClassesKey&) = delete;
  ClassesKey& operator=(const ClassesKey&) = delete;

  LSTATUS status() const { return status_; }

  // Creates |path| (with its parents) and sets its value |name| (the default
  // value when empty) to |data|.
  LSTATUS SetText(const std::wstring& path, const wchar_t* name, const std::wstring& data) {
    HKEY sub = nullptr;
    LSTATUS status =
        RegCreateKeyExW(key_, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &sub, nullptr);
    if (status != ERROR_SUCCESS) return status;
    status = RegSetValueExW(sub, *name ? name : nullptr, 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(data.c_str()),
                            static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(sub);
    return status;
  }

  // Deletes |path| with everything below it; a missing key is no error.
  LSTATUS DeleteTree(const std::wstring& path) {
    const LSTATUS status = RegDeleteTreeW(key_, path.c_str());
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) {
      // RegDeleteTree empties the key; this removes the key itself.
      const LSTATUS removed = RegDeleteKeyW(key_, path.c_str());
      return removed == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : removed;
    }
    return status;
  }

  // The number of sub-keys of |path|; -1 when it does not exist.
  long SubKeyCount(const std::wstring& path) {
    HKEY sub = nullptr;
    if (RegOpenKeyExW(key_, path.c_str(), 0, KEY_READ, &sub) != ERROR_SUCCESS) return -1;
    DWORD count = 0;
    RegQueryInfoKeyW(sub, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr);
    RegCloseKey(sub);
    return static_cast<long>(count);
  }

 private:
  HKEY key_ = nullptr;
  LSTATUS status_ = ERROR_SUCCESS;
};

HRESULT FromStatus(LSTATUS status) {
  return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
}

HRESULT Unregister(Scope scope) {
  ClassesKey classes(scope);
  if (classes.status() != ERROR_SUCCESS) return FromStatus(classes.status());
  const std::wstring clsid = GuidText(CLSID_beta);
  const std::wstring library = L"TypeLib\\" + GuidText(LIBID_ZuvoFileSharing);
  const std::wstring version = library + L"\\" + kTypeLibVersion;
  const std::wstring locale = version + L"\\" + kTypeLibLcid;

  LSTATUS status = classes.DeleteTree(L"CLSID\\" + clsid);
  if (status == ERROR_SUCCESS) status = classes.DeleteTree(kProgId);
  if (status == ERROR_SUCCESS) status = classes.DeleteTree(locale + L"\\" + kTypeLibPlatform);
  // The other platform's build of the server may still be registered under
  // the same library version; the shared keys go with the last of them.
  if (status == ERROR_SUCCESS && classes.SubKeyCount(locale) == 0) {
    status = classes.DeleteTree(locale);
  }
  if (status == ERROR_SUCCESS && classes.SubKeyCount(locale) < 0) {
    status = classes.DeleteTree(version);
    if (status == ERROR_SUCCESS && classes.SubKeyCount(library) == 0) {
      status = classes.DeleteTree(library);
    }
    if (status == ERROR_SUCCESS) status = classes.DeleteTree(L"Interface\\" + GuidText(IID__beta));
  }
  return FromStatus(status);
}

HRESULT Register(Scope scope) {
  const std::wstring path = ModulePath();
  if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
  // The type library must load from this DLL before anything points at it.
  ITypeLib* typeLib = nullptr;
  HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &typeLib);
  if (FAILED(hr)) return hr;
  typeLib->Release();

  ClassesKey classes(scope);
  if (classes.status() != ERROR_SUCCESS) return FromStatus(classes.status());
  const std::wstring clsid = GuidText(CLSID_beta);
  const std::wstring libid = GuidText(LIBID_ZuvoFileSharing);
  const std::wstring classKey = L"CLSID\\" + clsid;
  const std::wstring versionKey = L"TypeLib\\" + libid + L"\\" + kTypeLibVersion;
  const std::wstring interfaceKey = L"Interface\\" + GuidText(IID__beta);
  const std::wstring folder = path.substr(0, path.find_last_of(L'\\') + 1);

  const struct {
    std::wstring key;
    const wchar_t* name;
    std::wstring data;
  } entries[] = {
      {classKey, L"", kProgId},
      {classKey + L"\\InprocServer32", L"", path},
      {classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
      {classKey + L"\\ProgID", L"", kProgId},
      {classKey + L"\\VersionIndependentProgID", L"", kProgId},
      {classKey + L"\\Programmable", L"", L""},
      {classKey + L"\\TypeLib", L"", libid},
      {classKey + L"\\Version", L"", kTypeLibVersion},
      {kProgId, L"", kProgId},
      {std::wstring(kProgId) + L"\\CLSID", L"", clsid},
      {versionKey, L"", kLibraryName},
      {versionKey + L"\\FLAGS", L"", L"0"},
      {versionKey + L"\\HELPDIR", L"", folder},
      {versionKey + L"\\" + kTypeLibLcid + L"\\" + kTypeLibPlatform, L"", path},
      {interfaceKey, L"", kInterfaceName},
      {interfaceKey + L"\\ProxyStubClsid", L"", kAutomationMarshaller},
      {interfaceKey + L"\\ProxyStubClsid32", L"", kAutomationMarshaller},
      {interfaceKey + L"\\TypeLib", L"", libid},
      {interfaceKey + L"\\TypeLib", L"Version", kTypeLibVersion},
  };
  for (const auto& entry : entries) {
    const LSTATUS status = classes.SetText(entry.key, entry.name, entry.data);
    if (status != ERROR_SUCCESS) {
      Unregister(scope);  // leave no half-registered class behind
      return FromStatus(status);
    }
  }
  return S_OK;
}

}  // namespace
}  // namespace zuvo::com

using zuvo::com::Scope;

STDAPI DllRegisterServer() { return zuvo::com::Register(Scope::kMachine); }

STDAPI DllUnregisterServer() { return zuvo::com::Unregister(Scope::kMachine); }

// regsvr32 /i[:cmdline] calls this; with /n it is the only call. The command
// line "user" registers for the current user; an empty one for the machine.
STDAPI DllInstall(BOOL install, LPCWSTR cmdLine) {
  Scope scope = Scope::kMachine;
  if (cmdLine && *cmdLine) {
    if (CompareStringOrdinal(cmdLine, -1, L"user", -1, TRUE) != CSTR_EQUAL) return E_INVALIDARG;
    scope = Scope::kUser;
  }
  return install ? zuvo::com::Register(scope) : zuvo::com::Unregister(scope);
}
