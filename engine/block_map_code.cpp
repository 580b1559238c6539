#include "engine/block_map_code.h"

#include <algorithm>
#include <cstring>

#include "engine/result_codes.h"

namespace vorsensor {
namespace {

constexpr int32_t kHalfTurnOfOrientation = 60;  // differences wrap into -60..59
constexpr int32_t kNibbleBias = 8;              // a nibble holds difference + 8
constexpr int32_t kMinDelta = -8;
constexpr int32_t kMaxDelta = 7;

int32_t WrapDifference(int32_t d) {
  if (d >= kHalfTurnOfOrientation) return d - kOrientationLimit;
  if (d < -kHalfTurnOfOrientation) return d + kOrientationLimit;
  return d;
}

// The reference plus a difference, wrapped into 0..119.
uint8_t AddDelta(int32_t reference, int32_t delta) {
  int32_t v = reference + delta;
  if (v < 0) v += kOrientationLimit;
  if (v >= kOrientationLimit) v -= kOrientationLimit;
  return static_cast<uint8_t>(v);
}

// Cell value a repeat code copies from the reference.
uint8_t ReferenceCell(uint8_t reference) {
  return reference == kBlockMapRowStart ? kBackgroundBlock : reference;
}

// Column of the last cell that is not background, -1 when there is none.
int32_t LastForegroundCell(const uint8_t* row, int32_t width) {
  int32_t c = width - 1;
  while (c >= 0 && row[c] == kBackgroundBlock) --c;
  return c;
}

}  // namespace

uint8_t EncodeBlockRun(uint8_t reference, const uint8_t* values, int32_t count, RecordWriter* out) {
  int32_t i = 0;
  while (i < count) {
    if (reference < kOrientationLimit) {
      int32_t same = 0;
      while (i + same < count && same < kBlockMapMaxRepeat && values[i + same] == reference) ++same;
      if (same >= 2) {
        out->Put(static_cast<uint8_t>(kBlockMapRepeat + same - 1));
        i += same;
        continue;
      }
      // Differences that fit a nibble; more than two codes' worth never matter.
      int32_t accepted = 0;
      int32_t previous = reference;
      while (i + accepted < count && accepted < 2 * kBlockMapMaxPairs) {
        const int32_t d = WrapDifference(values[i + accepted] - previous);
        if (d < kMinDelta || d > kMaxDelta) break;
        previous = values[i + accepted];
        ++accepted;
      }
      const int32_t pairs = std::min(accepted / 2, kBlockMapMaxPairs);
      if (pairs >= 2) {
        out->Put(static_cast<uint8_t>(kBlockMapDeltaPairs + pairs - 1));
        previous = reference;
        for (int32_t p = 0; p < pairs; ++p) {
          const int32_t first = WrapDifference(values[i] - previous);
          const int32_t second = WrapDifference(values[i + 1] - values[i]);
          out->Put(static_cast<uint8_t>(((first + kNibbleBias) << 4) | (second + kNibbleBias)));
          previous = values[i + 1];
          i += 2;
        }
        reference = values[i - 1];
        continue;
      }
    }
    out->Put(values[i]);
    reference = values[i];
    ++i;
  }
  return reference;
}

void EncodeBlockMap(const GridRows* grid, int32_t width, int32_t height, RecordWriter* out) {
  for (int32_t r = 0; r < height; ++r) {
    const uint8_t* row = grid[r];
    uint8_t reference = kBlockMapRowStart;
    const int32_t last = LastForegroundCell(row, width);
    int32_t c = 0;
    while (c < width) {
      if (c > last) {
        int32_t next = r + 1;
        while (next < height && LastForegroundCell(grid[next], width) < 0) ++next;
        if (next >= height) {
          out->Put(kBlockMapSkipRows);
          return;
        }
        if (next == r + 1) {
          out->Put(kBlockMapBackground);
        } else {
          const int32_t skip = std::min(next - r - 1, kBlockMapMaxSkip);
          out->Put(static_cast<uint8_t>(kBlockMapSkipRows + skip));
          r += skip;
        }
        break;
      }
      int32_t run = 0;
      while (c + run < width && row[c + run] == kBackgroundBlock) ++run;
      if (run >= 2) {
        const int32_t k = std::min(run - 1, kBlockMapMaxRepeat - 1);
        out->Put(static_cast<uint8_t>(kBlockMapBackground + k));
        c += k + 1;
        reference = kBlockMapRowStart;
        continue;
      }
      run = 0;
      while (c + run < width && row[c + run] < kOrientationLimit) ++run;
      if (run > 0) {
        reference = EncodeBlockRun(reference, row + c, run, out);
        c += run;
      } else {
        reference = row[c] == kBackgroundBlock ? kBlockMapRowStart : kBlockMapOtherValue;
        out->Put(reference);
        ++c;
      }
    }
  }
}

int32_t DecodeBlockMap(RecordReader* in, int32_t width, int32_t height, GridRows* grid) {
  std::memset(grid, kBackgroundBlock, sizeof(GridRows) * kMaxGridSide);
  for (int32_t r = 0; r < height; ++r) {
    uint8_t* row = grid[r];
    uint8_t reference = kBlockMapRowStart;
    int32_t c = 0;
    while (c < width) {
      uint8_t code = 0;
      if (!in->Get(&code)) return kRecordTruncated;
      const int32_t k = code & kBlockMapCountMask;
      if (code < kBlockMapRepeat) {
        row[c++] = ReferenceCell(code);
        reference = code;
      } else if (code < kBlockMapDeltaPairs) {
        if (c + k + 1 > width) return kMalformedRecord;
        std::memset(row + c, ReferenceCell(reference), static_cast<size_t>(k + 1));
        c += k + 1;
      } else if (code < kBlockMapBackground) {
        if (c + 2 * (k + 1) > width) return kMalformedRecord;
        for (int32_t p = 0; p <= k; ++p) {
          uint8_t pair = 0;
          if (!in->Get(&pair)) return kRecordTruncated;
          reference = AddDelta(reference, (pair >> 4) - kNibbleBias);
          row[c++] = reference;
          reference = AddDelta(reference, (pair & 0x0F) - kNibbleBias);
          row[c++] = reference;
        }
      } else if (code < kBlockMapSkipRows) {
        if (k == 0) break;  // rest of the row
        if (c + k + 1 > width) return kMalformedRecord;
        c += k + 1;
        reference = kBlockMapRowStart;
      } else {
        if (k == 0) return kOk;  // rest of the grid
        if (r + k >= height) return kMalformedRecord;
        r += k;
        break;
      }
    }
  }
  return kOk;
}

}  // namespace vorsensor
