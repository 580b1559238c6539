#pragma once
// IUnknown for a heap object with one interface: QueryInterface answers
// IUnknown and `*kIid`, the count starts at 1 (the creator's reference), and
// the last Release deletes the object through its virtual destructor.
#include <objbase.h>

namespace vorsensor::com {

template <typename Interface, const IID* kIid>
class SingleInterface : public Interface {
 public:
  SingleInterface() = default;
  virtual ~SingleInterface() = default;
  SingleInterface(const SingleInterface&) = delete;
  SingleInterface& operator=(const SingleInterface&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, *kIid)) {
      *object = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

 private:
  LONG references_ = 1;
};

}  // namespace vorsensor::com
