// Background levelling by local 3 x 3 deviation against the mean deviation.
#include "engine/background_levelling.h"

#include "engine/integer_division.h"
#include "geometry/geometry.h"

namespace vorsensor {
namespace {

constexpr int32_t kGreyMax = 255;
constexpr int32_t kNeighbourhood = 9;  // pixels of a full 3 x 3 neighbourhood

// 3 x 3 mean of one pixel clipped at the image edges (a corner divides by 4, an edge by 6).
uint8_t ClippedMean(int32_t w, int32_t h, const uint8_t* const* grey, int32_t x, int32_t y) {
  const int32_t top = y > 0 ? y - 1 : 0;
  const int32_t bottom = y < h - 1 ? y + 1 : h - 1;
  const int32_t left = x > 0 ? x - 1 : 0;
  const int32_t right = x < w - 1 ? x + 1 : w - 1;
  int32_t sum = 0;
  for (int32_t yy = top; yy <= bottom; ++yy) {
    for (int32_t xx = left; xx <= right; ++xx) sum += grey[yy][xx];
  }
  return static_cast<uint8_t>(sum / ((bottom - top + 1) * (right - left + 1)));
}

// Local mean of every pixel, and the standard deviation of the 3 x 3
// neighbourhood of each inside pixel (0 on the outermost rows and columns);
// returns the sum of the deviations.
int64_t LocalMeanAndDeviation(int32_t w, int32_t h, const uint8_t* const* grey, uint8_t* const* mean,
                              uint8_t* const* deviation) {
  int64_t total = 0;
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* m = mean[y];
    uint8_t* s = deviation[y];
    if (y == 0 || y == h - 1 || w < 3) {
      for (int32_t x = 0; x < w; ++x) {
        m[x] = ClippedMean(w, h, grey, x, y);
        s[x] = 0;
      }
      continue;
    }
    const uint8_t* a = grey[y - 1];
    const uint8_t* b = grey[y];
    const uint8_t* c = grey[y + 1];
    m[0] = ClippedMean(w, h, grey, 0, y);
    m[w - 1] = ClippedMean(w, h, grey, w - 1, y);
    s[0] = 0;
    s[w - 1] = 0;
    for (int32_t x = 1; x < w - 1; ++x) {
      int32_t sum = 0;
      int32_t squares = 0;
      for (int32_t dx = -1; dx <= 1; ++dx) {
        sum += a[x + dx] + b[x + dx] + c[x + dx];
        squares += a[x + dx] * a[x + dx] + b[x + dx] * b[x + dx] + c[x + dx] * c[x + dx];
      }
      const int32_t local = sum / kNeighbourhood;
      m[x] = static_cast<uint8_t>(local);
      const int32_t q = squares / kNeighbourhood - local * local;
      const int32_t root = q <= 0 ? 0 : static_cast<int32_t>(IntegerSqrt(static_cast<uint32_t>(q)));
      s[x] = static_cast<uint8_t>(root);
      total += root;
    }
  }
  return total;
}

}  // namespace

void LevelBackground(int32_t w, int32_t h, const uint8_t* const* grey, uint8_t* const* localMean,
                     uint8_t* const* localDeviation, uint8_t* const* output) {
  if (w <= 0 || h <= 0) return;
  const int64_t total = LocalMeanAndDeviation(w, h, grey, localMean, localDeviation);
  // The mean deviation divides by (w - 1)(h - 1), a little more than the number
  // of inside pixels summed. An image one pixel wide or high has no inside
  // pixel (and a zero divisor): its mean deviation is 0.
  const int64_t divisor = static_cast<int64_t>(w - 1) * (h - 1);
  const int32_t mean_deviation = divisor > 0 ? static_cast<int32_t>(total / divisor) : 0;

  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      const int32_t m = localMean[y][x];
      int32_t s = localDeviation[y][x];
      if (s < mean_deviation) s = mean_deviation;
      // n / s truncated towards zero (s taken as 1 when 0, where n is 0 too);
      // |n| <= 129 x 255 and s <= 129, in the range of DivideSmall.
      const int32_t n = (s - mean_deviation) * (grey[y][x] - m);
      const int32_t magnitude = static_cast<int32_t>(DivideSmall(static_cast<uint32_t>(n < 0 ? -n : n),
                                                                 static_cast<uint32_t>(s == 0 ? 1 : s)));
      int32_t v = m + (n < 0 ? -magnitude : magnitude);
      if (v < 0) v = 0;
      if (v > kGreyMax) v = kGreyMax;
      output[y][x] = static_cast<uint8_t>(v);
    }
  }
}

}  // namespace vorsensor
