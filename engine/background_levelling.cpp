// Background levelling by local 3 x 3 deviation against the mean deviation.
#include "engine/background_levelling.h"

#include "matching/geometry/geometry.h"

namespace vorsensor {
namespace {

constexpr int32_t kGreyMax = 255;
constexpr int32_t kNeighbourhood = 9;  // pixels of a full 3 x 3 neighbourhood

// 3 x 3 mean clipped at the image edges (a corner divides by 4, an edge by 6).
void LocalMean(int32_t w, int32_t h, const uint8_t* const* grey, uint8_t* const* mean) {
  for (int32_t y = 0; y < h; ++y) {
    const int32_t top = y > 0 ? y - 1 : 0;
    const int32_t bottom = y < h - 1 ? y + 1 : h - 1;
    for (int32_t x = 0; x < w; ++x) {
      const int32_t left = x > 0 ? x - 1 : 0;
      const int32_t right = x < w - 1 ? x + 1 : w - 1;
      int32_t sum = 0;
      for (int32_t yy = top; yy <= bottom; ++yy) {
        for (int32_t xx = left; xx <= right; ++xx) sum += grey[yy][xx];
      }
      mean[y][x] = static_cast<uint8_t>(sum / ((bottom - top + 1) * (right - left + 1)));
    }
  }
}

// Standard deviation of the 3 x 3 neighbourhood of each inside pixel, 0 on the
// outermost rows and columns; returns the sum over the inside pixels.
int64_t LocalDeviation(int32_t w, int32_t h, const uint8_t* const* grey, const uint8_t* const* mean,
                       uint8_t* const* deviation) {
  int64_t total = 0;
  for (int32_t y = 0; y < h; ++y) {
    const bool inside_row = y > 0 && y < h - 1;
    for (int32_t x = 0; x < w; ++x) {
      int32_t s = 0;
      if (inside_row && x > 0 && x < w - 1) {
        int32_t squares = 0;
        for (int32_t yy = y - 1; yy <= y + 1; ++yy) {
          for (int32_t xx = x - 1; xx <= x + 1; ++xx) squares += grey[yy][xx] * grey[yy][xx];
        }
        const int32_t m = mean[y][x];
        const int32_t q = squares / kNeighbourhood - m * m;
        s = q < 0 ? 0 : static_cast<int32_t>(IntegerSqrt(static_cast<uint32_t>(q)));
        total += s;
      }
      deviation[y][x] = static_cast<uint8_t>(s);
    }
  }
  return total;
}

}  // namespace

void LevelBackground(int32_t w, int32_t h, const uint8_t* const* grey, uint8_t* const* localMean,
                     uint8_t* const* localDeviation, uint8_t* const* output) {
  if (w <= 0 || h <= 0) return;
  LocalMean(w, h, grey, localMean);
  const int64_t total = LocalDeviation(w, h, grey, localMean, localDeviation);
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
      const int32_t n = (s - mean_deviation) * (grey[y][x] - m);
      int32_t v = m + n / (s == 0 ? 1 : s);
      if (v < 0) v = 0;
      if (v > kGreyMax) v = kGreyMax;
      output[y][x] = static_cast<uint8_t>(v);
    }
  }
}

}  // namespace vorsensor
