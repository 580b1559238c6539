#include "component/com/type_information.h"

#include <oleauto.h>

#include <string>

#include "component/com/com_module.h"

namespace vorsensor::com {

HRESULT LoadModuleTypeInfo(REFGUID guid, ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  const std::wstring path = ModulePath();
  if (path.empty()) return E_FAIL;
  ITypeLib* library = nullptr;
  HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
  if (FAILED(hr)) return hr;
  ITypeInfo* found = nullptr;
  hr = library->GetTypeInfoOfGuid(guid, &found);
  library->Release();
  if (FAILED(hr)) return hr;
  // A dual interface is found as its dispatch side; calls through the table
  // need the interface side, which lists the interface's own methods.
  TYPEATTR* attributes = nullptr;
  hr = found->GetTypeAttr(&attributes);
  if (FAILED(hr)) {
    found->Release();
    return hr;
  }
  const bool dual = attributes->typekind == TKIND_DISPATCH && (attributes->wTypeFlags & TYPEFLAG_FDUAL) != 0;
  found->ReleaseTypeAttr(attributes);
  if (!dual) {
    *info = found;
    return S_OK;
  }
  HREFTYPE interfaceSide = 0;
  hr = found->GetRefTypeOfImplType(static_cast<UINT>(-1), &interfaceSide);
  if (SUCCEEDED(hr)) hr = found->GetRefTypeInfo(interfaceSide, info);
  found->Release();
  return hr;
}

}  // namespace vorsensor::com
