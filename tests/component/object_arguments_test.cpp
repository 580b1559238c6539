// Verify and Identify on the object: the shapes a reference list may come in
// (arrays of strings or of variants holding strings, directly or by
// reference, with their bounds) and every other value, which answers -1.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "component/automation_value.h"
#include "services/template_helpers.h"
#include "component/vor_sensor_n.h"

namespace vorsensor::testing {
namespace {

class ObjectArgumentsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestRandom random(4711);
    const FingerTrio trio = MakeFingerTrio(random, 5, 8, -6);
    finger_ = TextOf(*trio.finger);
    impression_ = TextOf(*trio.impression);
    other_ = TextOf(*trio.other);
    // The system's sensor device finds no sensor here: the worker ends at
    // once, and the object stays open with its engine started.
    object_.Open();
  }

  static AutomationValue Array(ElementType type, std::vector<ArrayBound> bounds, std::vector<std::string> strings,
                               std::vector<AutomationValue> values = {}) {
    auto array = std::make_shared<AutomationArray>();
    array->elementType = type;
    array->bounds = std::move(bounds);
    array->strings = std::move(strings);
    array->values = std::move(values);
    return AutomationValue::Array(std::move(array));
  }

  CVorSensorN object_;
  std::string finger_;
  std::string impression_;
  std::string other_;
};

TEST_F(ObjectArgumentsTest, VerifyAnswersOnceOpenWithoutASensor) {
  EXPECT_EQ(object_.Verify(finger_, impression_), 1);
  EXPECT_EQ(object_.Verify(impression_, finger_), 1);
  EXPECT_EQ(object_.Verify(finger_, other_), 0);
  EXPECT_EQ(object_.Verify("", ""), 0);
  EXPECT_EQ(object_.Verify(finger_, finger_.substr(0, 999)), 1);  // the odd last digit is ignored
  object_.Close();
  EXPECT_EQ(object_.Verify(finger_, impression_), 0);
}

TEST_F(ObjectArgumentsTest, ReferenceListsInEveryAcceptedShape) {
  const AutomationValue strings = StringArray({other_, impression_});
  const AutomationValue variants =
      VariantArray({AutomationValue::String(other_), AutomationValue::String(impression_)});
  const AutomationValue element = AutomationValue::String(impression_);
  const AutomationValue variantsByReference =
      VariantArray({AutomationValue::String(other_), AutomationValue::Reference(&element)});
  struct Case {
    const char* name;
    AutomationValue reference;
    int32_t expected;
  };
  const std::vector<Case> cases = {
      {"array of strings", strings, 1},
      {"array of variants", variants, 1},
      {"array of strings by reference", AutomationValue::Reference(&strings), 1},
      {"array of variants by reference", AutomationValue::Reference(&variants), 1},
      {"variants holding strings by reference", variantsByReference, 1},
      {"first match wins", StringArray({impression_, impression_}), 0},
      {"no match", StringArray({other_}), -1},
      {"one element", StringArray({finger_}), 0},
      {"empty array", StringArray({}), -1},
      {"lower bound 5", Array(ElementType::kString, {{5, 2}}, {other_, impression_}), 1},
      {"count below the elements", Array(ElementType::kString, {{0, 1}}, {other_, impression_}), -1},
      {"count beyond the elements", Array(ElementType::kString, {{0, 9}}, {other_, impression_}), 1},
      {"negative count", Array(ElementType::kString, {{0, -3}}, {impression_}), -1},
      {"two dimensions: the last one counts", Array(ElementType::kString, {{0, 1}, {0, 2}}, {other_, impression_}), 1},
      {"no dimensions", Array(ElementType::kString, {}, {impression_}), -1},
      {"variant holding an integer", VariantArray({AutomationValue::String(impression_), AutomationValue::Integer(1)}),
       -1},
      {"variant holding nothing", VariantArray({AutomationValue()}), -1},
      {"array of integers", Array(ElementType::kInteger, {{0, 1}}, {}), -1},
      {"a string", AutomationValue::String(impression_), -1},
      {"an integer", AutomationValue::Integer(0), -1},
      {"empty", AutomationValue(), -1},
      {"an object (a script's array)", AutomationValue::Object(), -1},
      {"a reference to a string", AutomationValue::Reference(&element), -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(object_.Identify(finger_, c.reference), c.expected) << c.name;
  }
  object_.Close();
  EXPECT_EQ(object_.Identify(finger_, strings), -1);
}

}  // namespace
}  // namespace vorsensor::testing
