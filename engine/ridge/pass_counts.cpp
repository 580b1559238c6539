// Counted passes over a ring of 13 entry rows (rows y - 6 .. y + 6), so the
// pixels of row y are written while later rows still read the old values.
#include "engine/ridge/pass_counts.h"

#include "engine/result_codes.h"
#include "engine/ridge/line_smoothing.h"
#include "engine/ridge/orientation_refresh.h"

namespace vorsensor {
int32_t RunPassCounts(int32_t w, int32_t h, uint8_t* const* ridgeImage, const uint8_t* const* orientationMap,
                      uint8_t* const* scratch) {
  if (w <= 0 || h <= 0) return 0;
  LineRowRing ring;
  if (!ring.Allocate(w, h)) return kOutOfMemory;
  int32_t passes = 0;
  for (bool counted = true; counted;) {
    counted = false;
    ring.Begin(ridgeImage);
    for (int32_t y = 0; y < h; ++y) {
      uint8_t* counts = scratch[y];
      // Whole-row loops without early exits, so that they vectorise.
      uint8_t any = 0;
      for (int32_t x = 0; x < w; ++x) any = static_cast<uint8_t>(any | counts[x]);
      ring.Around(y);  // keeps the ring's copies moving also where no pixel counts
      if ((any & kPassCountBits) == 0) continue;
      ring.SmoothRow(y, orientationMap[y], counts, ridgeImage[y]);
      for (int32_t x = 0; x < w; ++x) {
        counts[x] = static_cast<uint8_t>(counts[x] - ((counts[x] & kPassCountBits) != 0 ? 1 : 0));
      }
      counted = true;
    }
    passes += counted ? 1 : 0;
  }
  return passes;
}

}  // namespace vorsensor
