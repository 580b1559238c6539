// The enrolment run driven through its hooks: the image is one byte naming a
// scripted capture whose quality and agreements the test decides. (The run
// with the real extraction, matcher and merge is in enrollment_images_test.)
#include <gtest/gtest.h>

#include <array>
#include <set>
#include <utility>
#include <vector>

#include "engine/engine_configuration.h"
#include "engine/result_codes.h"
#include "engine/template_record.h"
#include "services/enrollment_run.h"
#include "services/template_cipher.h"
#include "template_helpers.h"

namespace vorsensor::testing {
namespace {

constexpr uint8_t kRecordMark = 0xA5;

// Capture k's record is {kRecordMark, k}; it agrees with capture j when the
// script lists {j, k} (either order).
struct Script {
  std::vector<int32_t> qualities;
  std::set<std::pair<int32_t, int32_t>> agreeing;
  int32_t failAllocation = -1;  // the n-th allocation (from 0) fails
  int32_t allocations = 0;
  int32_t extractions = 0;
  int32_t mergeResult = 0;
  int32_t mergeLength = 40;
  std::vector<std::array<int32_t, 3>> merges;

  static int32_t Extract(void* context, int32_t resolution, int32_t, int32_t, uint8_t* image, uint8_t* record,
                         int32_t capacity, int32_t* length) {
    auto* self = static_cast<Script*>(context);
    EXPECT_EQ(resolution, kEnrollResolution);
    EXPECT_EQ(capacity, static_cast<int32_t>(kEnrollSlotBytes));
    ++self->extractions;
    record[0] = kRecordMark;
    record[1] = image[0];
    *length = 2;
    return self->qualities.at(image[0]);
  }
  static int32_t Compare(void* context, const uint8_t* first, const uint8_t* second, int32_t* matched) {
    auto* self = static_cast<Script*>(context);
    EXPECT_EQ(first[0], kRecordMark);
    EXPECT_EQ(second[0], kRecordMark);
    const int32_t a = std::min(first[1], second[1]);
    const int32_t b = std::max(first[1], second[1]);
    *matched = self->agreeing.count({a, b}) > 0 ? 1 : 0;
    return 2;
  }
  static int32_t Merge(void* context, const uint8_t* const records[kEnrollMergeSlots], uint8_t* output,
                       int32_t* length) {
    auto* self = static_cast<Script*>(context);
    self->merges.push_back({records[0][1], records[1][1], records[2][1]});
    for (int32_t k = 0; k < self->mergeLength; ++k) output[k] = static_cast<uint8_t>(k + 1);
    *length = self->mergeLength;
    return self->mergeResult;
  }
  static EnrollBuffer Allocate(void* context, size_t bytes) {
    auto* self = static_cast<Script*>(context);
    if (self->allocations++ == self->failAllocation) return nullptr;
    return EnrollBuffer(new uint8_t[bytes]());
  }
  EnrollmentHooks Hooks() {
    EnrollmentHooks hooks;
    hooks.context = this;
    hooks.extract = &Extract;
    hooks.compare = &Compare;
    hooks.merge = &Merge;
    hooks.allocate = &Allocate;
    return hooks;
  }
};

struct Step {
  int32_t returned;
  int32_t status;
  int32_t length;
  std::array<uint8_t, kSealedTemplateBytes> output;
};

Step StepWith(EnrollmentRun* run, int32_t capture) {
  uint8_t image = static_cast<uint8_t>(capture);
  Step step{};
  step.length = -1;
  step.status = 99;
  step.returned = EnrollStep(run, kEnrollResolution, 256, 288, &image, step.output.data(), &step.length, &step.status);
  return step;
}

std::vector<int32_t> Statuses(EnrollmentRun* run, int32_t captures) {
  std::vector<int32_t> statuses;
  for (int32_t k = 0; k < captures; ++k) statuses.push_back(StepWith(run, k).status);
  return statuses;
}

TEST(EnrollmentRun, CompletesOnTheFirstTriangleWithItsMergeOrder) {
  struct Case {
    const char* name;
    std::vector<int32_t> qualities;
    std::set<std::pair<int32_t, int32_t>> agreeing;
    std::vector<int32_t> statuses;
    std::array<int32_t, 3> mergeImages;
    std::vector<std::pair<int32_t, int32_t>> pairs;  // every agreeing pair both ways, in the order found
  };
  const Case cases[] = {
      {"all three agree", {200, 200, 200}, {{0, 1}, {0, 2}, {1, 2}}, {1, 1, 0}, {1, 0, 2}, {}},
      {"0-1 and 1-2 but not 0-2", {200, 200, 200, 200}, {{0, 1}, {1, 2}, {0, 3}, {1, 3}}, {1, 1, 1, 0}, {1, 0, 3},
       {{0, 1}, {1, 0}, {1, 2}, {2, 1}, {0, 3}, {3, 0}}},
      // The quality limit itself is accepted; 119 and a failed extraction are
      // rejected and their slot is taken by the next capture.
      // (Accepted captures 0, 1, 2 are images 0, 3, 4.)
      {"rejections between", {120, 119, -5, 255, 120}, {{0, 3}, {0, 4}, {3, 4}}, {1, 1, 1, 1, 0}, {3, 0, 4}, {}},
      // Capture 3 agrees with 0, 1 and 2: at i = 0 neither (1,3) nor (2,3) is
      // stored, so (0,3) is; at i = 1 the earliest pair (1,0) meets (0,3).
      {"earliest stored partner", {200, 200, 200, 200}, {{0, 1}, {0, 2}, {0, 3}, {1, 3}, {2, 3}}, {1, 1, 1, 0},
       {1, 0, 3}, {}},
  };
  for (const Case& c : cases) {
    Script script;
    script.qualities = std::vector<int32_t>(c.qualities.begin(), c.qualities.end());
    script.agreeing = c.agreeing;
    EnrollmentRun run;
    ASSERT_EQ(BeginEnrollment(&run, kEnrollRejectionLimit, script.Hooks()), 1);
    std::vector<int32_t> statuses;
    Step last{};
    for (size_t k = 0; k < c.qualities.size(); ++k) {
      last = StepWith(&run, static_cast<int32_t>(k));
      EXPECT_EQ(last.returned, 1);
      statuses.push_back(last.status);
    }
    EXPECT_EQ(statuses, c.statuses) << c.name;
    ASSERT_EQ(script.merges.size(), 1u) << c.name;
    EXPECT_EQ(script.merges[0], c.mergeImages) << c.name;
    if (!c.pairs.empty()) {
      std::vector<std::pair<int32_t, int32_t>> pairs;
      for (int32_t k = 0; k < run.pairCount; ++k) pairs.emplace_back(run.pairs[k][0], run.pairs[k][1]);
      EXPECT_EQ(pairs, c.pairs) << c.name;
    }
    EXPECT_EQ(last.length, kSealedTemplateBytes);
    std::array<uint8_t, kSealedTemplateBytes> opened{};
    OpenTemplateRecord(last.output.data(), opened.data());
    for (int32_t k = 0; k < kSealedTemplateBytes; ++k) {
      ASSERT_EQ(opened[static_cast<size_t>(k)], k < script.mergeLength ? k + 1 : 0) << c.name << " byte " << k;
    }
    EXPECT_EQ(run.active, 0);
    EXPECT_EQ(run.merged, 1);
    EXPECT_EQ(StepWith(&run, 0).returned, 0) << "a step after the end";
    EXPECT_EQ(StepWith(&run, 0).status, kEnrollNotActive);
  }
}

TEST(EnrollmentRun, EndsOnTheRejectionLimit) {
  for (int32_t limit : {1, 10}) {
    Script script;
    script.qualities.assign(12, kEnrollQualityMin - 1);
    EnrollmentRun run;
    BeginEnrollment(&run, limit, script.Hooks());
    std::vector<int32_t> want(static_cast<size_t>(limit - 1), kEnrollMoreNeeded);
    want.push_back(kEnrollTooManyRejections);
    EXPECT_EQ(Statuses(&run, limit), want);
    EXPECT_EQ(StepWith(&run, 0).status, kEnrollNotActive);
    EXPECT_EQ(script.merges.size(), 0u);
  }
}

TEST(EnrollmentRun, EndsOnTheTwelfthStepWithoutLookingAtItsImage) {
  Script script;
  script.qualities.assign(12, 200);
  script.agreeing = {{0, 1}, {2, 3}, {4, 5}, {6, 7}, {8, 9}};  // pairs, never a triangle
  EnrollmentRun run;
  BeginEnrollment(&run, kEnrollRejectionLimit, script.Hooks());
  const std::vector<int32_t> eleven(11, kEnrollMoreNeeded);
  EXPECT_EQ(Statuses(&run, 11), eleven);
  const Step twelfth = StepWith(&run, 11);
  EXPECT_EQ(twelfth.returned, 1);
  EXPECT_EQ(twelfth.status, kEnrollTooManySteps);
  EXPECT_EQ(script.extractions, 11);
  const Step after = StepWith(&run, 0);
  EXPECT_EQ(after.returned, 0);
  EXPECT_EQ(after.status, kEnrollNotActive);
  // A new run starts over, releasing what the old one kept.
  script.agreeing = {{0, 1}, {0, 2}, {1, 2}};
  BeginEnrollment(&run, kEnrollRejectionLimit, script.Hooks());
  EXPECT_EQ(Statuses(&run, 3), (std::vector<int32_t>{1, 1, 0}));
}

TEST(EnrollmentRun, MergeFailuresAndOverlongRecordsEndTheRun) {
  struct Case {
    int32_t mergeResult;
    int32_t mergeLength;
    int32_t status;
  };
  const Case cases[] = {{2, kSealedTemplateBytes, kEnrollComplete},
                        {0, kSealedTemplateBytes + 1, kEnrollMergeFailed},
                        {-1, 10, kEnrollMergeFailed},
                        {kSampleInUse, 10, kEnrollMergeFailed}};
  for (const Case& c : cases) {
    Script script;
    script.qualities = std::vector<int32_t>{200, 200, 200};
    script.agreeing = {{0, 1}, {0, 2}, {1, 2}};
    script.mergeResult = c.mergeResult;
    script.mergeLength = c.mergeLength;
    EnrollmentRun run;
    BeginEnrollment(&run, kEnrollRejectionLimit, script.Hooks());
    Statuses(&run, 2);
    const Step third = StepWith(&run, 2);
    EXPECT_EQ(third.returned, 1);
    EXPECT_EQ(third.status, c.status) << c.mergeResult << " " << c.mergeLength;
    EXPECT_EQ(third.length, c.status == kEnrollComplete ? kSealedTemplateBytes : -1);
    EXPECT_EQ(run.active, 0);
    EXPECT_FALSE(run.captureSlots[0]) << "the slots are released";
  }
}

// Allocations 0..2 are the merge slots, 3..14 the capture slots, 15 the
// merge's output record. A run without its slots ends on its next step.
TEST(EnrollmentRun, EndsCleanlyWhenMemoryIsShort) {
  for (int32_t failing = 0; failing <= 15; ++failing) {
    Script script;
    script.qualities = std::vector<int32_t>{200, 200, 200};
    script.agreeing = {{0, 1}, {0, 2}, {1, 2}};
    script.failAllocation = failing;
    EnrollmentRun run;
    const int32_t begun = BeginEnrollment(&run, kEnrollRejectionLimit, script.Hooks());
    if (failing < 15) {
      EXPECT_EQ(begun, 0) << failing;
      EXPECT_EQ(run.active, 1) << failing;
      const Step step = StepWith(&run, 0);
      EXPECT_EQ(step.returned, 1);
      EXPECT_EQ(step.status, kEnrollOutOfMemory) << failing;
      EXPECT_EQ(script.extractions, 0);
    } else {
      EXPECT_EQ(begun, 1);
      EXPECT_EQ(Statuses(&run, 3), (std::vector<int32_t>{1, 1, kEnrollOutOfMemory}));
      EXPECT_EQ(script.merges.size(), 0u);
    }
    EXPECT_EQ(run.active, 0);
    EXPECT_EQ(StepWith(&run, 0).status, kEnrollNotActive);
  }
}

}  // namespace
}  // namespace vorsensor::testing
