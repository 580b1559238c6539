#pragma once
// The shapes in which automation hosts pass values, as far as the object's
// methods look at them: a value is empty, an integer, a string, an array, a
// reference to another value (what script hosts send for arrays), or an object
// (what JScript sends for its arrays). An array has an element type (strings,
// or values each of any shape), its dimensions with their bounds, and its
// elements in storage order. The Windows front maps VARIANT and SAFEARRAY
// onto these one to one.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vorsensor {

enum class ValueType : int32_t { kEmpty, kInteger, kString, kArray, kReference, kObject };
enum class ElementType : int32_t { kString, kVariant, kInteger };

struct ArrayBound {
  int32_t lower = 0;
  int32_t count = 0;  // elements along the dimension
};

struct AutomationArray;

class AutomationValue {
 public:
  AutomationValue() = default;  // empty
  static AutomationValue Integer(int32_t value);
  static AutomationValue String(std::string text);
  static AutomationValue Array(std::shared_ptr<const AutomationArray> array);
  // Refers to `target`, which the caller keeps alive while this value is used.
  static AutomationValue Reference(const AutomationValue* target);
  static AutomationValue Object();

  ValueType type() const { return type_; }
  int32_t integer() const { return integer_; }
  const std::string& text() const { return text_; }
  const AutomationArray* array() const { return array_.get(); }
  const AutomationValue* target() const { return target_; }

 private:
  ValueType type_ = ValueType::kEmpty;
  int32_t integer_ = 0;
  std::string text_;
  std::shared_ptr<const AutomationArray> array_;
  const AutomationValue* target_ = nullptr;
};

struct AutomationArray {
  ElementType elementType = ElementType::kString;
  std::vector<ArrayBound> bounds;        // dimension 1 first
  std::vector<std::string> strings;      // kString elements
  std::vector<AutomationValue> values;   // kVariant elements
  std::vector<int32_t> integers;         // kInteger elements
};

// A one-dimensional array of strings (lower bound 0), and one of values.
AutomationValue StringArray(std::vector<std::string> texts);
AutomationValue VariantArray(std::vector<AutomationValue> values);

// The texts of a reference list: an array of strings, or an array of values
// each holding a string (directly or by reference), given directly or by
// reference. The count comes from the last dimension's bounds, as the
// automation object has always read it, and the elements are taken in storage
// order from the first, never beyond those the array holds. False for any
// other shape (the list is then not recognised and Identify answers -1).
bool ReferenceTexts(const AutomationValue& reference, std::vector<std::string_view>* texts);

}  // namespace vorsensor
