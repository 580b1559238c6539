#include "engine/border_trimming.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "engine/result_codes.h"
#include "support/grey_images.h"

namespace vorsensor::testing {
namespace {

constexpr uint8_t kBright = 230;

// The trimming done the plain way: edge lists, a sorted window per edge pixel
// and every fill mean summed afresh from its rows.
void SlowTrim(RowImage& image, uint8_t bright, int64_t window, int64_t percentile, int64_t spread) {
  const int32_t w = image.width();
  const int32_t h = image.height();
  std::vector<int32_t> left, right;
  for (int32_t y = 0; y < h; ++y) {
    int32_t edge = -1, best = 0;
    for (int32_t x = 0; x < w - 1 && image[y][x] >= bright; ++x) {
      if (image[y][x] - image[y][x + 1] > best) best = image[y][x] - image[y][x + 1], edge = x;
    }
    if (edge < 0) break;
    left.push_back(edge);
  }
  for (int32_t y = 0; y < h; ++y) {
    int32_t edge = -1, best = 0;
    for (int32_t x = w - 1; x > 0 && image[y][x] >= bright; --x) {
      if (image[y][x] - image[y][x - 1] > best) best = image[y][x] - image[y][x - 1], edge = x;
    }
    if (edge < 0) break;
    right.push_back(edge);
  }
  auto edge_pixels = [&](const std::vector<int32_t>& edges, int32_t inward) {
    const int32_t n = static_cast<int32_t>(edges.size());
    for (int32_t y = 0; y < n; ++y) {
      std::vector<uint8_t> values;
      for (int64_t yy = std::max<int64_t>(y - window, 0); yy <= std::min<int64_t>(y + window, n - 1); ++yy) {
        values.push_back(image[static_cast<int32_t>(yy)][edges[yy] + inward]);
      }
      std::sort(values.begin(), values.end(), std::greater<uint8_t>());
      const int64_t rank = ((static_cast<int64_t>(values.size()) - 1) * std::min<int64_t>(percentile, 100) + 50) / 100;
      image[y][edges[y]] = values[rank];
    }
  };
  edge_pixels(left, 1);
  edge_pixels(right, -1);
  auto fill = [&](const std::vector<int32_t>& edges, int32_t outward) {
    const int32_t n = static_cast<int32_t>(edges.size());
    // Column of row y's pixel k steps out from its edge, or -1 outside the image.
    auto column = [&](int32_t y, int32_t k) {
      const int32_t x = edges[y] + outward * k;
      return x >= 0 && x < w ? x : -1;
    };
    for (int32_t k = 0;; ++k) {
      std::vector<std::pair<int32_t, uint8_t>> writes;  // all targets of a step from the step's sources
      for (int32_t y = 0; y < n; ++y) {
        const int32_t target = column(y, k + 1);
        if (target < 0) continue;
        int32_t sum = 0, count = 0;
        for (int64_t yy = std::max<int64_t>(y - spread, 0); yy <= std::min<int64_t>(y + spread, n - 1); ++yy) {
          const int32_t source = column(static_cast<int32_t>(yy), k);
          if (source >= 0) sum += image[static_cast<int32_t>(yy)][source], ++count;
        }
        writes.push_back({y, static_cast<uint8_t>(sum / count)});
      }
      if (writes.empty()) break;
      for (const auto& write : writes) image[write.first][column(write.first, k + 1)] = write.second;
    }
  };
  fill(left, -1);
  fill(right, 1);
}

// Rows with a bright strip of random width on each side, ridge-like texture in
// between; row `stripe_free_row` has no strips (dark ends) and row `flat_row`
// is bright and flat all along (no drop): either ends the edge lists there.
RowImage StripImage(int32_t w, int32_t h, TestRandom& random, int32_t stripe_free_row, int32_t flat_row) {
  std::vector<int32_t> left(h), right(h);
  for (int32_t y = 0; y < h; ++y) {
    left[y] = random.Range(0, w / 3);
    right[y] = w - 1 - random.Range(0, w / 3);
  }
  return MakeImage(w, h, [&](int32_t x, int32_t y) {
    if (y == flat_row) return static_cast<uint8_t>(250);
    if (y != stripe_free_row && (x <= left[y] || x >= right[y])) return static_cast<uint8_t>(random.Range(kBright, 255));
    return static_cast<uint8_t>(random.Range(0, 200));
  });
}

TEST(TrimBorders, MatchesPlainComputation) {
  TestRandom random(81);
  const int32_t sizes[][2] = {{1, 1}, {2, 5}, {7, 1}, {12, 30}, {40, 17}, {64, 64}};
  const uint32_t params[][3] = {{5, 30, 2}, {0, 0, 0}, {1, 100, 1}, {40, 70, 9}, {3, 250, 100}};
  int32_t changed = 0;
  for (const auto& size : sizes) {
    for (const auto& p : params) {
      const int32_t free_row = random.Range(0, size[1]), flat_row = random.Range(0, size[1]);  // h: none
      RowImage image = StripImage(size[0], size[1], random, free_row, flat_row);
      RowImage expected = MakeImage(size[0], size[1], [&](int32_t x, int32_t y) { return image[y][x]; });
      SlowTrim(expected, kBright, p[0], p[1], p[2]);
      const std::vector<uint8_t> before = Pixels(image);
      ASSERT_EQ(TrimBorders(size[0], size[1], image.rows(), kBright, p[0], p[1], p[2]), kOk);
      changed += Pixels(image) != before;
      EXPECT_EQ(Pixels(image), Pixels(expected)) << size[0] << "x" << size[1] << " W=" << p[0] << " P=" << p[1];
    }
  }
  EXPECT_GT(changed, 15);
}

}  // namespace
}  // namespace vorsensor::testing
