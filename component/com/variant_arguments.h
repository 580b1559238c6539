#pragma once
// Automation arguments in the native object's terms: BSTR texts as narrow
// text, VARIANT values (with SAFEARRAYs, references and script arrays) as
// AutomationValue.
#include <oaidl.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "component/automation_value.h"

namespace vorsensor::com {

// The characters of `text` (null: empty); characters outside ASCII become
// '?', which no hexadecimal digit or white space can be mistaken for.
std::string NarrowText(BSTR text);

// A VARIANT converted into an AutomationValue, with the values that its
// references point at kept alive as long as this object.
class ConvertedValue {
 public:
  // Converts `value`: VT_BSTR a string; integer types an integer; VT_ARRAY of
  // BSTR, VARIANT or 4-byte integers an array with its bounds and elements in
  // storage order; VT_BYREF of a VARIANT or an array a reference; a dispatch
  // object with a numeric "length" property (a JScript array) an array of its
  // elements 0..length-1; any other object an object; anything else empty.
  explicit ConvertedValue(const VARIANT& value);
  ConvertedValue(const ConvertedValue&) = delete;
  ConvertedValue& operator=(const ConvertedValue&) = delete;

  const AutomationValue& value() const { return value_; }

 private:
  AutomationValue Convert(const VARIANT& value, int depth);
  AutomationValue ConvertArray(SAFEARRAY* array, VARTYPE elementType, int depth);
  AutomationValue ConvertScriptArray(IDispatch* object, int depth);

  std::vector<std::unique_ptr<AutomationValue>> targets_;
  AutomationValue value_;
};

}  // namespace vorsensor::com
