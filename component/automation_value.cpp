#include "component/automation_value.h"

#include <algorithm>

namespace vorsensor {

AutomationValue AutomationValue::Integer(int32_t value) {
  AutomationValue v;
  v.type_ = ValueType::kInteger;
  v.integer_ = value;
  return v;
}

AutomationValue AutomationValue::String(std::string text) {
  AutomationValue v;
  v.type_ = ValueType::kString;
  v.text_ = std::move(text);
  return v;
}

AutomationValue AutomationValue::Array(std::shared_ptr<const AutomationArray> array) {
  AutomationValue v;
  if (!array) return v;
  v.type_ = ValueType::kArray;
  v.array_ = std::move(array);
  return v;
}

AutomationValue AutomationValue::Reference(const AutomationValue* target) {
  AutomationValue v;
  if (target == nullptr) return v;
  v.type_ = ValueType::kReference;
  v.target_ = target;
  return v;
}

AutomationValue AutomationValue::Object() {
  AutomationValue v;
  v.type_ = ValueType::kObject;
  return v;
}

AutomationValue StringArray(std::vector<std::string> texts) {
  auto array = std::make_shared<AutomationArray>();
  array->elementType = ElementType::kString;
  array->bounds.push_back(ArrayBound{0, static_cast<int32_t>(texts.size())});
  array->strings = std::move(texts);
  return AutomationValue::Array(std::move(array));
}

AutomationValue VariantArray(std::vector<AutomationValue> values) {
  auto array = std::make_shared<AutomationArray>();
  array->elementType = ElementType::kVariant;
  array->bounds.push_back(ArrayBound{0, static_cast<int32_t>(values.size())});
  array->values = std::move(values);
  return AutomationValue::Array(std::move(array));
}

namespace {

// One reference deep, as a by-reference variant holds its value.
const AutomationValue& Dereferenced(const AutomationValue& value) {
  return value.type() == ValueType::kReference ? *value.target() : value;
}

}  // namespace

bool ReferenceTexts(const AutomationValue& reference, std::vector<std::string_view>* texts) {
  texts->clear();
  const AutomationValue& value = Dereferenced(reference);
  if (value.type() != ValueType::kArray || value.array()->bounds.empty()) return false;
  const AutomationArray& array = *value.array();
  const int64_t declared = std::max<int64_t>(array.bounds.back().count, 0);
  if (array.elementType == ElementType::kString) {
    const size_t count = static_cast<size_t>(std::min<int64_t>(declared, static_cast<int64_t>(array.strings.size())));
    texts->assign(array.strings.begin(), array.strings.begin() + static_cast<std::ptrdiff_t>(count));
    return true;
  }
  if (array.elementType != ElementType::kVariant) return false;
  const size_t count = static_cast<size_t>(std::min<int64_t>(declared, static_cast<int64_t>(array.values.size())));
  for (size_t i = 0; i < count; ++i) {
    const AutomationValue& element = Dereferenced(array.values[i]);
    if (element.type() != ValueType::kString) {
      texts->clear();
      return false;
    }
    texts->push_back(element.text());
  }
  return true;
}

}  // namespace vorsensor
