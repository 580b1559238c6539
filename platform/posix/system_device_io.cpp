// Device I/O on POSIX systems: the sensor's kernel driver exists only on
// Windows, so no device interface is ever found and nothing opens. Hosts on
// these systems run the device layer on the simulated sensor driver.
#include "platform/device_io.h"

namespace vorsensor::platform {
namespace {

class PosixDeviceIo final : public DeviceIo {
 public:
  bool ListDeviceInterfaces(const DeviceClassId&, int32_t, const InterfaceFound&) override { return true; }
  DeviceHandle OpenDevice(const char*) override { return kClosedDevice; }
  bool ControlDevice(DeviceHandle, uint32_t, const void*, uint32_t, void*, uint32_t, uint32_t* returned) override {
    if (returned != nullptr) *returned = 0;
    return false;
  }
  void CloseDevice(DeviceHandle) override {}
};

}  // namespace

DeviceIo& SystemDeviceIo() {
  static PosixDeviceIo io;
  return io;
}

}  // namespace vorsensor::platform
