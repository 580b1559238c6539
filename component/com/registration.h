#pragma once
// DllRegisterServer and DllUnregisterServer: the AppID script (resource 101),
// the class script (resource 102) and the type library (resource 1), run
// under the system default thread locale.
#include <windows.h>

namespace vorsensor::com {

// AppID entries; on success the class entries and the type library. The
// first failure, or S_OK.
HRESULT RegisterServer();
// Class entries and type library; only if that succeeded, the AppID entries.
HRESULT UnregisterServer();

}  // namespace vorsensor::com
