#pragma once
// The COM face of CVorSensorN: the dual IVorSensorN (IDispatch through the
// type information of the module's own type library), the connection point
// container with the _IVorSensorNEvents connection point, and aggregation.
// Every IVorSensorN method returns S_OK (E_POINTER only for a missing out
// pointer); the answers travel in the out-parameters and in DataEvent.
#include <windows.h>

namespace vorsensor::com {

// Creates an object, as the inner object of `outer` when not null, and gives
// interface `iid` of it (of the inner unknown when aggregated).
HRESULT CreateAutomationObject(IUnknown* outer, REFIID iid, void** object);

}  // namespace vorsensor::com
