// What the server DLL holds as a whole: its module handle, the count of
// live objects and locks that DllCanUnloadNow answers from, the one
// PluginServer all plug-in objects share, and the cached type information
// that IDispatch calls go through.
#pragma once

#include <windows.h>
// (windows.h first: the OLE headers need its types)
#include <oaidl.h>

#include <string>

#include "core/plugin_server.h"

namespace zuvo::com {

// The DLL's own module handle, from DllMain.
extern HINSTANCE g_instance;

// The full path of this DLL.
std::wstring ModulePath();

// Live objects, class-factory references and LockServer(TRUE) calls each
// hold the module.
void LockModule();
void UnlockModule();
bool ModuleInUse();

// The one server of this DLL, created with the Windows platform services on
// first use and kept until the DLL is unloaded, so that the settings holder
// outlives the plug-in objects as the host expects.
PluginServer& Server();

// The type information of _beta from the type library embedded in this DLL,
// loaded once. On success the caller owns one reference.
HRESULT GetBetaTypeInfo(ITypeInfo** info);
void ReleaseTypeInfo();

}  // namespace zuvo::com
