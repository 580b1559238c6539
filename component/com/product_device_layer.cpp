// The product's device layer: the system's sensor device and the real clock.
#include "component/com/device_layer.h"

namespace vorsensor::com {

platform::Clock& PrepareDeviceLayer() { return platform::SystemClock(); }
bool DeviceLayerRegisters() { return true; }

}  // namespace vorsensor::com
