#include "component/com/class_factory.h"

#include <objbase.h>

#include <new>
#include <olectl.h>

#include "component/com/automation_object.h"
#include "component/com/com_module.h"
#include "component/com/single_interface.h"

namespace vorsensor::com {
namespace {

// One factory per request; it keeps the module loaded while it lives.
class ClassFactory final : public SingleInterface<IClassFactory, &IID_IClassFactory> {
 public:
  ClassFactory() { ModuleAddRef(); }
  ~ClassFactory() override { ModuleRelease(); }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    // An aggregate may ask its inner object only for IUnknown.
    if (outer != nullptr && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    return CreateAutomationObject(outer, iid, object);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      ModuleAddRef();
    } else {
      ModuleRelease();
    }
    return S_OK;
  }
};

}  // namespace

HRESULT GetVorSensorNFactory(REFIID iid, void** object) {
  ClassFactory* factory = new (std::nothrow) ClassFactory;
  if (factory == nullptr) return E_OUTOFMEMORY;
  const HRESULT hr = factory->QueryInterface(iid, object);
  factory->Release();
  return hr;
}

}  // namespace vorsensor::com
