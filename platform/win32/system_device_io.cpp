// Device I/O on Windows: the setup API finds the interfaces of a class,
// CreateFileA opens one for overlapped reading, DeviceIoControl carries the
// requests. A request is done only when DeviceIoControl succeeds at once; one
// the driver leaves pending is cancelled and waited for, so that neither the
// caller's buffers nor the overlapped record on this stack are written after
// the call returns.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#endif
#include <windows.h>
// windows.h first: the setup API header needs its types.
#include <setupapi.h>

#include <cstdlib>
#include <cstring>

#include "platform/device_io.h"

namespace vorsensor::platform {
namespace {

// The driver key is read only to prove the element is usable; its value is not kept.
constexpr DWORD kDriverKeyBytes = 150;

GUID ToGuid(const DeviceClassId& id) {
  GUID guid;
  guid.Data1 = id.data1;
  guid.Data2 = id.data2;
  guid.Data3 = id.data3;
  std::memcpy(guid.Data4, id.data4, sizeof guid.Data4);
  return guid;
}

HANDLE ToHandle(DeviceHandle handle) { return reinterpret_cast<HANDLE>(handle); }

// The interface's device path through a block of the size the setup API asks
// for; false when either call fails.
bool ReadInterfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* iface, int32_t index, const InterfaceFound& found) {
  DWORD required = 0;
  SetupDiGetDeviceInterfaceDetailA(set, iface, nullptr, 0, &required, nullptr);
  if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
    return false;
  }
  auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(std::calloc(1, required));
  if (detail == nullptr) {
    return false;
  }
  // The size field names the fixed part of the record, not the whole block.
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  const bool ok = SetupDiGetDeviceInterfaceDetailA(set, iface, detail, required, nullptr, nullptr) != FALSE;
  if (ok) {
    found(index, detail->DevicePath);
  }
  std::free(detail);
  return ok;
}

class Win32DeviceIo final : public DeviceIo {
 public:
  bool ListDeviceInterfaces(const DeviceClassId& interfaceClass, int32_t count, const InterfaceFound& found) override {
    const GUID guid = ToGuid(interfaceClass);
    HDEVINFO set = SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
      return false;
    }
    for (int32_t i = 0; i < count; ++i) {
      const DWORD index = static_cast<DWORD>(i);
      SP_DEVINFO_DATA info;
      std::memset(&info, 0, sizeof info);
      info.cbSize = sizeof info;
      if (!SetupDiEnumDeviceInfo(set, index, &info)) {
        continue;
      }
      BYTE driverKey[kDriverKeyBytes];
      if (!SetupDiGetDeviceRegistryPropertyA(set, &info, SPDRP_DRIVER, nullptr, driverKey, sizeof driverKey,
                                             nullptr)) {
        continue;
      }
      SP_DEVICE_INTERFACE_DATA iface;
      std::memset(&iface, 0, sizeof iface);
      iface.cbSize = sizeof iface;
      if (!SetupDiEnumDeviceInterfaces(set, nullptr, &guid, index, &iface)) {
        continue;
      }
      ReadInterfacePath(set, &iface, i, found);
    }
    SetupDiDestroyDeviceInfoList(set);
    return true;
  }

  DeviceHandle OpenDevice(const char* path) override {
    HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                                nullptr);
    return handle == INVALID_HANDLE_VALUE ? kClosedDevice : reinterpret_cast<DeviceHandle>(handle);
  }

  bool ControlDevice(DeviceHandle handle, uint32_t code, const void* input, uint32_t inputLength, void* output,
                     uint32_t outputLength, uint32_t* returned) override {
    *returned = 0;
    OVERLAPPED overlapped;
    std::memset(&overlapped, 0, sizeof overlapped);
    DWORD count = 0;
    // METHOD_BUFFERED requests do not write their input; the API just is not const.
    if (DeviceIoControl(ToHandle(handle), code, const_cast<void*>(input), inputLength, output, outputLength, &count,
                        &overlapped)) {
      *returned = count;
      return true;
    }
    if (GetLastError() == ERROR_IO_PENDING) {
      // Not done at once: the request has failed, but the driver may still
      // complete it. Cancel it and wait until it has ended either way.
      CancelIoEx(ToHandle(handle), &overlapped);
      DWORD late = 0;
      GetOverlappedResult(ToHandle(handle), &overlapped, &late, TRUE);
    }
    return false;
  }

  void CloseDevice(DeviceHandle handle) override {
    if (handle != kClosedDevice) {
      CloseHandle(ToHandle(handle));
    }
  }
};

}  // namespace

DeviceIo& SystemDeviceIo() {
  static Win32DeviceIo io;
  return io;
}

}  // namespace vorsensor::platform
