#include "geometry/digital_line.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <utility>
#include <vector>

#include "support/random.h"

namespace vorsensor {
namespace {

using Pixels = std::vector<std::pair<int32_t, int32_t>>;

Pixels Walk(int32_t xA, int32_t yA, int32_t xB, int32_t yB) {
  Pixels pixels;
  for (DigitalLine line = StartDigitalLine(xA, yA, xB, yB); !DigitalLineDone(line); StepDigitalLine(&line)) {
    pixels.emplace_back(line.x, line.y);
  }
  return pixels;
}

TEST(DigitalLineTest, VisitsAButNotB) {
  EXPECT_EQ(Walk(0, 0, 3, 1), (Pixels{{0, 0}, {1, 0}, {2, 1}}));
  EXPECT_EQ(Walk(5, 5, 5, 8), (Pixels{{5, 5}, {5, 6}, {5, 7}}));
  EXPECT_EQ(Walk(5, 5, 2, 5), (Pixels{{5, 5}, {4, 5}, {3, 5}}));
  EXPECT_TRUE(Walk(7, -3, 7, -3).empty());
}

// At exactly 50 both corrections fire one after the other: the minor coordinate
// stays and the accumulator is 50 again (an if / else-if would move it).
TEST(DigitalLineTest, AccumulatorAtFiftyFiresBothTests) {
  int32_t acc = 0;
  EXPECT_EQ(AccumulateDigitalLine(&acc, 50), 0);
  EXPECT_EQ(acc, 50);
  EXPECT_EQ(AccumulateDigitalLine(&acc, 50), 1);
  EXPECT_EQ(acc, 0);
  acc = 0;
  EXPECT_EQ(AccumulateDigitalLine(&acc, -50), -1);
  EXPECT_EQ(acc, 50);
  acc = 0;
  EXPECT_EQ(AccumulateDigitalLine(&acc, -49), 0);
  EXPECT_EQ(acc, -49);

  // slope 1 * 100 / 2 = 50: the first step keeps the column.
  EXPECT_EQ(Walk(0, 0, 1, 2), (Pixels{{0, 0}, {0, 1}}));
  // slope -50: the first step moves the column down and leaves acc at 50.
  EXPECT_EQ(Walk(0, 0, -1, 2), (Pixels{{0, 0}, {-1, 1}}));
  // Columns as the major axis: slope 2 * 100 / 4 = 50.
  EXPECT_EQ(Walk(0, 0, 4, 2), (Pixels{{0, 0}, {1, 0}, {2, 1}, {3, 1}}));
}

TEST(DigitalLineTest, RandomLinesAreConnectedAndEndNextToB) {
  testing::TestRandom random(5);
  for (int i = 0; i < 2000; ++i) {
    const int32_t xA = random.Range(-30, 30), yA = random.Range(-30, 30);
    const int32_t xB = random.Range(-30, 30), yB = random.Range(-30, 30);
    const Pixels pixels = Walk(xA, yA, xB, yB);
    ASSERT_EQ(static_cast<int32_t>(pixels.size()), std::max(std::abs(xB - xA), std::abs(yB - yA)));
    if (pixels.empty()) continue;
    EXPECT_EQ(pixels.front(), std::make_pair(xA, yA));
    for (size_t k = 1; k < pixels.size(); ++k) {
      EXPECT_LE(std::abs(pixels[k].first - pixels[k - 1].first), 1);
      EXPECT_LE(std::abs(pixels[k].second - pixels[k - 1].second), 1);
    }
    // The minor coordinate drifts at most one pixel from the ideal line.
    EXPECT_LE(std::abs(pixels.back().first - xB), 1) << xA << "," << yA << " -> " << xB << "," << yB;
    EXPECT_LE(std::abs(pixels.back().second - yB), 1) << xA << "," << yA << " -> " << xB << "," << yB;
  }
}

}  // namespace
}  // namespace vorsensor
