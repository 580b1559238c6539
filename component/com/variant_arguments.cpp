#include "component/com/variant_arguments.h"

#include <oleauto.h>

#include <cstdint>
#include <utility>

namespace vorsensor::com {
namespace {

// Nesting beyond this (arrays of references of arrays ...) is not followed.
constexpr int kMaxDepth = 8;
// Elements read from a script array at most: far beyond any gallery the
// matcher is given, and small enough that a hostile length cannot exhaust memory.
constexpr LONG kMaxScriptArrayLength = 1 << 20;

DISPID NameId(IDispatch* object, const wchar_t* name) {
  LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
  DISPID id = DISPID_UNKNOWN;
  if (FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) return DISPID_UNKNOWN;
  return id;
}

bool GetProperty(IDispatch* object, DISPID id, VARIANT* result) {
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  return SUCCEEDED(object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, result, nullptr,
                                  nullptr));
}

}  // namespace

std::string NarrowText(BSTR text) {
  std::string narrow;
  if (text == nullptr) return narrow;
  const UINT length = SysStringLen(text);
  narrow.resize(length);
  for (UINT i = 0; i < length; ++i) narrow[i] = text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
  return narrow;
}

ConvertedValue::ConvertedValue(const VARIANT& value) : value_(Convert(value, 0)) {}

AutomationValue ConvertedValue::Convert(const VARIANT& value, int depth) {
  if (depth > kMaxDepth) return AutomationValue();
  const VARTYPE type = V_VT(&value);
  if (type & VT_ARRAY) {
    SAFEARRAY* array = (type & VT_BYREF) ? (V_ARRAYREF(&value) != nullptr ? *V_ARRAYREF(&value) : nullptr)
                                         : V_ARRAY(&value);
    AutomationValue converted = ConvertArray(array, static_cast<VARTYPE>(type & VT_TYPEMASK), depth);
    if (!(type & VT_BYREF)) return converted;
    targets_.push_back(std::make_unique<AutomationValue>(std::move(converted)));
    return AutomationValue::Reference(targets_.back().get());
  }
  switch (type) {
    case VT_BSTR:
      return AutomationValue::String(NarrowText(V_BSTR(&value)));
    case VT_BYREF | VT_BSTR:
      return AutomationValue::String(V_BSTRREF(&value) != nullptr ? NarrowText(*V_BSTRREF(&value)) : std::string());
    case VT_BYREF | VT_VARIANT: {
      if (V_VARIANTREF(&value) == nullptr) return AutomationValue();
      AutomationValue target = Convert(*V_VARIANTREF(&value), depth + 1);
      targets_.push_back(std::make_unique<AutomationValue>(std::move(target)));
      return AutomationValue::Reference(targets_.back().get());
    }
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_INT:
    case VT_UI1:
    case VT_UI2: {
      VARIANT integer;
      VariantInit(&integer);
      if (FAILED(VariantChangeType(&integer, const_cast<VARIANT*>(&value), 0, VT_I4))) return AutomationValue();
      return AutomationValue::Integer(V_I4(&integer));
    }
    case VT_DISPATCH:
      return ConvertScriptArray(V_DISPATCH(&value), depth);
    case VT_UNKNOWN:
      return AutomationValue::Object();
    default:
      return AutomationValue();
  }
}

AutomationValue ConvertedValue::ConvertArray(SAFEARRAY* array, VARTYPE elementType, int depth) {
  if (array == nullptr) return AutomationValue();
  auto converted = std::make_shared<AutomationArray>();
  const UINT dimensions = SafeArrayGetDim(array);
  size_t elements = dimensions > 0 ? 1 : 0;
  for (UINT d = 1; d <= dimensions; ++d) {
    LONG lower = 0;
    LONG upper = -1;
    if (FAILED(SafeArrayGetLBound(array, d, &lower)) || FAILED(SafeArrayGetUBound(array, d, &upper))) {
      return AutomationValue();
    }
    const int64_t count = static_cast<int64_t>(upper) - lower + 1;
    ArrayBound bound;
    bound.lower = lower;
    bound.count = count < 0 ? 0 : static_cast<int32_t>(count);
    converted->bounds.push_back(bound);
    elements *= static_cast<size_t>(bound.count);
  }
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(array, &data))) return AutomationValue();
  switch (elementType) {
    case VT_BSTR: {
      converted->elementType = ElementType::kString;
      const BSTR* texts = static_cast<const BSTR*>(data);
      for (size_t i = 0; i < elements; ++i) converted->strings.push_back(NarrowText(texts[i]));
      break;
    }
    case VT_VARIANT: {
      converted->elementType = ElementType::kVariant;
      const VARIANT* values = static_cast<const VARIANT*>(data);
      for (size_t i = 0; i < elements; ++i) converted->values.push_back(Convert(values[i], depth + 1));
      break;
    }
    case VT_I4:
    case VT_INT: {
      converted->elementType = ElementType::kInteger;
      const LONG* integers = static_cast<const LONG*>(data);
      for (size_t i = 0; i < elements; ++i) converted->integers.push_back(integers[i]);
      break;
    }
    default:
      SafeArrayUnaccessData(array);
      return AutomationValue();
  }
  SafeArrayUnaccessData(array);
  return AutomationValue::Array(std::move(converted));
}

AutomationValue ConvertedValue::ConvertScriptArray(IDispatch* object, int depth) {
  if (object == nullptr) return AutomationValue();
  const DISPID lengthId = NameId(object, L"length");
  VARIANT length;
  VariantInit(&length);
  if (lengthId == DISPID_UNKNOWN || !GetProperty(object, lengthId, &length) ||
      FAILED(VariantChangeType(&length, &length, 0, VT_I4)) || V_I4(&length) < 0 ||
      V_I4(&length) > kMaxScriptArrayLength) {
    VariantClear(&length);
    return AutomationValue::Object();
  }
  std::vector<AutomationValue> values;
  for (LONG i = 0; i < V_I4(&length); ++i) {
    VARIANT element;
    VariantInit(&element);
    const DISPID id = NameId(object, std::to_wstring(i).c_str());
    if (id != DISPID_UNKNOWN && GetProperty(object, id, &element)) {
      values.push_back(Convert(element, depth + 1));
    } else {
      values.push_back(AutomationValue());  // a hole in the array
    }
    VariantClear(&element);
  }
  return VariantArray(std::move(values));
}

}  // namespace vorsensor::com
