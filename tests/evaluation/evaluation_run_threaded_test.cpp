// The scores and the report of an evaluation do not depend on the number of
// threads extraction, enrolment and comparisons run on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/engine_configuration.h"
#include "evaluation/evaluation_run.h"
#include "evaluation/report.h"
#include "synth_folder.h"

namespace vorsensor::evaluation {
namespace {

EvaluationSummary Evaluate(const ImageSet& set, int32_t threads) {
  EvaluationOptions options;
  SetDefaultConfiguration(&options.config);
  options.protocol = Protocol::kAllPairs;
  options.enrol = 3;
  options.threads = threads;
  EvaluationSummary summary;
  summary.threshold = static_cast<int32_t>(options.config.verifyThreshold);
  summary.protocol = options.protocol;
  summary.enrol = options.enrol;
  summary.sets.push_back(EvaluateSet(set, options));
  PoolSets(&summary);
  return summary;
}

TEST(EvaluationRunThreadedTest, SameScoresAndReportWithOneAndSeveralThreads) {
  vorsensor::testing::SynthFolder folder("threads");
  folder.CopyFingers(3, 4);
  std::vector<ImageSet> sets;
  std::string error;
  ASSERT_TRUE(LoadImageSets(folder.Path(), &sets, &error)) << error;
  const EvaluationSummary one = Evaluate(sets[0], 1);
  const EvaluationSummary several = Evaluate(sets[0], 4);
  const SetEvaluation& a = one.sets[0];
  const SetEvaluation& b = several.sets[0];
  ASSERT_EQ(a.comparisons.size(), 66u);
  ASSERT_EQ(a.comparisons.size(), b.comparisons.size());
  for (size_t k = 0; k < a.comparisons.size(); ++k) {
    EXPECT_EQ(a.comparisons[k].score, b.comparisons[k].score) << k;
    EXPECT_EQ(a.comparisons[k].code, b.comparisons[k].code) << k;
  }
  for (size_t i = 0; i < a.images.size(); ++i) EXPECT_EQ(a.images[i].record, b.images[i].record) << i;
  ASSERT_EQ(a.enrolledComparisons.size(), b.enrolledComparisons.size());
  for (size_t k = 0; k < a.enrolledComparisons.size(); ++k) {
    EXPECT_EQ(a.enrolledComparisons[k].score, b.enrolledComparisons[k].score) << k;
  }
  EXPECT_EQ(MarkdownReport(one, false), MarkdownReport(several, false));
  EXPECT_EQ(JsonReport(one, false).dump(), JsonReport(several, false).dump());
  EXPECT_EQ(ScoresCsv(one), ScoresCsv(several));
}

}  // namespace
}  // namespace vorsensor::evaluation
