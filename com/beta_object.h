// The automation object the host creates: the dual interface _beta over one
// plug-in object of the core. Each operation converts the automation types
// (BSTR, LONG, VARIANT_BOOL, VARIANT) to the core's and back, and turns the
// core's errors into the HRESULT the core chose, with IErrorInfo text.
#pragma once

#include <windows.h>

namespace zuvo::com {

// Creates an object and queries it for |riid|; the object is released again
// when the query fails.
HRESULT CreateBetaObject(REFIID riid, void** object);

}  // namespace zuvo::com
