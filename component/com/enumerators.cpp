#include "component/com/enumerators.h"

#include <new>

#include "component/com/com_module.h"
#include "component/com/single_interface.h"

namespace vorsensor::com {
namespace {

// How the items of each enumerator are referenced, released and handed out.
struct ConnectionItems {
  using Item = CONNECTDATA;
  static void Hold(const Item& item) { item.pUnk->AddRef(); }
  static void Drop(const Item& item) { item.pUnk->Release(); }
};
struct PointItems {
  using Item = IConnectionPoint*;
  static void Hold(Item item) { item->AddRef(); }
  static void Drop(Item item) { item->Release(); }
};

template <typename Interface, const IID* kIid, typename Items>
class SnapshotEnumerator final : public SingleInterface<Interface, kIid> {
 public:
  using Item = typename Items::Item;

  explicit SnapshotEnumerator(const std::vector<Item>& items) : items_(items) {
    for (const Item& item : items_) Items::Hold(item);
    ModuleAddRef();
  }
  ~SnapshotEnumerator() override {
    for (const Item& item : items_) Items::Drop(item);
    ModuleRelease();
  }

  HRESULT STDMETHODCALLTYPE Next(ULONG count, Item* out, ULONG* fetched) override {
    if (out == nullptr || (count > 1 && fetched == nullptr)) return E_POINTER;
    ULONG given = 0;
    while (given < count && next_ < items_.size()) {
      out[given] = items_[next_++];
      Items::Hold(out[given]);
      ++given;
    }
    if (fetched != nullptr) *fetched = given;
    return given == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    const size_t left = items_.size() - next_;
    if (count > left) {
      next_ = items_.size();
      return S_FALSE;
    }
    next_ += count;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    next_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(Interface** copy) override {
    if (copy == nullptr) return E_POINTER;
    *copy = nullptr;
    SnapshotEnumerator* clone = nullptr;
    try {
      clone = new SnapshotEnumerator(items_);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    clone->next_ = next_;
    *copy = clone;
    return S_OK;
  }

 private:
  std::vector<Item> items_;
  size_t next_ = 0;
};

template <typename Enumerator, typename Interface, typename Item>
HRESULT Make(const std::vector<Item>& items, Interface** enumerator) {
  if (enumerator == nullptr) return E_POINTER;
  *enumerator = nullptr;
  try {
    *enumerator = new Enumerator(items);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

}  // namespace

HRESULT MakeConnectionEnumerator(const std::vector<CONNECTDATA>& connections, IEnumConnections** enumerator) {
  return Make<SnapshotEnumerator<IEnumConnections, &IID_IEnumConnections, ConnectionItems>>(connections, enumerator);
}

HRESULT MakeConnectionPointEnumerator(const std::vector<IConnectionPoint*>& points,
                                      IEnumConnectionPoints** enumerator) {
  return Make<SnapshotEnumerator<IEnumConnectionPoints, &IID_IEnumConnectionPoints, PointItems>>(points,
                                                                                                 enumerator);
}

}  // namespace vorsensor::com
