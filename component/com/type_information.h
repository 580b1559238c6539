#pragma once
// The type information of the module's own type library (resource 1), read
// from the module file without the registry, so IDispatch works before and
// without registration.
#include <oaidl.h>
#include <windows.h>

namespace vorsensor::com {

// The type information of `guid` (an interface or the class; of a dual
// interface its interface side), referenced for
// the caller; an error HRESULT when the library cannot be read.
HRESULT LoadModuleTypeInfo(REFGUID guid, ITypeInfo** info);

}  // namespace vorsensor::com
