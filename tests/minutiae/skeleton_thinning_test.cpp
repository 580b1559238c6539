#include "engine/minutiae/skeleton_thinning.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "engine/minutiae/tracing_primitives.h"
#include "minutiae/skeleton_pictures.h"
#include "support/random.h"

namespace vorsensor {
namespace {

using testing::Picture;

const std::set<int> kDeletableCodes = {7,   14,  15,  28,  30,  31,  56,  60,  62,  63,  67,  88,
                                       97,  99,  112, 120, 124, 126, 131, 135, 143, 159, 191, 193,
                                       195, 208, 216, 224, 225, 227, 240, 248, 252, 254};

TEST(SkeletonThinningTest, DeletionTableHoldsExactlyTheDeletableCodes) {
  for (int code = 0; code < 256; ++code) {
    EXPECT_EQ(kDeletionTable[code], kDeletableCodes.count(code) != 0 ? 1 : 0) << code;
  }
}

// Thinning written plainly: a whole copy of the image per sub-pass, the
// neighbours listed by offset, and the row flags kept per sub-pass.
void ReferenceThin(RowImage& image, int32_t maxIterations) {
  const int32_t w = image.width(), h = image.height();
  // Offsets (dx, dy) of bits 0..7: N, NE, E, SE, S, SW, W, NW, then from S.
  const int kOrder[2][8][2] = {{{0, -1}, {1, -1}, {1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}},
                               {{0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}, {1, 0}, {1, 1}}};
  std::vector<std::vector<bool>> settled(2, std::vector<bool>(static_cast<size_t>(h), false));
  for (int32_t it = 0; it < maxIterations; ++it) {
    int removed = 0;
    for (int pass = 0; pass < 2; ++pass) {
      std::vector<std::vector<uint8_t>> before(static_cast<size_t>(h));
      for (int32_t y = 0; y < h; ++y) before[y].assign(image[y], image[y] + w);
      for (int32_t y = 1; y < h - 1; ++y) {
        if (settled[pass][y]) continue;
        settled[pass][y] = true;
        for (int32_t x = 1; x < w - 1; ++x) {
          if (before[y][x] != 0) continue;
          int code = 0;
          for (int k = 0; k < 8; ++k) {
            if (before[y + kOrder[pass][k][1]][x + kOrder[pass][k][0]] == 0) code |= 1 << k;
          }
          if (kDeletableCodes.count(code) != 0) {
            image[y][x] = 255;
            settled[pass][y] = false;
            ++removed;
          }
        }
      }
    }
    if (removed == 0) break;
  }
}

// Thin at every level that runs, ThinPlain and the reference above agree.
// Widths up to 200 give the word kernels up to four word columns with tails
// of every length, heights up to 40 up to five blocks of rows with partial
// last blocks; sparse noise, thick blobs and unframed borders.
TEST(SkeletonThinningTest, MatchesPlainReferenceOnRandomShapes) {
  testing::TestRandom random(61);
  const SimdLevel levels[] = {SimdLevel::kPlain, SimdLevel::kSse2, SimdLevel::kAvx512};
  for (int trial = 0; trial < 160; ++trial) {
    const int32_t w = trial % 2 == 0 ? random.Range(3, 70) : random.Range(3, 200);
    const int32_t h = random.Range(3, 40);
    const int32_t percent = trial % 4 == 3 ? random.Range(2, 10) : random.Range(30, 85);
    const bool framed = trial % 3 != 0;
    RowImage image = testing::BlankImage(w, h);
    for (int32_t y = 0; y < h; ++y) {
      for (int32_t x = 0; x < w; ++x) {
        const bool border = x == 0 || y == 0 || x == w - 1 || y == h - 1;
        if ((!border || !framed) && random.Range(0, 99) < percent) image[y][x] = 0;
      }
    }
    // Thick blobs as well as noise: smear some rows downwards.
    if (trial % 2 == 0) {
      for (int32_t y = h - 2; y >= 1; --y) {
        for (int32_t x = 1; x < w - 1; ++x) image[y][x] = std::min(image[y][x], image[y - 1][x]);
      }
    }
    // Values other than 0 and 255 are neither ridge nor removed.
    if (trial % 5 == 4) image[random.Range(0, h - 1)][random.Range(0, w - 1)] = 128;
    RowImage expected = testing::BlankImage(w, h);
    CopyRowImage(expected.rows(), image.rows(), w, h);
    const int32_t iterations = random.Range(0, 8);
    ReferenceThin(expected, iterations);
    RowImage plain = testing::BlankImage(w, h);
    CopyRowImage(plain.rows(), image.rows(), w, h);
    ASSERT_EQ(ThinPlain(w, h, plain.rows(), iterations), 0);
    ASSERT_EQ(testing::WholePicture(plain), testing::WholePicture(expected)) << "trial " << trial;
    for (const SimdLevel level : levels) {
      if (!SimdLevelRuns(level)) continue;
      RowImage thinned = testing::BlankImage(w, h);
      CopyRowImage(thinned.rows(), image.rows(), w, h);
      ASSERT_EQ(Thin(w, h, thinned.rows(), iterations, level), 0);
      ASSERT_EQ(testing::WholePicture(thinned), testing::WholePicture(expected))
          << "trial " << trial << " level " << static_cast<int>(level);
    }
  }
}

// Images with no inside pixels are accepted and left as they are.
TEST(SkeletonThinningTest, TinyImagesAreAccepted) {
  RowImage tiny = testing::BlankImage(2, 2, 0);
  EXPECT_EQ(Thin(2, 2, tiny.rows(), 6), 0);
  EXPECT_EQ(testing::WholePicture(tiny), testing::WholePicture(testing::BlankImage(2, 2, 0)));
  EXPECT_EQ(Thin(0, 0, nullptr, 6), 0);
}

}  // namespace
}  // namespace vorsensor
