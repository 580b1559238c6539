#include "engine/ridge/edge_density.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <string>

#include "engine/row_image.h"
#include "ridge_references.h"
#include "support/grey_images.h"
#include "support/random.h"

namespace vorsensor {
namespace {

struct Marks {
  bool foreground;
  bool edge;
};
Marks MarksAt(const RowImage& binary, const RowImage& map, int32_t x, int32_t y) {
  const int32_t w = binary.width(), h = binary.height();
  if (x < 1 || y < 1 || x > w - 2 || y > h - 2 || map[y][x] >= 128) return {false, false};
  int32_t s = 0;
  for (int32_t dy = -1; dy <= 1; ++dy) {
    for (int32_t dx = -1; dx <= 1; ++dx) s += binary[y + dy][x + dx];
  }
  return {true, s >= 9 && s <= 2286};
}

TEST(EdgeDensity, DirectionFactorsFollowTheCosine) {
  for (int32_t o = 0; o < 120; ++o) {
    const double exact = 89 + 11 * std::cos(6 * o * 3.14159265358979 / 180);
    EXPECT_EQ(DirectionFactor(static_cast<uint8_t>(o)), static_cast<int32_t>(std::floor(exact + 0.5 + 1e-9))) << o;  // halves (o = 10, 20, ...) go up
  }
}

// The streaming counts against direct counts over each clipped window, on
// random binary (and some grey) images with random maps, many sizes and
// radii, at every vector level the machine runs.
TEST(EdgeDensity, MatchesDirectCounts) {
  testing::TestRandom random(31);
  const int32_t sizes[][2] = {{1, 1}, {3, 3}, {2, 9}, {9, 4}, {17, 13}, {40, 37}, {64, 20}, {83, 9}};
  for (const auto& size : sizes) {
    const int32_t w = size[0], h = size[1];
    for (uint32_t r : {0u, 1u, 2u, 6u, 16u, 200u}) {
      SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h) + " radius " + std::to_string(r));
      const int32_t share = random.Range(1, 8);
      // share 8: tiles of 4 x 4 pixels of 0, 1, 254 or 255, whose inner
      // squares sum to 0, 9 and 2286 (both edge limits) or 2295.
      uint8_t tiles[16][16];
      for (auto& line : tiles) {
        for (uint8_t& tile : line) tile = static_cast<uint8_t>(std::array<int, 4>{0, 1, 254, 255}[random.Range(0, 3)]);
      }
      const RowImage binary = testing::MakeImage(w, h, [&](int32_t x, int32_t y) {
        if (share == 8) return tiles[y / 4 % 16][x / 4 % 16];
        const int32_t pick = random.Range(0, 15);
        return pick == 15 ? random.Byte() : static_cast<uint8_t>(pick < share ? 0 : 255);
      });
      const RowImage map = testing::MakeImage(w, h, [&](int32_t, int32_t) { return random.Byte(); });
      const RowImage expected = testing::MakeImage(w, h, [&](int32_t x, int32_t y) {
        int64_t f = 0, e = 0;
        testing::ClippedWindowSum(w, h, x, y, r, [&](int32_t xx, int32_t yy) {
          const Marks m = MarksAt(binary, map, xx, yy);
          f += m.foreground ? 1 : 0;
          e += m.edge ? 1 : 0;
          return 0;
        });
        const int32_t o = map[y][x] & 0x7F;
        const int64_t factor = o < 120 ? DirectionFactor(static_cast<uint8_t>(o)) : 100;
        return static_cast<uint8_t>(f == 0 ? 0 : e * 255 / f * factor / 100);
      });
      for (int32_t level = 0; level <= static_cast<int32_t>(MachineSimdLevel()); ++level) {
        RowImage image = testing::Clone(binary);
        ASSERT_EQ(EdgeDensity(w, h, image.rows(), map.rows(), r, static_cast<SimdLevel>(level)), 0);
        ASSERT_EQ(testing::Pixels(image), testing::Pixels(expected)) << "level " << level;
      }

      int64_t f = 0, e = 0;
      for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
          const Marks m = MarksAt(binary, map, x, y);
          f += m.foreground ? 1 : 0;
          e += m.edge ? 1 : 0;
        }
      }
      for (int32_t level = 0; level <= static_cast<int32_t>(MachineSimdLevel()); ++level) {
        EXPECT_EQ(RidgeDensity(w, h, binary.rows(), map.rows(), static_cast<SimdLevel>(level)), f == 0 ? 0 : e * 255 / f);
      }
    }
  }
}

}  // namespace
}  // namespace vorsensor
