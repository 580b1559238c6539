// The evaluation run over a folder: an image that cannot be read is a failure
// to extract that stays in the protocol with score 0, the real images are
// compared, and enrolled templates are compared as the protocol says.
#include "evaluation/evaluation_run.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/engine_configuration.h"
#include "evaluation/report.h"
#include "services/enrollment_run.h"
#include "synth_folder.h"

namespace vorsensor::evaluation {
namespace {

using vorsensor::testing::SynthFolder;

EvaluationOptions DefaultOptions() {
  EvaluationOptions options;
  SetDefaultConfiguration(&options.config);
  return options;
}

ImageSet LoadOne(const std::string& folder) {
  std::vector<ImageSet> sets;
  std::string error;
  EXPECT_TRUE(LoadImageSets(folder, &sets, &error)) << error;
  return sets.empty() ? ImageSet{} : sets[0];
}

TEST(EvaluationRunTest, RealImagesAreComparedAndEnrolled) {
  SynthFolder folder("real");
  folder.CopyFingers(3, 4);
  folder.Write("f04_i1.png", "not a picture");
  EvaluationOptions options = DefaultOptions();
  options.threads = 2;
  options.enrol = 3;
  const SetEvaluation result = EvaluateSet(LoadOne(folder.Path()), options);
  ASSERT_EQ(result.images.size(), 13u);
  int failures = 0;
  for (const ImageOutcome& o : result.images) {
    failures += o.extracted ? 0 : 1;
    if (o.extracted) {
      EXPECT_GE(o.code, 0);
      EXPECT_GT(o.minutiae, 0);
    }
  }
  EXPECT_EQ(failures, 1);
  const ImageOutcome& unreadable = result.images[12];
  EXPECT_FALSE(unreadable.extracted);
  EXPECT_EQ(unreadable.code, kImageUnreadable);
  EXPECT_NE(unreadable.failure.find("f04_i1.png"), std::string::npos) << unreadable.failure;
  // 3 x 6 genuine; impostors between the four first impressions.
  ASSERT_EQ(result.comparisons.size(), 18u + 6u);
  for (const ScoredComparison& c : result.comparisons) {
    const bool withFailure = c.reference == 12 || c.probe == 12;
    EXPECT_EQ(c.code, withFailure ? kComparisonSkipped : 0);
    if (withFailure) {
      EXPECT_EQ(c.score, 0);
    }
  }
  // The skipped comparisons stay in the rates.
  EXPECT_EQ(result.rates.genuineCount, 18);
  EXPECT_EQ(result.rates.impostorCount, 6);
  EvaluationSummary summary;
  summary.threshold = 48;
  summary.sets.push_back(result);
  PoolSets(&summary);
  const std::string report = MarkdownReport(summary, false);
  EXPECT_NE(report.find("/f04_i1.png: code -9000, unreadable image"), std::string::npos) << report;
  // Enrolment: f04 has a single unreadable impression and cannot enrol.
  ASSERT_EQ(result.enrolments.size(), 4u);
  EXPECT_NE(result.enrolments[3].status, kEnrollComplete);
  EXPECT_EQ(result.enrolments[0].images, (std::vector<int32_t>{0, 1, 2}));
  // Fingers 1..3: impression 4 (genuine) and the three other first impressions; f04: three impostors.
  ASSERT_EQ(result.enrolledComparisons.size(), 3u * 4u + 3u);
  EXPECT_EQ(result.enrolledRates.genuineCount, 3);
  EXPECT_EQ(result.enrolledRates.impostorCount, 12);
  for (const ScoredComparison& c : result.enrolledComparisons) {
    const bool enrolled = result.enrolments[static_cast<size_t>(c.reference)].status == kEnrollComplete;
    if (!enrolled || c.probe == 12) {
      EXPECT_EQ(c.score, 0);
      EXPECT_EQ(c.code, kComparisonSkipped);
    } else {
      EXPECT_EQ(c.code, 0);
    }
  }
}

}  // namespace
}  // namespace vorsensor::evaluation
