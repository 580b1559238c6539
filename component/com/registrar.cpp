#include "component/com/registrar.h"

#include <cwctype>
#include <new>

namespace vorsensor::com {
namespace {

enum class KeyRule { kPlain, kNoRemove, kForceRemove };

struct ScriptEntry {
  bool isValue = false;  // a named value (val name = s 'value') rather than a key
  KeyRule rule = KeyRule::kPlain;
  std::wstring name;
  bool hasValue = false;  // a key's default value, or the named value's text
  std::wstring value;
  std::vector<ScriptEntry> children;
};

std::wstring Substitute(const std::wstring& script, const Substitutions& substitutions) {
  std::wstring out;
  size_t i = 0;
  while (i < script.size()) {
    if (script[i] != L'%') {
      out += script[i++];
      continue;
    }
    const size_t end = script.find(L'%', i + 1);
    if (end == std::wstring::npos) {
      out += script.substr(i);
      break;
    }
    const std::wstring name = script.substr(i + 1, end - i - 1);
    bool replaced = name.empty();  // %% stands for one %
    if (replaced) out += L'%';
    for (const auto& s : substitutions) {
      if (!replaced && s.first == name) {
        out += s.second;
        replaced = true;
      }
    }
    if (!replaced) out += script.substr(i, end - i + 1);
    i = end + 1;
  }
  return out;
}

struct Token {
  std::wstring text;
  bool quoted = false;
};

// Words are separated by white space; a quoted word may hold any character.
bool Tokenize(const std::wstring& script, std::vector<Token>* tokens) {
  size_t i = 0;
  while (i < script.size()) {
    if (std::iswspace(script[i])) {
      ++i;
      continue;
    }
    Token token;
    if (script[i] == L'\'') {
      token.quoted = true;
      ++i;
      for (;;) {
        if (i >= script.size()) return false;  // unterminated
        if (script[i] == L'\'') {
          if (i + 1 < script.size() && script[i + 1] == L'\'') {
            token.text += L'\'';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        token.text += script[i++];
      }
    } else {
      while (i < script.size() && !std::iswspace(script[i])) token.text += script[i++];
    }
    tokens->push_back(std::move(token));
  }
  return true;
}

class ScriptReader {
 public:
  explicit ScriptReader(const std::vector<Token>& tokens) : tokens_(tokens) {}

  // root := ('HKCR' | 'HKEY_CLASSES_ROOT') '{' entries '}'
  bool ReadRoots(std::vector<ScriptEntry>* entries) {
    while (next_ < tokens_.size()) {
      const Token& root = tokens_[next_++];
      if (root.quoted || (root.text != L"HKCR" && root.text != L"HKEY_CLASSES_ROOT")) return false;
      if (!Expect(L"{") || !ReadEntries(entries)) return false;
    }
    return true;
  }

 private:
  bool IsSymbol(const wchar_t* symbol) const {
    return next_ < tokens_.size() && !tokens_[next_].quoted && tokens_[next_].text == symbol;
  }
  bool Expect(const wchar_t* symbol) {
    if (!IsSymbol(symbol)) return false;
    ++next_;
    return true;
  }
  bool ReadName(std::wstring* name) {
    if (next_ >= tokens_.size()) return false;
    const Token& token = tokens_[next_];
    if (!token.quoted && (token.text == L"{" || token.text == L"}" || token.text == L"=")) return false;
    *name = token.text;
    ++next_;
    return !name->empty();
  }
  // '=' 's' value
  bool ReadStringValue(std::wstring* value) {
    if (!Expect(L"=") || !Expect(L"s") || next_ >= tokens_.size()) return false;
    *value = tokens_[next_++].text;
    return true;
  }
  // entries := entry* '}'
  bool ReadEntries(std::vector<ScriptEntry>* entries) {
    for (;;) {
      if (next_ >= tokens_.size()) return false;
      if (Expect(L"}")) return true;
      ScriptEntry entry;
      if (IsSymbol(L"val")) {
        ++next_;
        entry.isValue = true;
        entry.hasValue = true;
        if (!ReadName(&entry.name) || !ReadStringValue(&entry.value)) return false;
      } else {
        if (IsSymbol(L"NoRemove")) {
          entry.rule = KeyRule::kNoRemove;
          ++next_;
        } else if (IsSymbol(L"ForceRemove")) {
          entry.rule = KeyRule::kForceRemove;
          ++next_;
        }
        if (!ReadName(&entry.name)) return false;
        if (IsSymbol(L"=")) {
          entry.hasValue = true;
          if (!ReadStringValue(&entry.value)) return false;
        }
        if (Expect(L"{") && !ReadEntries(&entry.children)) return false;
      }
      entries->push_back(std::move(entry));
    }
  }

  const std::vector<Token>& tokens_;
  size_t next_ = 0;
};

LONG SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

bool Missing(LONG error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

LONG Register(HKEY parent, const std::vector<ScriptEntry>& entries) {
  for (const ScriptEntry& entry : entries) {
    LONG error = ERROR_SUCCESS;
    if (entry.isValue) {
      error = SetString(parent, entry.name.c_str(), entry.value);
    } else {
      if (entry.rule == KeyRule::kForceRemove) {
        const LONG removed = RegDeleteTreeW(parent, entry.name.c_str());
        if (removed != ERROR_SUCCESS && !Missing(removed)) return removed;
      }
      HKEY key = nullptr;
      error = RegCreateKeyExW(parent, entry.name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE,
                              nullptr, &key, nullptr);
      if (error != ERROR_SUCCESS) return error;
      if (entry.hasValue) error = SetString(key, nullptr, entry.value);
      if (error == ERROR_SUCCESS) error = Register(key, entry.children);
      RegCloseKey(key);
    }
    if (error != ERROR_SUCCESS) return error;
  }
  return ERROR_SUCCESS;
}

LONG Unregister(HKEY parent, const std::vector<ScriptEntry>& entries) {
  for (const ScriptEntry& entry : entries) {
    LONG error = ERROR_SUCCESS;
    if (entry.isValue) {
      error = RegDeleteValueW(parent, entry.name.c_str());
    } else if (entry.rule == KeyRule::kForceRemove) {
      error = RegDeleteTreeW(parent, entry.name.c_str());
      if (error == ERROR_SUCCESS) error = RegDeleteKeyW(parent, entry.name.c_str());
    } else {
      HKEY key = nullptr;
      error = RegOpenKeyExW(parent, entry.name.c_str(), 0, KEY_READ | KEY_WRITE, &key);
      if (error == ERROR_SUCCESS) {
        error = Unregister(key, entry.children);
        DWORD subkeys = 0;
        if (error == ERROR_SUCCESS) {
          error = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, nullptr, nullptr);
        }
        RegCloseKey(key);
        if (error == ERROR_SUCCESS && entry.rule == KeyRule::kPlain && subkeys == 0) {
          error = RegDeleteKeyW(parent, entry.name.c_str());
        }
      }
    }
    if (error != ERROR_SUCCESS && !Missing(error)) return error;
  }
  return ERROR_SUCCESS;
}

}  // namespace

HRESULT RunRegistryScript(HKEY root, const std::wstring& script, const Substitutions& substitutions,
                          bool registering) {
  std::vector<Token> tokens;
  std::vector<ScriptEntry> entries;
  try {
    if (!Tokenize(Substitute(script, substitutions), &tokens)) return DISP_E_EXCEPTION;
    ScriptReader reader(tokens);
    if (!reader.ReadRoots(&entries)) return DISP_E_EXCEPTION;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  const LONG error = registering ? Register(root, entries) : Unregister(root, entries);
  return error == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(error);
}

HRESULT RunRegistryScript(const std::wstring& script, const Substitutions& substitutions, bool registering) {
  return RunRegistryScript(HKEY_CLASSES_ROOT, script, substitutions, registering);
}

}  // namespace vorsensor::com
