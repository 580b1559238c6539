#include "component/com/connection_point.h"

#include <olectl.h>

#include <new>

#include "component/com/enumerators.h"

namespace vorsensor::com {

constexpr DISPID kDataEventId = 1;

SinkArray::~SinkArray() {
  for (IUnknown* sink : places_) {
    if (sink != nullptr) sink->Release();
  }
}

DWORD SinkArray::Add(IUnknown* sink) {
  for (size_t i = 0; i < places_.size(); ++i) {
    if (places_[i] == nullptr) {
      places_[i] = sink;
      return static_cast<DWORD>(i + 1);
    }
  }
  try {
    places_.push_back(sink);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  return static_cast<DWORD>(places_.size());
}

IUnknown* SinkArray::Remove(DWORD cookie) {
  if (cookie == 0 || cookie > places_.size()) return nullptr;
  IUnknown* sink = places_[cookie - 1];
  places_[cookie - 1] = nullptr;
  return sink;
}

HRESULT EventConnectionPoint::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IConnectionPoint)) {
    *object = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

HRESULT EventConnectionPoint::GetConnectionInterface(IID* iid) {
  if (iid == nullptr) return E_POINTER;
  *iid = DIID__IVorSensorNEvents;
  return S_OK;
}

HRESULT EventConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
  if (container == nullptr) return E_POINTER;
  *container = container_;
  container_->AddRef();
  return S_OK;
}

HRESULT EventConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (cookie != nullptr) *cookie = 0;
  if (sink == nullptr || cookie == nullptr) return E_POINTER;
  IUnknown* events = nullptr;
  if (FAILED(sink->QueryInterface(DIID__IVorSensorNEvents, reinterpret_cast<void**>(&events))) || events == nullptr) {
    return CONNECT_E_CANNOTCONNECT;
  }
  const DWORD place = sinks_.Add(events);
  if (place == 0) {
    events->Release();
    return CONNECT_E_ADVISELIMIT;
  }
  *cookie = place;
  return S_OK;
}

HRESULT EventConnectionPoint::Unadvise(DWORD cookie) {
  IUnknown* sink = sinks_.Remove(cookie);
  if (sink == nullptr) return CONNECT_E_NOCONNECTION;
  sink->Release();
  return S_OK;
}

HRESULT EventConnectionPoint::EnumConnections(IEnumConnections** connections) {
  if (connections == nullptr) return E_POINTER;
  *connections = nullptr;
  std::vector<CONNECTDATA> held;
  try {
    for (size_t place = 0; place < sinks_.Places(); ++place) {
      if (sinks_.At(place) != nullptr) held.push_back({sinks_.At(place), static_cast<DWORD>(place + 1)});
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return MakeConnectionEnumerator(held, connections);
}

HRESULT CProxy_IVorSensorNEvents::Fire_DataEvent(DATA status, BSTR text) {
  HRESULT result = S_OK;
  const size_t places = sinks_.Places();
  for (size_t place = 0; place < places; ++place) {
    IUnknown* sink = sinks_.At(place);
    if (sink == nullptr) continue;
    sink->AddRef();
    // Arguments in reverse order: the text is argument 0, the status 1.
    VARIANTARG arguments[2];
    VariantInit(&arguments[0]);
    VariantInit(&arguments[1]);
    V_VT(&arguments[0]) = VT_BSTR;
    V_BSTR(&arguments[0]) = SysAllocStringLen(text, SysStringLen(text));
    if (V_BSTR(&arguments[0]) == nullptr && text != nullptr) {
      sink->Release();
      return E_OUTOFMEMORY;
    }
    V_VT(&arguments[1]) = VT_I4;
    V_I4(&arguments[1]) = status;
    DISPPARAMS parameters = {arguments, nullptr, 2, 0};
    VARIANT answer;
    VariantInit(&answer);
    IDispatch* events = static_cast<IDispatch*>(static_cast<void*>(sink));
    result = events->Invoke(kDataEventId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters, &answer,
                            nullptr, nullptr);
    VariantClear(&answer);
    VariantClear(&arguments[0]);
    VariantClear(&arguments[1]);
    sink->Release();
  }
  return result;
}

}  // namespace vorsensor::com
