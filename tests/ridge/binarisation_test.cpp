#include "engine/ridge/binarisation.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>

#include "engine/row_image.h"
#include "ridge_references.h"
#include "support/grey_images.h"
#include "support/random.h"

namespace vorsensor {
namespace {

using testing::ClippedWindowSum;

int64_t SlowMean(const RowImage& image, int32_t x, int32_t y, int64_t r) {
  const testing::WindowSum s = ClippedWindowSum(image.width(), image.height(), x, y, r,
                                                [&](int32_t xx, int32_t yy) { return image[yy][xx]; });
  return s.sum / s.count;
}

uint8_t Binary(bool ridge) { return ridge ? 0 : 255; }

struct Size {
  int32_t w, h;
};
const Size kSizes[] = {{1, 1}, {2, 3}, {7, 5}, {15, 16}, {16, 15}, {33, 21}, {50, 47}};

// Random images, some with values in a narrow band so that many pixels sit
// exactly on their mean, some near full (window sums up to 255 x the count).
RowImage TestImage(int32_t w, int32_t h, testing::TestRandom& random, int round) {
  return testing::MakeImage(w, h, [&](int32_t, int32_t) {
    const uint8_t b = random.Byte();
    return round == 0 ? b : static_cast<uint8_t>(round == 1 ? 100 + b % 3 : (b < 40 ? 254 : 255));
  });
}

TEST(Binarisation, LocalAndTwoMeansMatchDirectWindowMeans) {
  testing::TestRandom random(17);
  for (const Size& size : kSizes) {
    for (int round = 0; round < 3; ++round) {
      SCOPED_TRACE(std::to_string(size.w) + " x " + std::to_string(size.h) + " round " + std::to_string(round));
      const RowImage source = TestImage(size.w, size.h, random, round);
      for (uint32_t r : {0u, 1u, 5u, 9u, 100u}) {
        RowImage image = testing::Clone(source);
        ASSERT_EQ(BinarizeByLocalMean(size.w, size.h, image.rows(), r), 0);
        const RowImage expected = testing::MakeImage(size.w, size.h, [&](int32_t x, int32_t y) {
          return Binary(source[y][x] < SlowMean(source, x, y, r));
        });
        ASSERT_EQ(testing::Pixels(image), testing::Pixels(expected)) << "radius " << r;
      }
      for (auto [small, large] : {std::pair{3u, 7u}, std::pair{0u, 2u}, std::pair{5u, 5u}, std::pair{1u, 40u}}) {
        const RowImage expected = testing::MakeImage(size.w, size.h, [&](int32_t x, int32_t y) {
          return Binary(source[y][x] < (SlowMean(source, x, y, small) + SlowMean(source, x, y, large)) / 2);
        });
        for (int32_t level = 0; level <= static_cast<int32_t>(MachineSimdLevel()); ++level) {
          RowImage scratch = testing::ConstantImage(size.w, size.h, 77);
          ASSERT_EQ(BinarizeByTwoMeans(size.w, size.h, source.rows(), scratch.rows(), small, large,
                                       static_cast<SimdLevel>(level)),
                    0);
          ASSERT_EQ(testing::Pixels(scratch), testing::Pixels(expected)) << small << " / " << large << " level " << level;
        }
      }
    }
  }
}

// The window each pixel's density selects, with densities on and next to
// both thresholds, and radii in any order. (This and the two-means case run
// at every vector level the machine runs.)
TEST(Binarisation, ByDensityMatchesDirectWindowMeans) {
  testing::TestRandom random(23);
  const uint8_t near[] = {0, 114, 115, 116, 129, 130, 131, 255};
  // The thresholds also the wrong way round: a high density takes the small
  // window whatever the low threshold.
  for (const auto& [high, low] : {std::pair<uint8_t, uint8_t>{130, 115}, std::pair<uint8_t, uint8_t>{115, 130}}) {
    for (const Size& size : kSizes) {
      for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(std::to_string(size.w) + " x " + std::to_string(size.h) + " round " + std::to_string(round));
        const RowImage source = TestImage(size.w, size.h, random, round);
        const RowImage density = testing::MakeImage(size.w, size.h, [&](int32_t, int32_t) {
          return random.Range(0, 3) == 0 ? random.Byte() : near[random.Range(0, 7)];
        });
        const uint32_t radii[][3] = {{3, 5, 7}, {0, 1, 2}, {7, 5, 3}, {2, 2, 30}, {1, 40, 4}};
        for (const auto& r : radii) {
          const RowImage expected = testing::MakeImage(size.w, size.h, [&](int32_t x, int32_t y) {
            const uint8_t e = density[y][x];
            const uint32_t radius = e >= high ? r[0] : (e >= low ? r[1] : r[2]);
            return Binary(source[y][x] < SlowMean(source, x, y, radius));
          });
          for (int32_t level = 0; level <= static_cast<int32_t>(MachineSimdLevel()); ++level) {
            RowImage image = testing::Clone(source);
            ASSERT_EQ(BinarizeByDensity(size.w, size.h, image.rows(), density.rows(), high, low, r[0], r[1], r[2],
                                        static_cast<SimdLevel>(level)),
                      0);
            ASSERT_EQ(testing::Pixels(image), testing::Pixels(expected))
                << r[0] << " " << r[1] << " " << r[2] << " level " << level;
          }
        }
      }
    }
  }
}

TEST(Binarisation, APixelOnItsMeanIsNotARidge) {
  // A pixel exactly on its mean: 3 x 1 image 10, 20, 30 with radius 1: the
  // middle's mean is 20, so it is 255; the ends' means are 15 and 25.
  RowImage line = testing::MakeImage(3, 1, [](int32_t x, int32_t) { return static_cast<uint8_t>(10 + 10 * x); });
  ASSERT_EQ(BinarizeByLocalMean(3, 1, line.rows(), 1), 0);
  EXPECT_EQ(testing::Pixels(line), (std::vector<uint8_t>{0, 255, 255}));
}

}  // namespace
}  // namespace vorsensor
