#pragma once
// The class factory of VorSensorN: creates automation objects plainly or as
// the inner object of an aggregate, and holds the module with LockServer.
#include <windows.h>

namespace vorsensor::com {

// The factory's interface `iid` (IUnknown or IClassFactory) in *object.
HRESULT GetVorSensorNFactory(REFIID iid, void** object);

}  // namespace vorsensor::com
