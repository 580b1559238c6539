#include "engine/ridge/orientation_moments.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace vorsensor {
namespace {

TEST(OrientationFromMoments, AxesDiagonalsAndNoGradient) {
  EXPECT_EQ(OrientationFromMoments(0, 0, 0), 30);        // table [0][0] = 30, gradient 90
  EXPECT_EQ(OrientationFromMoments(5000, 0, 0), 60);     // gradient along the rows: ridges along the columns
  EXPECT_EQ(OrientationFromMoments(0, 5000, 0), 0);      // gradient along the columns: ridges along the rows
  EXPECT_EQ(OrientationFromMoments(3000, 3000, 3000), 90);   // gradient towards +x +y
  EXPECT_EQ(OrientationFromMoments(3000, 3000, -3000), 30);  // gradient towards +x -y
  EXPECT_EQ(OrientationFromMoments(49, 0, 0), 60);       // below 50: no scaling
  EXPECT_EQ(OrientationFromMoments(100, 0, 50), 75);     // a = b: table [49][49] = 15
  EXPECT_EQ(OrientationFromMoments(5000, 0, -1), 60);    // a > 0, b < 0, t = 0: gradient 120 wraps to 0
}

TEST(CoherenceFromMoments, PerfectIsotropicAndWeak) {
  EXPECT_EQ(CoherenceFromMoments(36 * 4 * 2000, 0, 0, 70), 255);   // every gradient on one axis
  EXPECT_EQ(CoherenceFromMoments(36 * 4000, 36 * 4000, 0, 70), 0);  // no preferred axis
  // Mean energy X + Y must reach energyMin²: 4899 is one short of 70².
  EXPECT_EQ(CoherenceFromMoments(36 * 4899, 0, 0, 70), 0);
  EXPECT_EQ(CoherenceFromMoments(36 * 4900, 0, 0, 70), 255);
}

TEST(OrientationFromDifferences, EqualAndClearAlongTheAxes) {
  const DifferenceOrientation equal = OrientationFromDifferences(400, 400, 400, 400);
  EXPECT_EQ(equal.orientation, kUndefinedOrientation);
  EXPECT_EQ(equal.ratio, 255);
  // No change along the rows: orientation 0 (105 + 15 wraps), clear.
  const DifferenceOrientation rows = OrientationFromDifferences(0, 300, 420, 300);
  EXPECT_EQ(rows.orientation, 0);
  EXPECT_EQ(rows.ratio, 0);
  const DifferenceOrientation columns = OrientationFromDifferences(420, 300, 0, 300);
  EXPECT_EQ(columns.orientation, 60);
  EXPECT_EQ(columns.ratio, 0);
  EXPECT_EQ(OrientationFromDifferences(300, 0, 300, 420).orientation, 30);
}

TEST(MomentMean, AddsHalfTheCountAndTruncatesTowardsZero) {
  EXPECT_EQ(MomentMean(1152, 2304), 1);   // (1152 + 1152) / 2304
  EXPECT_EQ(MomentMean(1151, 2304), 0);
  EXPECT_EQ(MomentMean(-1152, 2304), 0);  // (-1152 + 1152) / 2304
  EXPECT_EQ(MomentMean(-1153, 2304), 0);  // truncates towards zero
  EXPECT_EQ(MomentMean(-3457, 2304), -1);
  EXPECT_EQ(MomentMean(625 * 1000 + 312, 625), 1000);
  EXPECT_EQ(MomentMean(625 * 1000 + 313, 625), 1001);
}

}  // namespace
}  // namespace vorsensor
