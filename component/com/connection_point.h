#pragma once
// The _IVorSensorNEvents connection point. SinkArray is a growable array of
// sink pointers: Advise takes the first empty place (or grows the array) and
// the cookie is place + 1; Unadvise empties the place. EventConnectionPoint
// serves IConnectionPoint over it; its references are those of the object
// that contains it. CProxy_IVorSensorNEvents adds the firing of DataEvent.
#include <ocidl.h>
#include <windows.h>

#include <vector>

#include "VorSensorNLib.h"

namespace vorsensor::com {

class SinkArray {
 public:
  SinkArray() = default;
  ~SinkArray();  // releases every sink still held
  SinkArray(const SinkArray&) = delete;
  SinkArray& operator=(const SinkArray&) = delete;

  // Holds `sink` (already referenced for the array); 0 when out of memory.
  DWORD Add(IUnknown* sink);
  // The sink at the cookie's place, given back to the caller to release;
  // null for a cookie that names no sink.
  IUnknown* Remove(DWORD cookie);
  // How many places (held or empty) the array has.
  size_t Places() const { return places_.size(); }
  // The sink at `place`: null for an empty place or one beyond the array.
  IUnknown* At(size_t place) const { return place < places_.size() ? places_[place] : nullptr; }

 private:
  std::vector<IUnknown*> places_;
};

class EventConnectionPoint : public IConnectionPoint {
 public:
  // `container` answers for references and FindConnectionPoint's owner.
  explicit EventConnectionPoint(IConnectionPointContainer* container) : container_(container) {}
  virtual ~EventConnectionPoint() = default;
  EventConnectionPoint(const EventConnectionPoint&) = delete;
  EventConnectionPoint& operator=(const EventConnectionPoint&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return container_->AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return container_->Release(); }

  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** container) override;
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** connections) override;

 protected:
  SinkArray sinks_;

 private:
  IConnectionPointContainer* container_;
};

class CProxy_IVorSensorNEvents : public EventConnectionPoint {
 public:
  using EventConnectionPoint::EventConnectionPoint;
  // Calls DataEvent(status, text) on every connected sink, each with its own
  // copy of the text; a failing sink does not stop the others. The result of
  // the last call made (S_OK without sinks), or E_OUTOFMEMORY when a copy of
  // the text cannot be made.
  HRESULT Fire_DataEvent(DATA status, BSTR text);
};

}  // namespace vorsensor::com
