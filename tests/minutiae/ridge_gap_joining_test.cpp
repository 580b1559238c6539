#include "engine/minutiae/ridge_gap_joining.h"

#include <gtest/gtest.h>

#include "minutiae/skeleton_pictures.h"

namespace vorsensor {
namespace {

using testing::Picture;

constexpr int32_t kW = 60, kH = 40;

struct JoinSettings {
  int32_t traceMax = 10;
  int32_t traceMin = 4;
  int32_t radius = 15;
  int32_t angleMin = 110;
};

// Two pieces of ridge on row 20, [a1, a2] and [b1, b2]; returns whether the
// gap between them was drawn after JoinGaps.
struct Pieces {
  int32_t a1, a2, b1, b2;
};

RowImage Foreground() { return testing::BlankImage(kW, kH, 0); }

RowImage TwoPieces(const Pieces& p) {
  RowImage image = testing::BlankImage(kW, kH);
  testing::HorizontalRidge(image, 20, p.a1, p.a2);
  testing::HorizontalRidge(image, 20, p.b1, p.b2);
  return image;
}

bool GapDrawn(const RowImage& image, const Pieces& p) {
  for (int32_t x = p.a2 + 1; x < p.b1; ++x) {
    if (image[20][x] != 0) return false;
  }
  return true;
}

TEST(RidgeGapJoiningTest, JoinsFacingEndingsOnlyWhenEveryTestPasses) {
  struct Case {
    const char* name;
    Pieces pieces;
    JoinSettings settings;
    bool joined;
  };
  const Case cases[] = {
      {"collinear", {5, 24, 29, 48}, {}, true},
      {"partner trace exactly joinTraceMin", {5, 24, 29, 33}, {}, true},
      {"partner trace one step short", {5, 24, 29, 32}, {}, false},
      {"own trace one step short", {21, 24, 29, 48}, {}, false},
      {"angle exactly joinAngleMin", {5, 24, 29, 48}, {10, 4, 15, 120}, true},
      {"angle one below joinAngleMin", {5, 24, 29, 48}, {10, 4, 15, 121}, false},
      {"partner exactly joinRadius away", {5, 24, 29, 48}, {10, 4, 5, 110}, true},
      {"partner beyond joinRadius", {5, 24, 29, 48}, {10, 4, 4, 110}, false},
  };
  for (const Case& c : cases) {
    RowImage image = TwoPieces(c.pieces);
    RowImage map = Foreground();
    const JoinSettings& s = c.settings;
    ASSERT_EQ(JoinGaps(kW, kH, image.rows(), map.rows(), s.traceMax, s.traceMin, s.radius, s.angleMin), 0);
    EXPECT_EQ(GapDrawn(image, c.pieces), c.joined) << c.name;
    // Nothing else changes: the pieces are whole and no other pixel is drawn.
    RowImage expected = TwoPieces(c.pieces);
    if (c.joined) testing::HorizontalRidge(expected, 20, c.pieces.a2 + 1, c.pieces.b1 - 1);
    EXPECT_EQ(testing::WholePicture(image), testing::WholePicture(expected)) << c.name;
  }
}

// A ridge across the gap blocks the line; parallel endings pointing the same
// way are no partners; a partner ending in the background is joined, but two
// background endings never start a search (127 is still foreground).
TEST(RidgeGapJoiningTest, BlockedSameWayAndBackgroundEndings) {
  const Pieces pieces{5, 24, 29, 48};
  RowImage blocked = TwoPieces(pieces);
  testing::VerticalRidge(blocked, 26, 1, kH - 2);
  RowImage parallel = testing::BlankImage(kW, kH);
  testing::HorizontalRidge(parallel, 20, 5, 30);
  testing::HorizontalRidge(parallel, 23, 5, 30);
  for (RowImage* image : {&blocked, &parallel}) {
    const Picture before = testing::WholePicture(*image);
    JoinGaps(kW, kH, image->rows(), Foreground().rows(), 10, 4, 15, 110);
    EXPECT_EQ(testing::WholePicture(*image), before);
  }
  struct Case {
    uint8_t left, right;
    bool joined;
  };
  for (const Case& c : {Case{128, 0, true}, Case{128, 128, false}, Case{128, 127, true}}) {
    RowImage image = TwoPieces(pieces);
    RowImage map = Foreground();
    map[20][24] = c.left;
    map[20][29] = c.right;
    JoinGaps(kW, kH, image.rows(), map.rows(), 10, 4, 15, 110);
    EXPECT_EQ(GapDrawn(image, pieces), c.joined) << int{c.left} << ' ' << int{c.right};
  }
}

TEST(RidgeGapJoiningTest, ObliqueGapIsDrawnAsADigitalLine) {
  // A ridge along direction 30 broken between (20, 20) and (24, 24).
  RowImage image = testing::BlankImage(kW, kH);
  for (int32_t i = 0; i < 12; ++i) {
    image[9 + i][9 + i] = 0;
    image[24 + i][24 + i] = 0;
  }
  RowImage map = Foreground();
  JoinGaps(kW, kH, image.rows(), map.rows(), 10, 4, 15, 110);
  for (int32_t k = 21; k <= 23; ++k) EXPECT_EQ(image[k][k], 0) << k;
  EXPECT_EQ(image[21][22], 255);
}

}  // namespace
}  // namespace vorsensor
