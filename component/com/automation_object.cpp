#include "component/com/automation_object.h"

#include <oaidl.h>
#include <ocidl.h>
#include <olectl.h>
#include <oleauto.h>

#include <new>
#include <string>

#include "VorSensorNLib.h"
#include "component/com/com_module.h"
#include "component/com/connection_point.h"
#include "component/com/device_layer.h"
#include "component/com/enumerators.h"
#include "component/com/type_information.h"
#include "component/com/variant_arguments.h"
#include "component/event_sinks.h"
#include "component/vor_sensor_n.h"

namespace vorsensor::com {
namespace {

class AutomationObject final : public IVorSensorN, public IConnectionPointContainer, public DataEventSink {
 public:
  explicit AutomationObject(IUnknown* outer)
      : inner_(*this), outer_(outer != nullptr ? outer : &inner_), proxy_(this), core_(PrepareDeviceLayer()) {
    core_.Advise(this);
    ModuleAddRef();
  }
  ~AutomationObject() override {
    if (typeInfo_ != nullptr) typeInfo_->Release();
    ModuleRelease();
  }
  AutomationObject(const AutomationObject&) = delete;
  AutomationObject& operator=(const AutomationObject&) = delete;

  IUnknown* Inner() { return &inner_; }

  // IUnknown: every interface but the inner unknown answers for the outer object.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    return outer_->QueryInterface(iid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return outer_->AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return outer_->Release(); }

  // IDispatch through the type information.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    const HRESULT hr = EnsureTypeInfo();
    if (FAILED(hr)) return hr;
    typeInfo_->AddRef();
    *info = typeInfo_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    const HRESULT hr = EnsureTypeInfo();
    if (FAILED(hr)) return hr;
    return DispGetIDsOfNames(typeInfo_, names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                                   EXCEPINFO* exception, UINT* argumentError) override {
    if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    const HRESULT hr = EnsureTypeInfo();
    if (FAILED(hr)) return hr;
    return DispInvoke(static_cast<IVorSensorN*>(this), typeInfo_, id, flags, parameters, result, exception,
                      argumentError);
  }

  // IVorSensorN.
  HRESULT STDMETHODCALLTYPE Open() override {
    core_.Open();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Close() override {
    core_.Close();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE StartEnroll() override {
    core_.StartEnroll();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetDisplay(LONG hwnd, LONG* pVal) override {
    if (pVal == nullptr) return E_POINTER;  // refused whole: the display stays as it was
    *pVal = core_.SetDisplay(hwnd);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE StopCapture() override {
    core_.StopCapture();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE VerifyCapture() override {
    core_.VerifyCapture();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Verify(BSTR Template1, BSTR Template2, LONG* pVal) override {
    if (pVal == nullptr) return E_POINTER;
    *pVal = 0;
    if (!core_.IsOpen()) return S_OK;
    try {
      *pVal = core_.Verify(NarrowText(Template1), NarrowText(Template2));
    } catch (const std::bad_alloc&) {
      *pVal = 0;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Identify(BSTR sample, VARIANT reference, LONG* pVal) override {
    if (pVal == nullptr) return E_POINTER;
    *pVal = -1;
    if (!core_.IsOpen()) return S_OK;
    try {
      const ConvertedValue references(reference);
      *pVal = core_.Identify(NarrowText(sample), references.value());
    } catch (const std::bad_alloc&) {
      *pVal = -1;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IdentifyCapture() override {
    core_.IdentifyCapture();
    return S_OK;
  }

  // IConnectionPointContainer: the one connection point, _IVorSensorNEvents.
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) override {
    try {
      return MakeConnectionPointEnumerator({&proxy_}, points);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** point) override {
    if (point == nullptr) return E_POINTER;
    *point = nullptr;
    if (!IsEqualIID(iid, DIID__IVorSensorNEvents)) return CONNECT_E_NOCONNECTION;
    *point = &proxy_;
    proxy_.AddRef();
    return S_OK;
  }

  // The native object's one sink: fires the connection point.
  void DataEvent(int32_t status, const std::string& text) override {
    std::wstring wide(text.begin(), text.end());
    BSTR copy = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    if (copy == nullptr) return;
    proxy_.Fire_DataEvent(static_cast<DATA>(status), copy);
    SysFreeString(copy);
  }

 private:
  // The object's own IUnknown: the identity an aggregate holds.
  class InnerUnknown final : public IUnknown {
   public:
    explicit InnerUnknown(AutomationObject& self) : self_(self) {}
    virtual ~InnerUnknown() = default;
    InnerUnknown(const InnerUnknown&) = delete;
    InnerUnknown& operator=(const InnerUnknown&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
      if (object == nullptr) return E_POINTER;
      *object = nullptr;
      if (IsEqualIID(iid, IID_IUnknown)) {
        *object = static_cast<IUnknown*>(this);
      } else if (IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IVorSensorN)) {
        *object = static_cast<IVorSensorN*>(&self_);
      } else if (IsEqualIID(iid, IID_IConnectionPointContainer)) {
        *object = static_cast<IConnectionPointContainer*>(&self_);
      } else {
        return E_NOINTERFACE;
      }
      static_cast<IUnknown*>(*object)->AddRef();
      return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    ULONG STDMETHODCALLTYPE Release() override {
      const LONG left = InterlockedDecrement(&references_);
      if (left == 0) delete &self_;
      return static_cast<ULONG>(left);
    }

   private:
    AutomationObject& self_;
    LONG references_ = 0;
  };

  HRESULT EnsureTypeInfo() {
    if (typeInfo_ != nullptr) return S_OK;
    return LoadModuleTypeInfo(IID_IVorSensorN, &typeInfo_);
  }

  InnerUnknown inner_;
  IUnknown* outer_;
  ITypeInfo* typeInfo_ = nullptr;
  CProxy_IVorSensorNEvents proxy_;
  // Last, so it is closed (and its worker collected) while the connection
  // point can still fire.
  CVorSensorN core_;
};

}  // namespace

HRESULT CreateAutomationObject(IUnknown* outer, REFIID iid, void** object) {
  AutomationObject* created = nullptr;
  try {
    created = new AutomationObject(outer);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  IUnknown* inner = created->Inner();
  inner->AddRef();
  const HRESULT hr = inner->QueryInterface(iid, object);
  inner->Release();  // deletes the object when the interface was not given
  return hr;
}

}  // namespace vorsensor::com
