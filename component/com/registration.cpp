#include "component/com/registration.h"

#include <oleauto.h>

#include <new>
#include <string>

#include "component/com/com_module.h"
#include "component/com/registrar.h"

namespace vorsensor::com {
namespace {

constexpr WORD kAppIdScript = 101;
constexpr WORD kClassScript = 102;
constexpr wchar_t kAppId[] = L"{AE60445D-8D48-4F75-9271-E08F2660AEA8}";
constexpr LCID kSystemDefaultLocale = 0x800;

// Holds the thread locale at the system default for its scope.
class SystemLocaleScope {
 public:
  SystemLocaleScope() : previous_(GetThreadLocale()) { SetThreadLocale(kSystemDefaultLocale); }
  ~SystemLocaleScope() { SetThreadLocale(previous_); }
  SystemLocaleScope(const SystemLocaleScope&) = delete;
  SystemLocaleScope& operator=(const SystemLocaleScope&) = delete;

 private:
  LCID previous_;
};

// The registry script resource `id` as wide text (the scripts are ASCII).
HRESULT LoadScript(WORD id, std::wstring* script) {
  HRSRC found = FindResourceW(ModuleInstance(), MAKEINTRESOURCEW(id), L"REGISTRY");
  if (found == nullptr) return HRESULT_FROM_WIN32(GetLastError());
  HGLOBAL loaded = LoadResource(ModuleInstance(), found);
  const DWORD size = SizeofResource(ModuleInstance(), found);
  const char* bytes = loaded != nullptr ? static_cast<const char*>(LockResource(loaded)) : nullptr;
  if (bytes == nullptr) return E_FAIL;
  script->assign(bytes, bytes + size);
  return S_OK;
}

HRESULT RunScript(WORD id, bool registering) {
  std::wstring script;
  HRESULT hr = LoadScript(id, &script);
  if (FAILED(hr)) return hr;
  const Substitutions substitutions = {{L"MODULE", ModulePath()}, {L"APPID", kAppId}};
  return RunRegistryScript(script, substitutions, registering);
}

HRESULT LoadModuleTypeLib(ITypeLib** library) {
  const std::wstring path = ModulePath();
  if (path.empty()) return E_FAIL;
  return LoadTypeLibEx(path.c_str(), REGKIND_NONE, library);
}

HRESULT RegisterModuleTypeLib() {
  ITypeLib* library = nullptr;
  HRESULT hr = LoadModuleTypeLib(&library);
  if (FAILED(hr)) return hr;
  std::wstring path = ModulePath();
  hr = RegisterTypeLib(library, &path[0], nullptr);
  library->Release();
  return hr;
}

HRESULT UnregisterModuleTypeLib() {
  ITypeLib* library = nullptr;
  HRESULT hr = LoadModuleTypeLib(&library);
  if (FAILED(hr)) return hr;
  TLIBATTR* attributes = nullptr;
  hr = library->GetLibAttr(&attributes);
  if (SUCCEEDED(hr)) {
    hr = UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum, attributes->lcid,
                           attributes->syskind);
    // Already gone counts as removed.
    if (hr == TYPE_E_REGISTRYACCESS || hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) hr = S_OK;
    library->ReleaseTLibAttr(attributes);
  }
  library->Release();
  return hr;
}

}  // namespace

HRESULT RegisterServer() {
  const SystemLocaleScope locale;
  try {
    HRESULT hr = RunScript(kAppIdScript, true);
    if (FAILED(hr)) return hr;
    hr = RunScript(kClassScript, true);
    if (FAILED(hr)) return hr;
    return RegisterModuleTypeLib();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT UnregisterServer() {
  const SystemLocaleScope locale;
  try {
    HRESULT hr = RunScript(kClassScript, false);
    if (SUCCEEDED(hr)) hr = UnregisterModuleTypeLib();
    if (FAILED(hr)) return hr;
    return RunScript(kAppIdScript, false);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace vorsensor::com
