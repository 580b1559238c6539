#include "engine/template_record.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <tuple>
#include <vector>

#include "engine/block_map_code.h"
#include "engine/result_codes.h"
#include "support/random.h"

namespace vorsensor {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::TestRandom;

std::unique_ptr<FeatureSet> EmptySet() { return std::make_unique<FeatureSet>(); }

void AddMinutia(FeatureSet* set, int32_t x, int32_t y, int32_t type, uint8_t direction,
                uint8_t spread = kNoSpread, uint8_t density = kNoDensity) {
  set->minutiae[set->minutiaCount++] = Minutia{x, y, type, direction, spread, density, 0};
}

void AddSingular(FeatureSet* set, int32_t x, int32_t y, int32_t kind, uint8_t direction) {
  set->singular[set->singularCount++] = SingularPoint{x, y, kind, direction, {0, 0, 0}};
}

void SetGrid(FeatureSet* set, int32_t width, int32_t height, uint8_t fill) {
  set->gridWidth = width;
  set->gridHeight = height;
  for (int32_t r = 0; r < kMaxGridSide; ++r) {
    for (int32_t c = 0; c < kMaxGridSide; ++c) set->grid[r][c] = fill;
  }
}

Bytes Write(const FeatureSet& set) {
  Bytes out(kMaxTemplateRecordSize);
  const int32_t length = WriteTemplateRecord(&set, out.data(), out.size());
  EXPECT_GE(length, 0);
  out.resize(length < 0 ? 0 : static_cast<size_t>(length));
  return out;
}

// Reads from a heap copy of exactly the record's bytes, so that AddressSanitizer
// catches any read past them.
int32_t Read(const Bytes& record, FeatureSet* set) {
  const std::unique_ptr<uint8_t[]> exact(new uint8_t[record.size()]);
  std::copy(record.begin(), record.end(), exact.get());
  return ReadTemplateRecord(exact.get(), record.size(), set);
}

Bytes BlockRun(uint8_t reference, const Bytes& values) {
  RecordWriter measure(nullptr, 0);
  EncodeBlockRun(reference, values.data(), static_cast<int32_t>(values.size()), &measure);
  Bytes out(measure.length());
  RecordWriter writer(out.data(), out.size());
  EncodeBlockRun(reference, values.data(), static_cast<int32_t>(values.size()), &writer);
  return out;
}

// The grid code of a record whose only content is its grid.
Bytes GridCode(const FeatureSet& set) {
  const Bytes record = Write(set);
  return Bytes(record.begin() + 9, record.end());
}

TEST(TemplateRecordTest, WorkedExamples) {
  auto set = EmptySet();
  EXPECT_EQ(Write(*set), (Bytes{0x00, 0x00, 0x00, 0x08, 0x80, 0x00, 0x00}));

  AddMinutia(set.get(), 100, 50, kMinutiaEnding, 200);
  set->densityByte = 0x5A;
  // origin ((100 + 2048) << 12) | (50 + 2048) = 0x864832, point word 0x000001C8
  EXPECT_EQ(Write(*set), (Bytes{0x00, 0x5A, 0x32, 0x48, 0x86, 0x01, 0x00, 0xC8, 0x01, 0x00, 0x00}));
}

TEST(TemplateRecordTest, PerMinutiaBytesAreAllOrNothing) {
  auto set = EmptySet();
  AddMinutia(set.get(), 10, 20, kMinutiaEnding, 5);
  AddMinutia(set.get(), 30, 40, kMinutiaBifurcation, 6, 17, kNoDensity);
  AddMinutia(set.get(), 50, 60, kMinutiaEnding, 7, kNoSpread, 99);
  const Bytes record = Write(*set);
  ASSERT_EQ(record.size(), 7u + 6u * 3u);
  EXPECT_EQ(record[0], kRecordHasSpreads | kRecordHasDensities);
  EXPECT_EQ(record[7 + 4], kNoSpread);
  EXPECT_EQ(record[7 + 9], 17);
  EXPECT_EQ(record[7 + 14], kNoSpread);
  EXPECT_EQ(Bytes(record.end() - 3, record.end()), (Bytes{kNoDensity, kNoDensity, 99}));
  // Point word of the bifurcation: dx 20, dy 20, type 2, direction 6.
  EXPECT_EQ(record[12] | record[13] << 8 | record[14] << 16 | record[15] << 24, (20 << 21) | (20 << 10) | 0x200 | 6);
}

TEST(TemplateRecordTest, OriginIsClampedAndFarPointsAreLeftOut) {
  auto set = EmptySet();
  AddMinutia(set.get(), -3000, 10, kMinutiaEnding, 1);   // below the origin range: origin -2048, dx < 0
  AddMinutia(set.get(), -2048 + 2047, 10, kMinutiaEnding, 2);  // dx 2047: kept
  AddMinutia(set.get(), -2048 + 2048, 10, kMinutiaEnding, 3);  // dx 2048 would wrap to 0: left out
  AddSingular(set.get(), -2000, 10 + 2048, 1, 4);              // dy 2048: left out
  AddSingular(set.get(), -2000, 10, 3, 9);
  auto read = EmptySet();
  const Bytes record = Write(*set);
  ASSERT_EQ(Read(record, read.get()), static_cast<int32_t>(record.size()));
  ASSERT_EQ(read->minutiaCount, 1);
  EXPECT_EQ(read->minutiae[0].x, -1);
  EXPECT_EQ(read->minutiae[0].direction, 2);
  ASSERT_EQ(read->singularCount, 1);
  EXPECT_EQ(read->singular[0].x, -2000);
  EXPECT_EQ(read->singular[0].kind, 3);

  auto far = EmptySet();
  AddMinutia(far.get(), 5000, 5000, kMinutiaEnding, 1);  // origin clamped to 2047: dx 2953, left out
  EXPECT_EQ(Write(*far), (Bytes{0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x00}));
}

TEST(TemplateRecordTest, WriterRefusesBadInputAndWritesNothing) {
  auto set = EmptySet();
  Bytes out(64, 0xAA);
  EXPECT_EQ(WriteTemplateRecord(nullptr, out.data(), out.size()), kMissingArgument);
  EXPECT_EQ(WriteTemplateRecord(set.get(), nullptr, 64), kMissingArgument);

  const auto refused = [&](void (*damage)(FeatureSet*)) {
    auto bad = EmptySet();
    damage(bad.get());
    return WriteTemplateRecord(bad.get(), out.data(), out.size());
  };
  EXPECT_EQ(refused([](FeatureSet* s) { s->minutiaCount = 1024; }), kOutOfRange);
  EXPECT_EQ(refused([](FeatureSet* s) { s->minutiaCount = -1; }), kOutOfRange);
  EXPECT_EQ(refused([](FeatureSet* s) { s->singularCount = 64; }), kOutOfRange);
  EXPECT_EQ(refused([](FeatureSet* s) { s->gridWidth = 129; }), kOutOfRange);
  EXPECT_EQ(refused([](FeatureSet* s) { s->gridHeight = -1; }), kOutOfRange);

  for (int i = 0; i < 5; ++i) AddMinutia(set.get(), i, i, kMinutiaEnding, 0);
  EXPECT_EQ(WriteTemplateRecord(set.get(), out.data(), 26), kRecordOutputTooSmall);
  EXPECT_EQ(out, Bytes(64, 0xAA));
  EXPECT_EQ(WriteTemplateRecord(set.get(), out.data(), 27), 27);
}

TEST(TemplateRecordTest, BlockRunCodes) {
  // Repeats count at most 32 cells.
  Bytes same(40, 50);
  EXPECT_EQ(BlockRun(50, same), (Bytes{0x80 + 31, 0x80 + 7}));
  // Differences within -8..7 go in pairs, across the 0/119 wrap.
  EXPECT_EQ(BlockRun(118, {119, 0, 1, 1, 9}), (Bytes{0xA1, 0x99, 0x98, 9}));
  EXPECT_EQ(BlockRun(20, {12, 4, 116, 108}), (Bytes{0xA1, 0x00, 0x00}));  // -8, the smallest
  EXPECT_EQ(BlockRun(20, {27, 34, 41, 48}), (Bytes{0xA1, 0xFF, 0xFF}));   // +7, the largest
  EXPECT_EQ(BlockRun(20, {11, 2, 10, 1}), (Bytes{11, 2, 10, 1}));          // -9 and +8 are literals
  // A single pair is not worth a code; an odd difference left over is a literal.
  EXPECT_EQ(BlockRun(10, {12, 14, 16, 18, 20}), (Bytes{0xA1, 0xAA, 0xAA, 20}));
  EXPECT_EQ(BlockRun(10, {30, 31}), (Bytes{30, 31}));
  // From a reference that is not an orientation everything starts literal.
  EXPECT_EQ(BlockRun(kBlockMapOtherValue, {5, 5, 5}), (Bytes{5, 0x81}));
}

TEST(TemplateRecordTest, GridCodes) {
  auto set = EmptySet();
  SetGrid(set.get(), 6, 1, kBackgroundBlock);
  const uint8_t row[6] = {3, 3, 3, 3, 4, 6};
  std::copy(row, row + 6, set->grid[0]);
  EXPECT_EQ(GridCode(*set), (Bytes{3, 0x82, 4, 6}));

  // Background runs, single background and other cells, then the rest of the row.
  SetGrid(set.get(), 10, 2, kBackgroundBlock);
  const uint8_t mixed[10] = {255, 255, 255, 7, 255, 7, 200, 200, 255, 255};
  std::copy(mixed, mixed + 10, set->grid[0]);
  set->grid[1][0] = 1;
  EXPECT_EQ(GridCode(*set), (Bytes{0xC2, 7, 126, 7, 127, 127, 0xC0, 1, 0xE0}));

  // Only the last row has content: 0xE0 + (height - 2), up to 31 rows skipped at once.
  for (int32_t height : {2, 3, 33, 34, 40}) {
    SetGrid(set.get(), 4, height, kBackgroundBlock);
    set->grid[height - 1][2] = 60;
    Bytes expected;
    if (height == 2) {
      expected = {0xC0};
    } else if (height - 2 <= 31) {
      expected = {static_cast<uint8_t>(0xE0 + height - 2)};
    } else {
      expected = {0xE0 + 31, static_cast<uint8_t>(height - 34 == 0 ? 0xC0 : 0xE0 + height - 34)};
    }
    expected.insert(expected.end(), {0xC1, 60, 0xE0});
    EXPECT_EQ(GridCode(*set), expected) << "height " << height;
  }

  // The largest grid the feature set holds is written and read back.
  SetGrid(set.get(), 128, 128, 42);
  const Bytes record = Write(*set);
  EXPECT_EQ(record[7], 127);
  EXPECT_EQ(record[8], 127);
  auto read = EmptySet();
  ASSERT_EQ(Read(record, read.get()), static_cast<int32_t>(record.size()));
  EXPECT_EQ(read->gridWidth, 128);
  EXPECT_EQ(read->grid[127][127], 42);
}

// A random set whose points all fit the record, with a grid that mixes
// background runs, smooth orientation runs, jumps and other values.
std::unique_ptr<FeatureSet> RandomSet(TestRandom& random) {
  auto set = EmptySet();
  set->densityByte = random.Byte();
  const int32_t originX = random.Range(-2048, 2047);
  const int32_t originY = random.Range(-2048, 2047);
  const bool spreads = random.Range(0, 1) == 1;
  const bool densities = random.Range(0, 1) == 1;
  const int32_t minutiae = random.Range(0, 3) == 0 ? random.Range(0, 1023) : random.Range(0, 80);
  for (int32_t i = 0; i < minutiae; ++i) {
    AddMinutia(set.get(), originX + random.Range(0, 2047), originY + random.Range(0, 2047),
               random.Range(0, 2), random.Byte(), spreads ? random.Byte() : kNoSpread,
               densities ? random.Byte() : kNoDensity);
  }
  const int32_t singular = random.Range(0, 2) == 0 ? 0 : random.Range(1, 63);
  for (int32_t i = 0; i < singular; ++i) {
    AddSingular(set.get(), originX + random.Range(0, 2047), originY + random.Range(0, 2047),
                random.Range(0, 3), random.Byte());
  }
  if (random.Range(0, 3) != 0) {
    SetGrid(set.get(), random.Range(1, 128), random.Range(1, 128), kBackgroundBlock);
    for (int32_t r = 0; r < set->gridHeight; ++r) {
      if (random.Range(0, 4) == 0) continue;  // empty rows, sometimes many in a row
      int32_t value = random.Range(0, 119);
      for (int32_t c = 0; c < set->gridWidth; ++c) {
        const int32_t pick = random.Range(0, 19);
        if (pick < 3) {
          set->grid[r][c] = kBackgroundBlock;
        } else if (pick == 3) {
          set->grid[r][c] = kBlockMapOtherValue;  // the one "other" value a record keeps
        } else {
          value = pick == 4 ? random.Range(0, 119) : (value + random.Range(-9, 9) + 120) % 120;
          set->grid[r][c] = static_cast<uint8_t>(value);
        }
      }
    }
  }
  return set;
}

void ExpectSameSet(const FeatureSet& a, const FeatureSet& b) {
  ASSERT_EQ(a.densityByte, b.densityByte);
  ASSERT_EQ(a.minutiaCount, b.minutiaCount);
  for (int32_t i = 0; i < a.minutiaCount; ++i) {
    const Minutia& p = a.minutiae[i];
    const Minutia& q = b.minutiae[i];
    ASSERT_EQ(std::make_tuple(p.x, p.y, p.type, p.direction, p.spread, p.density),
              std::make_tuple(q.x, q.y, q.type, q.direction, q.spread, q.density)) << "minutia " << i;
  }
  ASSERT_EQ(a.singularCount, b.singularCount);
  for (int32_t i = 0; i < a.singularCount; ++i) {
    const SingularPoint& p = a.singular[i];
    const SingularPoint& q = b.singular[i];
    ASSERT_EQ(std::make_tuple(p.x, p.y, p.kind, p.direction), std::make_tuple(q.x, q.y, q.kind, q.direction));
  }
  ASSERT_EQ(a.gridWidth, b.gridWidth);
  ASSERT_EQ(a.gridHeight, b.gridHeight);
  for (int32_t r = 0; r < a.gridHeight; ++r) {
    for (int32_t c = 0; c < a.gridWidth; ++c) ASSERT_EQ(a.grid[r][c], b.grid[r][c]) << r << "," << c;
  }
}

TEST(TemplateRecordTest, RandomSetsRoundTrip) {
  TestRandom random(0x7e3a);
  auto read = EmptySet();
  for (int trial = 0; trial < 300; ++trial) {
    const auto set = RandomSet(random);
    const Bytes record = Write(*set);
    ASSERT_EQ(Read(record, read.get()), static_cast<int32_t>(record.size())) << "trial " << trial;
    ExpectSameSet(*set, *read);
    ASSERT_EQ(Write(*read), record) << "trial " << trial;
  }
}

// A record with every part: two minutiae with spreads and densities, one
// singular point and a 6 x 3 grid.
Bytes FullRecord() {
  auto set = EmptySet();
  AddMinutia(set.get(), 20, 35, kMinutiaEnding, 17, 9, 77);
  AddMinutia(set.get(), 60, 30, kMinutiaBifurcation, 230, kNoSpread, kNoDensity);
  AddSingular(set.get(), 30, 40, 3, 100);
  SetGrid(set.get(), 6, 3, kBackgroundBlock);
  const uint8_t row[6] = {3, 3, 3, 3, 4, 6};
  std::copy(row, row + 6, set->grid[0]);
  set->grid[2][1] = 90;
  return Write(*set);
}

TEST(TemplateRecordTest, ReaderRejectsMalformedRecords) {
  const Bytes full = FullRecord();
  auto set = EmptySet();
  EXPECT_EQ(ReadTemplateRecord(nullptr, 10, set.get()), kMissingArgument);
  EXPECT_EQ(ReadTemplateRecord(full.data(), full.size(), nullptr), kMissingArgument);

  const auto readPatched = [&](Bytes record, size_t at, uint8_t value) {
    record[at] = value;
    return Read(record, set.get());
  };
  const Bytes empty{0x00, 0x00, 0x00, 0x08, 0x80, 0x00, 0x00};
  EXPECT_EQ(readPatched(empty, 0, 32), kMalformedRecord);
  EXPECT_EQ(readPatched(empty, 0, 16), 7);  // the unused flag bit is allowed
  EXPECT_EQ(readPatched(empty, 5, 1), kRecordTruncated);  // one minutia, no point word
  Bytes many = empty;
  many[5] = 0x00;
  many[6] = 0x04;  // 1024 minutiae
  many.resize(7 + 4 * 1024);
  EXPECT_EQ(Read(many, set.get()), kMalformedRecord);
  many[5] = 0xFF;
  many[6] = 0x03;  // 1023
  many.resize(7 + 4 * 1023);
  EXPECT_EQ(Read(many, set.get()), static_cast<int32_t>(many.size()));

  // FullRecord: 7 minutia 0 and its spread, 12 minutia 1 and its spread, 17
  // singular count, 18 its word, 22 grid width - 1, 23 height - 1, 24 grid code
  // 03 82 04 06 | C0 | 7E 5A E0, 32 the two density values.
  ASSERT_EQ(full.size(), 34u);
  ASSERT_EQ(full[0], 0x0F);
  ASSERT_EQ(full[28], 0xC0);
  EXPECT_EQ(readPatched(full, 0, 0x1F), static_cast<int32_t>(full.size()));  // flags 31: the largest
  EXPECT_EQ(readPatched(full, 8, 0x03), kMalformedRecord);           // minutia type 3
  EXPECT_EQ(readPatched(full, 17, 64), kMalformedRecord);            // 64 singular points
  EXPECT_EQ(readPatched(full, 22, 127), static_cast<int32_t>(full.size()));  // 128 wide is fine
  EXPECT_EQ(set->gridWidth, 128);
  EXPECT_EQ(readPatched(full, 22, 128), kRecordGridTooLarge);
  EXPECT_EQ(readPatched(full, 23, 200), kRecordGridTooLarge);
  EXPECT_EQ(readPatched(full, 25, 0x80 + 5), kMalformedRecord);      // repeat past the row end
  EXPECT_EQ(readPatched(full, 25, 0xA0 + 2), kMalformedRecord);      // pairs past the row end
  EXPECT_EQ(readPatched(full, 25, 0xC0 + 5), kMalformedRecord);      // background past the row end
  EXPECT_EQ(readPatched(full, 28, 0xE0 + 2), kMalformedRecord);      // rows past the grid end

  // Every proper prefix is truncated; extra bytes after the record are not read.
  for (size_t length = 0; length < full.size(); ++length) {
    EXPECT_EQ(Read(Bytes(full.begin(), full.begin() + length), set.get()), kRecordTruncated) << length;
    EXPECT_LE(set->minutiaCount, 2);
  }
  Bytes padded = full;
  padded.resize(500, 0xEE);
  EXPECT_EQ(Read(padded, set.get()), static_cast<int32_t>(full.size()));
}

TEST(TemplateRecordTest, ReaderFollowsTheReference) {
  // A repeat right after the row start gives background; after "other" it
  // repeats the other value; differences wrap from 126 into 0..119.
  const Bytes record{0x04, 0x00, 0x00, 0x08, 0x80, 0x00, 0x00, 5, 1,
                     0x81, 127, 0x81, 0xC0, 0xA0, 0x88, 13, 0xC0};
  auto set = EmptySet();
  ASSERT_EQ(Read(record, set.get()), static_cast<int32_t>(record.size()));
  EXPECT_EQ(Bytes(set->grid[0], set->grid[0] + 6), (Bytes{255, 255, 127, 127, 127, 255}));
  EXPECT_EQ(Bytes(set->grid[1], set->grid[1] + 6), (Bytes{6, 6, 13, 255, 255, 255}));
  EXPECT_EQ(set->grid[1][6], kBackgroundBlock);  // outside the grid
}

}  // namespace
}  // namespace vorsensor
