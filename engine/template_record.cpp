#include "engine/template_record.h"

#include <algorithm>
#include <limits>

#include "engine/block_map_code.h"
#include "engine/record_bytes.h"
#include "engine/result_codes.h"

namespace vorsensor {
namespace {

constexpr int32_t kMaxRecordMinutiae = kMaxMinutiae - 1;        // 16-bit count, reader limit
constexpr int32_t kMaxRecordSingularPoints = kMaxSingularPoints - 1;
constexpr int32_t kOriginBias = 2048;          // origin fields hold value + 2048
constexpr int32_t kOriginMin = -2048;
constexpr int32_t kOriginMax = 2047;
constexpr int64_t kMaxOffset = 2047;           // offsets live in 11-bit fields
constexpr uint32_t kOriginFieldMask = 0xFFF;
constexpr int kOriginFieldBits = 12;
constexpr uint32_t kOffsetMask = 0x7FF;
constexpr int kOffsetXShift = 21;
constexpr int kOffsetYShift = 10;
constexpr uint32_t kTypeMask = 3;
constexpr int kTypeShift = 8;
constexpr uint32_t kDirectionMask = 0xFF;
constexpr int32_t kInvalidMinutiaType = 3;
constexpr int kOriginBytes = 3;
constexpr int kCountBytes = 2;
constexpr int kPointWordBytes = 4;

struct Origin {
  int32_t x;
  int32_t y;
};

// Smallest x and y over all minutiae and singular points, clamped to the
// origin range; 0, 0 when there are none.
Origin FindOrigin(const FeatureSet& set) {
  int32_t minX = std::numeric_limits<int32_t>::max();
  int32_t minY = std::numeric_limits<int32_t>::max();
  for (int32_t i = 0; i < set.minutiaCount; ++i) {
    minX = std::min(minX, set.minutiae[i].x);
    minY = std::min(minY, set.minutiae[i].y);
  }
  for (int32_t i = 0; i < set.singularCount; ++i) {
    minX = std::min(minX, set.singular[i].x);
    minY = std::min(minY, set.singular[i].y);
  }
  if (set.minutiaCount == 0 && set.singularCount == 0) return {0, 0};
  return {std::clamp(minX, kOriginMin, kOriginMax), std::clamp(minY, kOriginMin, kOriginMax)};
}

bool IsKept(const Origin& origin, int32_t x, int32_t y) {
  const int64_t dx = static_cast<int64_t>(x) - origin.x;
  const int64_t dy = static_cast<int64_t>(y) - origin.y;
  return dx >= 0 && dx <= kMaxOffset && dy >= 0 && dy <= kMaxOffset;
}

uint32_t PointWord(const Origin& origin, int32_t x, int32_t y, int32_t type, uint8_t direction) {
  const uint32_t dx = static_cast<uint32_t>(x - origin.x) & kOffsetMask;
  const uint32_t dy = static_cast<uint32_t>(y - origin.y) & kOffsetMask;
  return dx << kOffsetXShift | dy << kOffsetYShift |
         (static_cast<uint32_t>(type) & kTypeMask) << kTypeShift | direction;
}

void WriteRecordBody(const FeatureSet& set, RecordWriter* out) {
  const Origin origin = FindOrigin(set);
  int32_t keptMinutiae = 0;
  int32_t keptSingular = 0;
  bool spreads = false;
  bool densities = false;
  for (int32_t i = 0; i < set.minutiaCount; ++i) {
    const Minutia& m = set.minutiae[i];
    if (!IsKept(origin, m.x, m.y)) continue;
    ++keptMinutiae;
    spreads = spreads || m.spread != kNoSpread;
    densities = densities || m.density != kNoDensity;
  }
  for (int32_t i = 0; i < set.singularCount; ++i) {
    if (IsKept(origin, set.singular[i].x, set.singular[i].y)) ++keptSingular;
  }
  const bool grid = set.gridWidth != 0 && set.gridHeight != 0;

  uint8_t flags = 0;
  if (spreads) flags |= kRecordHasSpreads;
  if (keptSingular > 0) flags |= kRecordHasSingularPoints;
  if (grid) flags |= kRecordHasGrid;
  if (densities) flags |= kRecordHasDensities;

  out->Put(flags);
  out->Put(set.densityByte);
  const uint32_t originField =
      (static_cast<uint32_t>(origin.x + kOriginBias) & kOriginFieldMask) << kOriginFieldBits |
      (static_cast<uint32_t>(origin.y + kOriginBias) & kOriginFieldMask);
  out->PutLittleEndian(originField, kOriginBytes);
  out->PutLittleEndian(static_cast<uint32_t>(keptMinutiae), kCountBytes);
  for (int32_t i = 0; i < set.minutiaCount; ++i) {
    const Minutia& m = set.minutiae[i];
    if (!IsKept(origin, m.x, m.y)) continue;
    out->PutLittleEndian(PointWord(origin, m.x, m.y, m.type, m.direction), kPointWordBytes);
    if (spreads) out->Put(m.spread);
  }
  if (keptSingular > 0) {
    out->Put(static_cast<uint8_t>(keptSingular));
    for (int32_t i = 0; i < set.singularCount; ++i) {
      const SingularPoint& p = set.singular[i];
      if (!IsKept(origin, p.x, p.y)) continue;
      out->PutLittleEndian(PointWord(origin, p.x, p.y, p.kind, p.direction), kPointWordBytes);
    }
  }
  if (grid) {
    out->Put(static_cast<uint8_t>(set.gridWidth - 1));
    out->Put(static_cast<uint8_t>(set.gridHeight - 1));
    EncodeBlockMap(set.grid, set.gridWidth, set.gridHeight, out);
  }
  if (densities) {
    for (int32_t i = 0; i < set.minutiaCount; ++i) {
      const Minutia& m = set.minutiae[i];
      if (IsKept(origin, m.x, m.y)) out->Put(m.density);
    }
  }
}

struct DecodedPoint {
  int32_t x;
  int32_t y;
  int32_t type;
  uint8_t direction;
};

DecodedPoint DecodePointWord(uint32_t word, const Origin& origin) {
  return {static_cast<int32_t>((word >> kOffsetXShift) & kOffsetMask) + origin.x,
          static_cast<int32_t>((word >> kOffsetYShift) & kOffsetMask) + origin.y,
          static_cast<int32_t>((word >> kTypeShift) & kTypeMask),
          static_cast<uint8_t>(word & kDirectionMask)};
}

}  // namespace

int32_t WriteTemplateRecord(const FeatureSet* set, uint8_t* out, size_t capacity) {
  if (set == nullptr || out == nullptr) return kMissingArgument;
  if (set->minutiaCount < 0 || set->minutiaCount > kMaxRecordMinutiae ||
      set->singularCount < 0 || set->singularCount > kMaxRecordSingularPoints ||
      set->gridWidth < 0 || set->gridWidth > kMaxGridSide ||
      set->gridHeight < 0 || set->gridHeight > kMaxGridSide) {
    return kOutOfRange;
  }
  RecordWriter measure(nullptr, 0);
  WriteRecordBody(*set, &measure);
  if (measure.length() > capacity) return kRecordOutputTooSmall;
  RecordWriter writer(out, capacity);
  WriteRecordBody(*set, &writer);
  return static_cast<int32_t>(writer.length());
}

int32_t ReadTemplateRecord(const uint8_t* record, size_t length, FeatureSet* set) {
  if (record == nullptr || set == nullptr) return kMissingArgument;
  set->minutiaCount = 0;
  set->singularCount = 0;
  set->gridWidth = 0;
  set->gridHeight = 0;
  RecordReader in(record, length);

  uint8_t flags = 0;
  if (!in.Get(&flags)) return kRecordTruncated;
  if (flags > kRecordMaxFlags) return kMalformedRecord;
  if (!in.Get(&set->densityByte)) return kRecordTruncated;
  uint32_t originField = 0;
  if (!in.GetLittleEndian(&originField, kOriginBytes)) return kRecordTruncated;
  const Origin origin{
      static_cast<int32_t>((originField >> kOriginFieldBits) & kOriginFieldMask) - kOriginBias,
      static_cast<int32_t>(originField & kOriginFieldMask) - kOriginBias};

  uint32_t count = 0;
  if (!in.GetLittleEndian(&count, kCountBytes)) return kRecordTruncated;
  if (count > static_cast<uint32_t>(kMaxRecordMinutiae)) return kMalformedRecord;
  const int32_t minutiae = static_cast<int32_t>(count);
  for (int32_t i = 0; i < minutiae; ++i) {
    uint32_t word = 0;
    if (!in.GetLittleEndian(&word, kPointWordBytes)) return kRecordTruncated;
    const DecodedPoint p = DecodePointWord(word, origin);
    if (p.type == kInvalidMinutiaType) return kMalformedRecord;
    Minutia& m = set->minutiae[i];
    m = Minutia{p.x, p.y, p.type, p.direction, kNoSpread, kNoDensity, 0};
    if ((flags & kRecordHasSpreads) != 0 && !in.Get(&m.spread)) return kRecordTruncated;
    set->minutiaCount = i + 1;
  }

  if ((flags & kRecordHasSingularPoints) != 0) {
    uint8_t singular = 0;
    if (!in.Get(&singular)) return kRecordTruncated;
    if (singular > kMaxRecordSingularPoints) return kMalformedRecord;
    for (int32_t i = 0; i < singular; ++i) {
      uint32_t word = 0;
      if (!in.GetLittleEndian(&word, kPointWordBytes)) return kRecordTruncated;
      const DecodedPoint p = DecodePointWord(word, origin);
      set->singular[i] = SingularPoint{p.x, p.y, p.type, p.direction, {0, 0, 0}};
      set->singularCount = i + 1;
    }
  }

  if ((flags & kRecordHasGrid) != 0) {
    uint8_t widthByte = 0;
    uint8_t heightByte = 0;
    if (!in.Get(&widthByte) || !in.Get(&heightByte)) return kRecordTruncated;
    const int32_t width = widthByte + 1;
    const int32_t height = heightByte + 1;
    if (width > kMaxGridSide || height > kMaxGridSide) return kRecordGridTooLarge;
    const int32_t result = DecodeBlockMap(&in, width, height, set->grid);
    if (result < 0) return result;
    set->gridWidth = width;
    set->gridHeight = height;
  }

  if ((flags & kRecordHasDensities) != 0) {
    for (int32_t i = 0; i < minutiae; ++i) {
      if (!in.Get(&set->minutiae[i].density)) return kRecordTruncated;
    }
  }
  return static_cast<int32_t>(in.position());
}

}  // namespace vorsensor
