#pragma once
// A registrar for registry scripts, the text form in which a COM module states
// its registry entries:
//   HKCR { [NoRemove|ForceRemove] name [= s 'value'] [{ ... }] ... }
// Inside a key's braces, `val name = s 'value'` is a named value and anything
// else a subkey. Names and values are bare words or quoted with '...' ('' is
// a quote inside); %NAME% is replaced from the substitution list before the
// script is read. Only HKCR (HKEY_CLASSES_ROOT) and string values are used.
//
// Registering creates the keys and values; a ForceRemove key is removed with
// its subtree first. Unregistering removes ForceRemove keys with their
// subtree, never NoRemove keys (only what is inside them), the named values
// of the script, and plain keys once nothing is left under them.
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace vorsensor::com {

using Substitutions = std::vector<std::pair<std::wstring, std::wstring>>;

// Runs `script` against HKEY_CLASSES_ROOT. S_OK, or the first failure
// (DISP_E_EXCEPTION for a script that cannot be read, else the registry's
// error as an HRESULT); a script that cannot be read changes nothing.
HRESULT RunRegistryScript(const std::wstring& script, const Substitutions& substitutions, bool registering);

// The same against `root` (tests use a scratch key).
HRESULT RunRegistryScript(HKEY root, const std::wstring& script, const Substitutions& substitutions,
                          bool registering);

}  // namespace vorsensor::com
