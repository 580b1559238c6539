#pragma once
// Enumerators over a snapshot taken when they are made: the connections of a
// connection point (IEnumConnections) and the connection points of a
// container (IEnumConnectionPoints). Every interface in the snapshot is held
// referenced until the enumerator is released.
#include <ocidl.h>
#include <windows.h>

#include <vector>

namespace vorsensor::com {

// The connections (sink and cookie) in *enumerator; E_OUTOFMEMORY when none can be made.
HRESULT MakeConnectionEnumerator(const std::vector<CONNECTDATA>& connections, IEnumConnections** enumerator);
// The connection points in *enumerator.
HRESULT MakeConnectionPointEnumerator(const std::vector<IConnectionPoint*>& points,
                                      IEnumConnectionPoints** enumerator);

}  // namespace vorsensor::com
