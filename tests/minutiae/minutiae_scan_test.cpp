#include "engine/minutiae/minutiae_scan.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <utility>
#include <vector>

#include "engine/minutiae/bifurcation_cleaning.h"
#include "engine/minutiae/ridge_gap_joining.h"
#include "engine/minutiae/skeleton_thinning.h"
#include "minutiae/skeleton_pictures.h"
#include "support/random.h"

namespace vorsensor {
namespace {

using testing::Picture;

constexpr int32_t kSide = 60;

struct Scan {
  int32_t rc;
  std::vector<Minutia> records;
};

Scan RunScan(RowImage& skeleton, const RowImage& map, const uint8_t* const* density = nullptr,
             int32_t spreadRadius = 10, int32_t forkBranchMin = 10) {
  static Minutia records[kMaxMinutiae];
  int32_t count = -1;
  const int32_t rc = ScanMinutiae(skeleton.width(), skeleton.height(), skeleton.rows(), map.rows(), density, records,
                                  &count, 20, 20, forkBranchMin, spreadRadius);
  return Scan{rc, std::vector<Minutia>(records, records + count)};
}

RowImage Foreground(int32_t w = kSide, int32_t h = kSide) { return testing::BlankImage(w, h, 0); }

TEST(MinutiaeScanTest, EndingNeedsExactlyEndTraceMinSteps) {
  for (const int32_t length : {21, 20}) {
    RowImage image = testing::BlankImage(kSide, kSide);
    testing::HorizontalRidge(image, 30, 10, 10 + length - 1);
    RowImage map = Foreground();
    const Scan scan = RunScan(image, map);
    ASSERT_EQ(scan.records.size(), 2u);
    const uint8_t left = length == 21 ? 0 : 255, right = length == 21 ? 120 : 255;
    EXPECT_EQ(scan.records[0].x, 10);
    EXPECT_EQ(scan.records[0].type, kMinutiaEnding);
    EXPECT_EQ(scan.records[0].direction, left) << length;
    EXPECT_EQ(scan.records[1].x, 10 + length - 1);
    EXPECT_EQ(scan.records[1].direction, right) << length;
  }
}

// A fork at P = (30, 30): a stem running west and two diagonal arms.
RowImage Fork(int32_t upperArm, int32_t lowerArm) {
  RowImage image = testing::BlankImage(kSide, kSide);
  testing::HorizontalRidge(image, 30, 5, 30);
  for (int32_t i = 1; i <= upperArm; ++i) image[30 - i][30 + i] = 0;
  for (int32_t i = 1; i <= lowerArm; ++i) image[30 + i][30 + i] = 0;
  return image;
}

TEST(MinutiaeScanTest, ForkDirectionBisectsTheClosestBranches) {
  struct Case {
    int32_t upper, lower, forkBranchMin;
    uint8_t direction;
  };
  const Case cases[] = {{22, 22, 10, 0}, {10, 22, 10, 0}, {9, 22, 10, 255}, {22, 9, 9, 0}};
  for (const Case& c : cases) {
    RowImage image = Fork(c.upper, c.lower);
    const Picture before = testing::WholePicture(image);
    RowImage map = Foreground();
    TraceList scratch = AllocTraceList(ForkDirectionRoom(kSide, kSide, 20));
    EXPECT_EQ(ForkDirection(kSide, kSide, image.rows(), 30, 30, 20, c.forkBranchMin, &scratch), c.direction)
        << c.upper << ' ' << c.lower;
    EXPECT_EQ(testing::WholePicture(image), before);
  }
  // The scan lists the fork as a bifurcation among the arm endings.
  RowImage image = Fork(22, 22);
  RowImage map = Foreground();
  const Scan scan = RunScan(image, map);
  int32_t forks = 0;
  for (const Minutia& m : scan.records) {
    if (m.type != kMinutiaBifurcation) continue;
    ++forks;
    EXPECT_EQ(std::make_pair(m.x, m.y), std::make_pair(30, 30));
    EXPECT_EQ(m.direction, 0);
  }
  EXPECT_EQ(forks, 1);
}

TEST(MinutiaeScanTest, CombineBranchDirections) {
  const int32_t cases[][4] = {
      {120, 210, 30, 0},   // the narrowest pair straddles 0
      {120, 20, 230, 5},   // ... with the larger direction first
      {0, 0, 100, 255},    // two branches in the same direction
      {0, 20, 40, 255},    // widest angle 40
      {0, 30, 60, 45},     // widest exactly 60; of two pairs 30 apart the first, (60, 30), is kept
      {0, 120, 200, 220},  // (200, 120) 80, (120, 0) 120, (200, 0) 40: mean of 200 and 0
  };
  for (const auto& c : cases) EXPECT_EQ(CombineBranchDirections(c[0], c[1], c[2]), c[3]) << c[0] << ' ' << c[1] << ' ' << c[2];
}

TEST(MinutiaeScanTest, ForkWalkStoppedAtItsFirstStepPutsTheCornerBack) {
  RowImage image = testing::ForkNorthEastSouthWest();
  const Picture before = testing::WholePicture(image);
  TraceList scratch = AllocTraceList(ForkDirectionRoom(20, 20, 1));
  ForkDirection(20, 20, image.rows(), 10, 10, 1, 0, &scratch);
  EXPECT_EQ(testing::WholePicture(image), before);
}

TEST(MinutiaeScanTest, ScanLeavesThinnedSkeletonsAsTheyWere) {
  testing::TestRandom random(19);
  for (int trial = 0; trial < 20; ++trial) {
    RowImage image = testing::BlankImage(kSide, kSide);
    for (int32_t y = 1; y < kSide - 1; ++y) {
      for (int32_t x = 1; x < kSide - 1; ++x) {
        if (random.Range(0, 99) < 45) image[y][x] = 0;
      }
    }
    Thin(kSide, kSide, image.rows(), 6);
    const Picture before = testing::WholePicture(image);
    RowImage map = Foreground();
    const Scan scan = RunScan(image, map, nullptr, 10, 3);
    EXPECT_EQ(testing::WholePicture(image), before) << trial;
    EXPECT_FALSE(scan.records.empty());
  }
}

TEST(MinutiaeScanTest, ForegroundMarginSpreadAndDensity) {
  RowImage image = testing::BlankImage(kSide, kSide);
  testing::VerticalRidge(image, 10, 1, 40);  // its top end lies on row 1, outside the scan
  testing::VerticalRidge(image, 20, 2, 40);  // its top end lies on row 2
  testing::VerticalRidge(image, 30, 5, 40);
  RowImage map = Foreground();
  map[40][30] = 128;  // background: not scanned
  map[5][30] = 127;   // foreground with no orientation: spread 0
  RowImage density = testing::BlankImage(kSide, kSide, 77);
  density[2][20] = 9;
  const Scan scan = RunScan(image, map, density.rows(), 10);
  std::vector<std::pair<int32_t, int32_t>> where;
  for (const Minutia& m : scan.records) where.emplace_back(m.x, m.y);
  EXPECT_EQ(where, (std::vector<std::pair<int32_t, int32_t>>{{20, 2}, {30, 5}, {10, 40}, {20, 40}}));
  EXPECT_EQ(scan.records[0].density, 9);
  EXPECT_EQ(scan.records[1].density, 77);
  EXPECT_EQ(scan.records[0].spread, 0);  // orientation 0 all round
  EXPECT_EQ(scan.records[1].spread, 0);

  const Scan plain = RunScan(image, map, nullptr, -1);
  ASSERT_EQ(plain.records.size(), 4u);
  for (const Minutia& m : plain.records) {
    EXPECT_EQ(m.density, kNoDensity);
    EXPECT_EQ(m.spread, kNoSpread);
  }
}

TEST(MinutiaeScanTest, ListEndsAtItsCapacity) {
  // Two-pixel segments: every pixel is an ending (without a direction).
  constexpr int32_t kW = 200, kH = 200;
  RowImage image = testing::BlankImage(kW, kH);
  std::vector<std::pair<int32_t, int32_t>> endings;  // in scan order
  for (int32_t y = 4; y + 1 < kH - 3; y += 4) {
    for (int32_t x = 4; x < kW - 3; x += 3) {
      image[y][x] = 0;
      image[y + 1][x] = 0;
    }
  }
  for (int32_t y = 2; y < kH - 2; ++y) {
    for (int32_t x = 2; x < kW - 2; ++x) {
      if (image[y][x] == 0) endings.emplace_back(x, y);
    }
  }
  ASSERT_GT(endings.size(), static_cast<size_t>(kMaxMinutiae));
  RowImage map = Foreground(kW, kH);
  const Scan scan = RunScan(image, map);
  ASSERT_EQ(scan.records.size(), static_cast<size_t>(kMaxMinutiae));
  for (int32_t i = 0; i < kMaxMinutiae; ++i) {
    ASSERT_EQ(std::make_pair(scan.records[i].x, scan.records[i].y), endings[static_cast<size_t>(i)]) << i;
    EXPECT_EQ(scan.records[i].direction, 255);
  }
}

// The spread written from its definition: every pixel of the map within the
// square, clipped to the map, that has an orientation.
uint8_t ReferenceSpread(const RowImage& map, int32_t x, int32_t y, int32_t radius) {
  const int32_t o0 = map[y][x] & 127;
  if (o0 >= 120) return 0;
  int64_t sum = 0, count = 0;
  for (int32_t yy = 0; yy < map.height(); ++yy) {
    for (int32_t xx = 0; xx < map.width(); ++xx) {
      if (std::abs(xx - x) > radius || std::abs(yy - y) > radius) continue;
      const int32_t o = map[yy][xx] & 127;
      if (o >= 120) continue;
      int32_t d = std::abs(o - o0);
      if (d >= 61) d = 120 - d;
      sum += d;
      ++count;
    }
  }
  return static_cast<uint8_t>(sum * 255 / (count * 60));
}

TEST(MinutiaeScanTest, OrientationSpreadMatchesItsDefinition) {
  testing::TestRandom random(23);
  for (int trial = 0; trial < 300; ++trial) {
    const int32_t w = random.Range(1, 60), h = random.Range(1, 30);
    RowImage map = testing::BlankImage(w, h);
    for (int32_t y = 0; y < h; ++y) {
      for (int32_t x = 0; x < w; ++x) map[y][x] = random.Byte();
    }
    const int32_t x = random.Range(0, w - 1), y = random.Range(0, h - 1), radius = random.Range(0, 35);
    ASSERT_EQ(OrientationSpread(w, h, map.rows(), x, y, radius), ReferenceSpread(map, x, y, radius));
  }
  // Fold: 61 apart counts as 59; everywhere at right angles is 255 (bar the centre).
  RowImage map = testing::BlankImage(3, 1, 0);
  map[0][0] = 61;
  EXPECT_EQ(OrientationSpread(3, 1, map.rows(), 1, 0, 1), 59 * 255 / (3 * 60));
  map[0][0] = 60 | 128;  // background pixels count too
  map[0][2] = 60;
  EXPECT_EQ(OrientationSpread(3, 1, map.rows(), 1, 0, 1), 120 * 255 / (3 * 60));
}

// Gap joining, bifurcation cleaning and the scan, run one after the other on
// thinned noisy ridge patterns (broken ridges, spurs, loops and bridges, some
// of them in the background), give the same skeletons and minutiae at every
// level as at the plain level, which tests the crossing number pixel by pixel.
TEST(MinutiaeScanTest, StagesFindTheSameCandidatesAtEveryLevel) {
  testing::TestRandom random(29);
  const BifurcationCleaningParameters cleaning{30, 110, 93, 70, 50, 30, 10, 15, 5, 3, 40};
  const SimdLevel levels[] = {SimdLevel::kPlain, SimdLevel::kSse2, SimdLevel::kAvx512};
  int32_t joined = 0, cleaned = 0, listed = 0;
  for (int trial = 0; trial < 8; ++trial) {
    const int32_t w = random.Range(50, 140), h = random.Range(50, 100);
    const int32_t period = random.Range(5, 9), slope = random.Range(-6, 6);
    const int32_t noise = random.Range(3, 12), backgroundFrom = random.Range(w / 2, w);
    RowImage ridges = testing::BlankImage(w, h);
    RowImage map = testing::BlankImage(w, h);
    for (int32_t y = 0; y < h; ++y) {
      for (int32_t x = 0; x < w; ++x) {
        map[y][x] = static_cast<uint8_t>(x < backgroundFrom ? random.Range(0, 127) : random.Range(128, 255));
        if (x == 0 || y == 0 || x == w - 1 || y == h - 1) continue;
        const int32_t phase = ((4 * y + slope * x) % (4 * period) + 4 * period) % (4 * period);
        const bool ridge = phase < 2 * period;
        if (ridge != (random.Range(0, 99) < noise)) ridges[y][x] = 0;
      }
    }
    // Gaps across the ridges, for the joining.
    for (int gap = 0; gap < 3; ++gap) {
      const int32_t x0 = random.Range(5, w - 12), width = random.Range(2, 6);
      for (int32_t y = 1; y < h - 1; ++y) {
        for (int32_t x = x0; x < x0 + width; ++x) ridges[y][x] = 255;
      }
    }
    ASSERT_EQ(Thin(w, h, ridges.rows(), 6), 0);
    std::vector<Picture> expected;
    std::vector<Minutia> expectedList;
    for (const SimdLevel level : levels) {
      if (!SimdLevelRuns(level)) continue;
      RowImage skeleton = testing::BlankImage(w, h);
      CopyRowImage(skeleton.rows(), ridges.rows(), w, h);
      ASSERT_EQ(JoinGaps(w, h, skeleton.rows(), map.rows(), 10, 4, 15, 110, level), 0);
      const Picture afterJoin = testing::WholePicture(skeleton);
      CleanBifurcations(w, h, skeleton.rows(), map.rows(), cleaning, level);
      const Picture afterClean = testing::WholePicture(skeleton);
      static Minutia records[kMaxMinutiae];
      int32_t count = -1;
      ASSERT_EQ(ScanMinutiae(w, h, skeleton.rows(), map.rows(), nullptr, records, &count, 20, 20, 10, 10, level), 0);
      const std::vector<Minutia> list(records, records + count);
      if (level == SimdLevel::kPlain) {
        expected = {afterJoin, afterClean};
        expectedList = list;
        joined += afterJoin != testing::WholePicture(ridges) ? 1 : 0;
        cleaned += afterClean != afterJoin ? 1 : 0;
        listed += count;
        continue;
      }
      ASSERT_EQ(afterJoin, expected[0]) << "trial " << trial << " level " << static_cast<int>(level);
      ASSERT_EQ(afterClean, expected[1]) << "trial " << trial << " level " << static_cast<int>(level);
      ASSERT_EQ(list.size(), expectedList.size()) << "trial " << trial;
      for (size_t i = 0; i < list.size(); ++i) {
        const Minutia& a = list[i];
        const Minutia& b = expectedList[i];
        ASSERT_TRUE(a.x == b.x && a.y == b.y && a.type == b.type && a.direction == b.direction &&
                    a.spread == b.spread && a.density == b.density)
            << "trial " << trial << " record " << i;
      }
    }
  }
  // The patterns exercise every stage.
  EXPECT_GT(joined, 0);
  EXPECT_GT(cleaned, 0);
  EXPECT_GT(listed, 0);
}

}  // namespace
}  // namespace vorsensor
