// The module's exports: DllMain keeps the instance handle; DllGetClassObject
// hands out the VorSensorN class factory; DllCanUnloadNow answers from the
// live count; registration runs the two registry scripts and registers the
// type library under the system default thread locale.
#include "component/com/com_module.h"

#include <objbase.h>
#include <olectl.h>

#include "VorSensorNLib.h"
#include "component/com/class_factory.h"
#include "component/com/device_layer.h"
#include "component/com/registration.h"

namespace vorsensor::com {
namespace {

HINSTANCE moduleInstance = nullptr;
LONG liveCount = 0;

}  // namespace

HINSTANCE ModuleInstance() { return moduleInstance; }

std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(moduleInstance, &path[0], static_cast<DWORD>(path.size()));
    if (length == 0) return std::wstring();
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);  // truncated: try a larger buffer
  }
}

void ModuleAddRef() { InterlockedIncrement(&liveCount); }
void ModuleRelease() { InterlockedDecrement(&liveCount); }
bool ModuleInUse() { return InterlockedCompareExchange(&liveCount, 0, 0) != 0; }

}  // namespace vorsensor::com

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    vorsensor::com::moduleInstance = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_VorSensorN)) return CLASS_E_CLASSNOTAVAILABLE;
  return vorsensor::com::GetVorSensorNFactory(iid, object);
}

STDAPI DllCanUnloadNow() { return vorsensor::com::ModuleInUse() ? S_FALSE : S_OK; }

STDAPI DllRegisterServer() {
  if (!vorsensor::com::DeviceLayerRegisters()) return SELFREG_E_CLASS;
  return vorsensor::com::RegisterServer();
}

STDAPI DllUnregisterServer() {
  if (!vorsensor::com::DeviceLayerRegisters()) return SELFREG_E_CLASS;
  return vorsensor::com::UnregisterServer();
}

}  // extern "C"
