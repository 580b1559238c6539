#include "platform/device_io.h"

#include <algorithm>

namespace vorsensor::platform {

bool operator==(const DeviceClassId& a, const DeviceClassId& b) {
  return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 &&
         std::equal(a.data4, a.data4 + sizeof a.data4, b.data4);
}

}  // namespace vorsensor::platform
