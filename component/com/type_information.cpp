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
  hr = library->GetTypeInfoOfGuid(guid, info);
  library->Release();
  return hr;
}

}  // namespace vorsensor::com
