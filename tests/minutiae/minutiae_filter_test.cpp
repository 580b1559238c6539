#include "engine/minutiae/minutiae_filter.h"

#include <gtest/gtest.h>

#include <vector>

#include "minutiae/skeleton_pictures.h"

namespace vorsensor {
namespace {

constexpr int32_t kSide = 100;

MinutiaeFilterParameters Defaults() { return {15, 5, 3, 6, 19, 10}; }

Minutia At(int32_t x, int32_t y, int32_t type, int32_t direction) {
  return Minutia{x, y, type, static_cast<uint8_t>(direction), 0, 0, 0};
}

std::vector<bool> Dropped(std::vector<Minutia> records, const MinutiaeFilterParameters& p = Defaults(),
                          const RowImage* map = nullptr) {
  RowImage foreground = testing::BlankImage(kSide, kSide, 0);
  const RowImage& m = map != nullptr ? *map : foreground;
  FilterMinutiae(kSide, kSide, m.rows(), records.data(), static_cast<int32_t>(records.size()), p);
  std::vector<bool> dropped;
  for (const Minutia& r : records) dropped.push_back(r.direction == kDroppedDirection);
  return dropped;
}

TEST(MinutiaeFilterTest, FacingPairs) {
  struct Case {
    const char* name;
    Minutia a, b;
    bool dropped;
  };
  const int32_t E = kMinutiaEnding, B = kMinutiaBifurcation;
  const Case cases[] = {
      {"adjacent endings, 5 from opposite", At(50, 50, E, 10), At(51, 50, E, 125), true},
      {"adjacent endings, 20 from opposite", At(50, 50, E, 10), At(51, 50, E, 150), false},
      {"18 from opposite", At(50, 50, E, 10), At(51, 51, E, 148), true},
      {"exactly 19 from opposite", At(50, 50, E, 10), At(51, 51, E, 149), false},
      {"19 the other way round", At(50, 50, E, 149), At(51, 51, E, 10), false},
      {"delta wraps below 0", At(50, 50, E, 200), At(51, 50, E, 80), true},
      {"endings 2 apart (distance 3)", At(50, 50, E, 0), At(52, 50, E, 120), false},
      {"ending and fork 2 apart", At(50, 50, E, 0), At(52, 50, B, 120), false},
      {"forks 5 apart (distance 5)", At(50, 50, B, 0), At(55, 50, B, 120), true},
      {"forks 4 and 3 apart (distance 5)", At(50, 50, B, 0), At(54, 53, B, 120), true},
      {"forks 6 apart (distance 7)", At(50, 50, B, 0), At(56, 50, B, 120), false},
      {"no direction", At(50, 50, E, 255), At(51, 50, E, 135), false},
  };
  for (const Case& c : cases) {
    // A record without a direction counts as marked from the start.
    const bool aMarked = c.a.direction == kDroppedDirection;
    EXPECT_EQ(Dropped({c.a, c.b}), (std::vector<bool>{c.dropped || aMarked, c.dropped})) << c.name;
  }
}

TEST(MinutiaeFilterTest, FacingPairSkipsRecordsMarkedEarlierInThePass) {
  // 0 and 1 face each other and go; 2 would have faced 1 but 1 is marked by then.
  const std::vector<bool> dropped =
      Dropped({At(50, 50, kMinutiaEnding, 0), At(51, 50, kMinutiaEnding, 120), At(52, 50, kMinutiaEnding, 0)});
  EXPECT_EQ(dropped, (std::vector<bool>{true, true, false}));
}

TEST(MinutiaeFilterTest, CrowdingCountsEveryOtherRecord) {
  // A centre with neighbours at true distance 12 (DistanceOf 13) in
  // different directions; at 14 (DistanceOf 15) they do not count.
  const int32_t offsets[][2] = {{12, 0}, {-12, 0}, {0, 12}, {0, -12}, {7, 9}, {-7, -9}, {14, 0}, {0, -14}};
  for (const int32_t near : {5, 6}) {
    std::vector<Minutia> records = {At(50, 50, kMinutiaEnding, 0)};
    for (int32_t k = 0; k < near; ++k) {
      records.push_back(At(50 + offsets[k][0], 50 + offsets[k][1], kMinutiaEnding, k == 0 ? 255 : 0));
    }
    records.push_back(At(50 + offsets[6][0], 50 + offsets[6][1], kMinutiaEnding, 0));
    records.push_back(At(50 + offsets[7][0], 50 + offsets[7][1], kMinutiaEnding, 0));
    const std::vector<bool> dropped = Dropped(records);
    EXPECT_EQ(dropped[0], near == 6) << near;  // more than 5 neighbours
  }
  // Distances are capped at 255 (the second record may lie outside the
  // image): with a radius of 256 records any distance apart are neighbours;
  // with 255, DistanceOf 255 is not, whether capped or rounded up to odd.
  struct Case {
    int32_t radius, dx, dy;
    bool neighbours;
  };
  const Case cases[] = {{256, 300, 0, true},  {256, 0, 300, true},  {256, 300, 300, true}, {255, 300, 0, false},
                        {255, 254, 0, false}, {255, 253, 0, true},  {255, 200, 150, true}, {300, 0, 0, true},
                        {2, 1, 1, true},      {2, 2, 0, false},     {3, 0, 3, false},      {3, 2, 2, false}};
  for (const Case& c : cases) {
    MinutiaeFilterParameters p = Defaults();
    p.crowdRadius = c.radius;
    p.crowdMaxNeighbours = 0;  // one neighbour drops a record
    p.borderWindow = 0;
    const std::vector<bool> dropped = Dropped({At(1, 1, kMinutiaEnding, 0), At(1 + c.dx, 1 + c.dy, kMinutiaEnding, 0)}, p);
    EXPECT_EQ(dropped[0], c.neighbours) << c.radius << ' ' << c.dx << ' ' << c.dy;
  }
}

TEST(MinutiaeFilterTest, BorderAndBackgroundWindow) {
  struct Case {
    int32_t x, y;
    bool dropped;
  };
  const Case cases[] = {{9, 50, true},  {10, 50, false}, {50, 9, true},  {50, 10, false},
                        {89, 50, false}, {90, 50, true},  {50, 89, false}, {50, 90, true}};
  for (const Case& c : cases) {
    EXPECT_EQ(Dropped({At(c.x, c.y, kMinutiaEnding, 0)})[0], c.dropped) << c.x << ',' << c.y;
  }
  RowImage map = testing::BlankImage(kSide, kSide, 0);
  map[60][50] = 128;  // exactly 10 below (50, 50)
  EXPECT_TRUE(Dropped({At(50, 50, kMinutiaEnding, 0)}, Defaults(), &map)[0]);
  EXPECT_FALSE(Dropped({At(50, 49, kMinutiaEnding, 0)}, Defaults(), &map)[0]);
  map[60][50] = 127;
  EXPECT_FALSE(Dropped({At(50, 50, kMinutiaEnding, 0)}, Defaults(), &map)[0]);
  // A background pixel in every column round the window, on its top row, for
  // window widths with and without a tail past runs of eight bytes.
  for (const int32_t radius : {10, 3, 4}) {
    MinutiaeFilterParameters p = Defaults();
    p.borderWindow = radius;
    for (int32_t dx = -radius - 1; dx <= radius + 1; ++dx) {
      RowImage m = testing::BlankImage(kSide, kSide, 0);
      m[50 - radius][50 + dx] = 0x80;
      EXPECT_EQ(Dropped({At(50, 50, kMinutiaEnding, 0)}, p, &m)[0], dx >= -radius && dx <= radius)
          << radius << ' ' << dx;
    }
  }
}

TEST(MinutiaeFilterTest, CompactKeepsOrder) {
  Minutia records[] = {At(1, 1, 1, 5), At(2, 2, 1, 255), At(3, 3, 2, 0), At(4, 4, 1, 255), At(5, 5, 2, 239)};
  ASSERT_EQ(CompactMinutiae(records, 5), 3);
  EXPECT_EQ(records[0].x, 1);
  EXPECT_EQ(records[1].x, 3);
  EXPECT_EQ(records[2].x, 5);
  EXPECT_EQ(CompactMinutiae(records, 0), 0);
}

}  // namespace
}  // namespace vorsensor
