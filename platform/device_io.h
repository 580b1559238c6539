#pragma once
// The device I/O seam: finding the device interfaces of a class, opening one
// by its path, sending it I/O control requests and closing it. On Windows the
// system implementation is the setup API, CreateFileA and DeviceIoControl; on
// other systems it finds no device. The simulated sensor driver (sim/)
// implements the same interface, so everything above it runs unchanged on it.
#include <cstdint>
#include <functional>

namespace vorsensor::platform {

// An open device: the file handle's value, or kClosedDevice.
using DeviceHandle = std::intptr_t;
constexpr DeviceHandle kClosedDevice = -1;

// A device-interface class identifier (a GUID, in its usual field layout).
struct DeviceClassId {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  uint8_t data4[8] = {};
};
bool operator==(const DeviceClassId& a, const DeviceClassId& b);

// Called with the element index and its zero-terminated device path.
using InterfaceFound = std::function<void(int32_t index, const char* path)>;

class DeviceIo {
 public:
  virtual ~DeviceIo() = default;

  // Looks at elements 0..count-1 of the set of present devices of the class.
  // Element i counts when its device information, its driver key, interface i
  // of the class and that interface's path can all be read; `found` is called
  // for those only, in index order. False when the set itself cannot be had.
  virtual bool ListDeviceInterfaces(const DeviceClassId& interfaceClass, int32_t count,
                                    const InterfaceFound& found) = 0;

  // Opens a device path for reading, shared for reading, for overlapped I/O.
  // kClosedDevice on failure.
  virtual DeviceHandle OpenDevice(const char* path) = 0;

  // Sends one control request. True only when the request was done at once;
  // a request the driver leaves pending counts as failed, and the call returns
  // only when nothing can write into the buffers or the byte count any more.
  // `returned` receives the byte count (0 on failure).
  virtual bool ControlDevice(DeviceHandle handle, uint32_t code, const void* input, uint32_t inputLength,
                             void* output, uint32_t outputLength, uint32_t* returned) = 0;

  virtual void CloseDevice(DeviceHandle handle) = 0;
};

// The operating system's device I/O (one instance, never destroyed).
DeviceIo& SystemDeviceIo();

}  // namespace vorsensor::platform
