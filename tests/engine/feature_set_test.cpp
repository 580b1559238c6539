// Feature set copy: only the used parts move.
#include "engine/feature_set.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "support/random.h"

namespace vorsensor {
namespace {

constexpr uint8_t kUntouched = 0xAB;

std::unique_ptr<FeatureSet> FilledWith(uint8_t byte) {
  auto set = std::make_unique<FeatureSet>();
  std::memset(set.get(), byte, sizeof(FeatureSet));
  return set;
}

bool AllBytesAre(const void* data, size_t size, uint8_t value) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < size; ++i) {
    if (bytes[i] != value) return false;
  }
  return true;
}

TEST(CopyFeatureSet, CopiesTheUsedPartsAndLeavesTheRest) {
  testing::TestRandom random(21);
  const struct {
    int32_t minutiae, singular, gridWidth, gridHeight;
  } cases[] = {{0, 0, 0, 0}, {1, 1, 1, 1}, {37, 3, 16, 18}, {kMaxMinutiae, kMaxSingularPoints, 128, 128}};
  for (const auto& k : cases) {
    auto source = std::make_unique<FeatureSet>();
    auto* bytes = reinterpret_cast<uint8_t*>(source.get());
    for (size_t i = 0; i < sizeof(FeatureSet); ++i) bytes[i] = random.Byte();
    source->densityByte = 77;
    source->minutiaCount = k.minutiae;
    source->singularCount = k.singular;
    source->gridWidth = k.gridWidth;
    source->gridHeight = k.gridHeight;
    auto target = FilledWith(kUntouched);

    CopyFeatureSet(target.get(), source.get());
    EXPECT_TRUE(target->densityByte == 77 && target->minutiaCount == k.minutiae && target->singularCount == k.singular &&
                target->gridWidth == k.gridWidth && target->gridHeight == k.gridHeight);
    EXPECT_EQ(std::memcmp(target->minutiae, source->minutiae, k.minutiae * sizeof(Minutia)), 0);
    EXPECT_TRUE(AllBytesAre(target->minutiae + k.minutiae, (kMaxMinutiae - k.minutiae) * sizeof(Minutia), kUntouched));
    EXPECT_EQ(std::memcmp(target->singular, source->singular, k.singular * sizeof(SingularPoint)), 0);
    EXPECT_TRUE(AllBytesAre(target->singular + k.singular, (kMaxSingularPoints - k.singular) * sizeof(SingularPoint),
                            kUntouched));
    for (int32_t r = 0; r < kMaxGridSide; ++r) {
      const int32_t used = r < k.gridHeight ? k.gridWidth : 0;
      ASSERT_EQ(std::memcmp(target->grid[r], source->grid[r], used), 0) << r;
      ASSERT_TRUE(AllBytesAre(target->grid[r] + used, kMaxGridSide - used, kUntouched)) << r;
    }
  }
}

TEST(CopyFeatureSet, DamagedCountsNeverCopyPastTheLists) {
  auto source = FilledWith(1);
  auto target = FilledWith(kUntouched);
  source->minutiaCount = kMaxMinutiae + 5000;
  source->singularCount = -3;
  source->gridWidth = 4000;
  source->gridHeight = 129;
  CopyFeatureSet(target.get(), source.get());  // no overread or overwrite (checked by the sanitizer)
  EXPECT_EQ(target->minutiaCount, kMaxMinutiae + 5000);
  EXPECT_EQ(target->minutiae[kMaxMinutiae - 1].x, 0x01010101);
  EXPECT_EQ(target->singular[0].x, static_cast<int32_t>(0xABABABAB));
  EXPECT_EQ(target->grid[kMaxGridSide - 1][kMaxGridSide - 1], 1);

  CopyFeatureSet(target.get(), target.get());  // copying onto itself changes nothing
  CopyFeatureSet(nullptr, source.get());
  CopyFeatureSet(target.get(), nullptr);
  EXPECT_EQ(target->gridWidth, 4000);
}

}  // namespace
}  // namespace vorsensor
