// Counted passes over a ring of 13 entry rows (rows y - 6 .. y + 6), so the
// pixels of row y are written while later rows still read the old values.
#include "engine/ridge/pass_counts.h"

#include <memory>
#include <new>

#include "engine/result_codes.h"
#include "engine/ridge/line_smoothing.h"
#include "engine/ridge/orientation_refresh.h"

namespace vorsensor {
int32_t RunPassCounts(int32_t w, int32_t h, uint8_t* const* ridgeImage, const uint8_t* const* orientationMap,
                      uint8_t* const* scratch) {
  if (w <= 0 || h <= 0) return 0;
  LineRowRing ring;
  if (!ring.Allocate(w, h)) return kOutOfMemory;
  // Whether each row still holds a count: counts only fall, so a row is
  // scanned once, and later passes learn it from the decrement of the pass
  // before.
  std::unique_ptr<uint8_t[]> counted(new (std::nothrow) uint8_t[static_cast<size_t>(h)]);
  if (counted == nullptr) return kOutOfMemory;
  uint8_t left = 0;  // a count bit of some row
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* counts = scratch[y];
    // Whole-row loops without early exits, so that they vectorise.
    uint8_t any = 0;
    for (int32_t x = 0; x < w; ++x) any = static_cast<uint8_t>(any | counts[x]);
    counted[y] = static_cast<uint8_t>(any & kPassCountBits);
    left = static_cast<uint8_t>(left | counted[y]);
  }
  int32_t passes = 0;
  for (; left != 0; ++passes) {
    left = 0;
    ring.Begin(ridgeImage);
    for (int32_t y = 0; y < h; ++y) {
      ring.Around(y);  // keeps the ring's copies moving also where no pixel counts
      if (counted[y] == 0) continue;
      uint8_t* counts = scratch[y];
      ring.SmoothRow(y, orientationMap[y], counts, ridgeImage[y]);
      uint8_t row = 0;
      for (int32_t x = 0; x < w; ++x) {
        const uint8_t count = static_cast<uint8_t>(counts[x] - ((counts[x] & kPassCountBits) != 0 ? 1 : 0));
        counts[x] = count;
        row = static_cast<uint8_t>(row | count);
      }
      counted[y] = static_cast<uint8_t>(row & kPassCountBits);
      left = static_cast<uint8_t>(left | counted[y]);
    }
  }
  return passes;
}

}  // namespace vorsensor
