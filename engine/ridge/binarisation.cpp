// Binarisation against local means. The single-window methods stream window
// means as the box mean does; the density-selected one keeps three sets of
// column sums over one ring of entry rows, takes each row's window sums as
// differences of prefix sums along the row and compares without dividing:
// v < floor(sum / n) exactly when (v + 1) x n <= sum.
#include "engine/ridge/binarisation.h"

#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "engine/result_codes.h"
#include "engine/row_ring.h"

namespace vorsensor {
namespace {

constexpr int kWindows = 3;  // small, medium, large

uint8_t Threshold(uint32_t value, uint32_t mean) { return value < mean ? kRidgePixel : kValleyPixel; }

// True when the pixel v lies below the truncated mean sum / count.
template <typename Sum>
bool BelowMean(uint32_t value, Sum sum, uint64_t count) {
  return (static_cast<uint64_t>(value) + 1) * count <= static_cast<uint64_t>(sum);
}

template <typename Sum>
int32_t DensityStream(int32_t w, int32_t h, uint8_t* const* ridgeImage, const uint8_t* const* densityMap,
                      uint8_t densityHigh, uint8_t densityLow, const int32_t (&radius)[kWindows]) {
  int32_t largest = 0;
  for (int32_t r : radius) largest = r > largest ? r : largest;
  const int32_t slots = 2 * static_cast<int64_t>(largest) + 1 < h ? 2 * largest + 1 : h;
  RowRing ring;
  std::unique_ptr<Sum[]> storage(new (std::nothrow) Sum[static_cast<size_t>(w) * kWindows]());
  if (!ring.Allocate(w, slots) || storage == nullptr) return kOutOfMemory;
  std::unique_ptr<Sum[]> prefixStorage(new (std::nothrow) Sum[(static_cast<size_t>(w) + 1) * kWindows]);
  if (prefixStorage == nullptr) return kOutOfMemory;
  Sum* column[kWindows];
  Sum* prefix[kWindows];
  for (int k = 0; k < kWindows; ++k) {
    column[k] = storage.get() + static_cast<size_t>(k) * static_cast<size_t>(w);
    prefix[k] = prefixStorage.get() + static_cast<size_t>(k) * (static_cast<size_t>(w) + 1);
  }

  auto addRow = [&](int k, int32_t row, int sign) {
    const uint8_t* values = ring[row];
    Sum* sums = column[k];
    if (sign > 0) {
      for (int32_t x = 0; x < w; ++x) sums[x] += values[x];
    } else {
      for (int32_t x = 0; x < w; ++x) sums[x] -= values[x];
    }
  };
  int32_t loaded = 0;
  auto loadThrough = [&](int32_t last) {
    for (; loaded <= last && loaded < h; ++loaded) std::memcpy(ring[loaded], ridgeImage[loaded], static_cast<size_t>(w));
  };
  loadThrough(largest - 1);
  for (int k = 0; k < kWindows; ++k) {
    for (int32_t row = 0; row < radius[k] && row < h; ++row) addRow(k, row, 1);
  }
  for (int32_t y = 0; y < h; ++y) {
    // Leaving rows first: the row loaded next takes the slot of the largest window's leaving row.
    for (int k = 0; k < kWindows; ++k) {
      if (y - radius[k] - 1 >= 0) addRow(k, y - radius[k] - 1, -1);
    }
    loadThrough(y + largest);
    uint64_t rowsInside[kWindows];
    for (int k = 0; k < kWindows; ++k) {
      if (y + radius[k] < h) addRow(k, y + radius[k], 1);
      const int32_t top = y - radius[k] > 0 ? y - radius[k] : 0;
      const int32_t bottom = y + radius[k] < h - 1 ? y + radius[k] : h - 1;
      rowsInside[k] = static_cast<uint64_t>(bottom - top + 1);
    }
    // Prefix sums of each window's column sums along the row: the window of
    // x covers the columns lo..hi - 1, clipped at the row ends.
    for (int k = 0; k < kWindows; ++k) {
      Sum* running = prefix[k];
      const Sum* sums = column[k];
      running[0] = 0;
      for (int32_t x = 0; x < w; ++x) running[x + 1] = running[x] + sums[x];
    }
    const uint8_t* entry = ring[y];
    const uint8_t* density = densityMap[y];
    uint8_t* out = ridgeImage[y];
    for (int32_t x = 0; x < w; ++x) {
      const uint8_t e = density[x];
      const int k = e >= densityHigh ? 0 : (e >= densityLow ? 1 : 2);
      const int32_t r = radius[k];
      const int32_t lo = r >= x ? 0 : x - r;
      const int32_t hi = r >= w - x ? w : x + r + 1;
      const uint64_t count = rowsInside[k] * static_cast<uint64_t>(hi - lo);
      out[x] = BelowMean(entry[x], prefix[k][hi] - prefix[k][lo], count) ? kRidgePixel : kValleyPixel;
    }
  }
  return kOk;
}

}  // namespace

int32_t BinarizeByLocalMean(int32_t w, int32_t h, uint8_t* const* ridgeImage, uint32_t r) {
  uint8_t* out = nullptr;
  int32_t outY = -1;
  const bool done = StreamWindowMeans(
      w, h, r, [&](int32_t y, uint8_t* row) { std::memcpy(row, ridgeImage[y], static_cast<size_t>(w)); },
      [&](int32_t x, int32_t y, uint32_t mean) {
        if (y != outY) {
          outY = y;
          out = ridgeImage[y];
        }
        out[x] = Threshold(out[x], mean);
      });
  return done ? kOk : kOutOfMemory;
}

int32_t BinarizeByTwoMeans(int32_t w, int32_t h, const uint8_t* const* ridgeImage, uint8_t* const* scratch,
                           uint32_t rSmall, uint32_t rLarge) {
  auto load = [&](int32_t y, uint8_t* row) { std::memcpy(row, ridgeImage[y], static_cast<size_t>(w)); };
  // The small means are parked in the scratch image, then each is replaced by the result.
  if (!StreamWindowMeans(w, h, rSmall, load,
                         [&](int32_t x, int32_t y, uint32_t mean) { scratch[y][x] = static_cast<uint8_t>(mean); })) {
    return kOutOfMemory;
  }
  const bool done = StreamWindowMeans(w, h, rLarge, load, [&](int32_t x, int32_t y, uint32_t mean) {
    scratch[y][x] = Threshold(ridgeImage[y][x], (scratch[y][x] + mean) / 2);
  });
  return done ? kOk : kOutOfMemory;
}

int32_t BinarizeByDensity(int32_t w, int32_t h, uint8_t* const* ridgeImage, const uint8_t* const* densityMap,
                          uint8_t densityHigh, uint8_t densityLow, uint32_t rSmall, uint32_t rMedium,
                          uint32_t rLarge) {
  if (w <= 0 || h <= 0) return kOk;
  const int32_t radius[kWindows] = {ClampRadius(rSmall, w, h), ClampRadius(rMedium, w, h), ClampRadius(rLarge, w, h)};
  constexpr uint64_t kByteMax = 255;
  if (static_cast<uint64_t>(w) * static_cast<uint64_t>(h) * kByteMax <= std::numeric_limits<uint32_t>::max()) {
    return DensityStream<uint32_t>(w, h, ridgeImage, densityMap, densityHigh, densityLow, radius);
  }
  return DensityStream<uint64_t>(w, h, ridgeImage, densityMap, densityHigh, densityLow, radius);
}

}  // namespace vorsensor
