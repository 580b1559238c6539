#pragma once
// The module's process-wide COM state: its instance handle and file path, and
// the count of live objects and server locks that DllCanUnloadNow answers from.
#include <windows.h>

#include <string>

namespace vorsensor::com {

HINSTANCE ModuleInstance();
// The full path of the module file (the DLL, not the host).
std::wstring ModulePath();

void ModuleAddRef();   // an object or a LockServer(TRUE)
void ModuleRelease();
bool ModuleInUse();

}  // namespace vorsensor::com
