// Per-pixel orientation: window sums of gradient moments or directional
// differences streamed row by row. A ring of entry rows lets the stage write
// the reliability over the grey values it is still reading; per-column sums
// take each row's contributions once on entering and once on leaving the
// window, and a running sum along the row gives the window, so the cost per
// pixel does not depend on the radius.
#include "engine/ridge/pixel_orientation.h"

#include <memory>
#include <new>

#include "engine/result_codes.h"
#include "engine/ridge/orientation_moments.h"
#include "engine/row_ring.h"

namespace vorsensor {

namespace {

// Radii beyond this are treated as this one, so that the window size (2r+1)²
// stays a 32-bit value; such a window covers any image the engine accepts.
constexpr uint32_t kMaxWindowRadius = 16383;
// Rows of entry values the streaming needs beyond the window: the neighbours
// of the entering and the leaving gradient rows.
constexpr int32_t kRingExtraRows = 4;
constexpr int64_t kFlatnessDifferences = 2;  // each directional difference adds two neighbours
constexpr int32_t kLargestGradient = 6 * 255;  // mask weights 1 + 4 + 1 on each side
constexpr uint8_t kNoReliabilityLimit = 0;     // energy or flatness limit that holds no window back

// Per-channel column sums: `Channels` arrays of w values, each with `pad`
// zero columns on both sides, so that the window along a row can always add
// the column at x + r and drop the one at x - r - 1 (pad = r + 1).
template <int Channels, typename Sum>
class ColumnSums {
 public:
  bool Allocate(int32_t w, int32_t pad) {
    pad_ = static_cast<size_t>(pad);
    stride_ = static_cast<size_t>(w) + 2 * pad_;
    data_.reset(new (std::nothrow) Sum[stride_ * Channels]());
    return data_ != nullptr;
  }
  Sum* operator[](int channel) { return data_.get() + static_cast<size_t>(channel) * stride_ + pad_; }

 private:
  std::unique_ptr<Sum[]> data_;
  size_t pad_ = 0;
  size_t stride_ = 0;
};

// MomentMean by a fixed window size without a division per pixel: for
// dividends below 2^31 a multiply by ceil(2^(31+l) / n) (l = bits of n) and a
// shift give the exact quotient; larger dividends (windows beyond radius 14 on
// full-contrast patterns) take MomentMean itself.
class WindowMean {
 public:
  explicit WindowMean(int32_t count) : count_(count) {
    while ((int64_t{1} << bits_) < count) ++bits_;
    shift_ = kDividendBits + bits_;
    magic_ = ((uint64_t{1} << shift_) + static_cast<uint64_t>(count) - 1) / static_cast<uint64_t>(count);
  }
  int32_t operator()(int64_t sum) const {
    const int64_t dividend = sum + (count_ >> 1);
    if (dividend >= kDividendLimit || dividend <= -kDividendLimit) return MomentMean(sum, count_);
    const uint64_t magnitude = static_cast<uint64_t>(dividend < 0 ? -dividend : dividend);
    const int32_t quotient = static_cast<int32_t>((magnitude * magic_) >> shift_);
    return dividend < 0 ? -quotient : quotient;
  }
  // The same for a sum that cannot be negative (a sum of squares).
  int32_t OfSquares(int64_t sum) const {
    const int64_t dividend = sum + (count_ >> 1);
    if (dividend >= kDividendLimit) return MomentMean(sum, count_);
    return static_cast<int32_t>((static_cast<uint64_t>(dividend) * magic_) >> shift_);
  }

 private:
  static constexpr int32_t kDividendBits = 31;
  static constexpr int64_t kDividendLimit = int64_t{1} << kDividendBits;
  int32_t count_;
  int32_t bits_ = 0;
  int32_t shift_ = 0;
  uint64_t magic_ = 0;
};

// Window sums along one row of column sums: the first window holds columns
// 0..r, then the column at x + r enters and the one at x - r - 1 leaves (zero
// padding where those lie outside the row). store(x, sum) takes each window.
template <typename Sum, typename Store>
void SlideAlongRow(const Sum* column, int32_t w, int32_t radius, Store store) {
  int64_t sum = 0;
  for (int32_t x = 0; x <= radius && x < w; ++x) sum += column[x];
  store(0, sum);
  for (int32_t x = 1; x < w; ++x) {
    sum += static_cast<int64_t>(column[x + radius]) - column[x - radius - 1];
    store(x, sum);
  }
}

// The gradient family takes the window means of a row channel by channel and
// turns the whole row into orientations and coherences at once
// (OrientationAndCoherenceRow).
struct GradientFamily {
  static constexpr int kChannels = 3;
  static constexpr int64_t kLargestTerm = int64_t{kLargestGradient} * kLargestGradient;
  WindowMean mean;
  uint8_t energyMin;
  std::unique_ptr<int32_t[]> means;  // three rows of w means: gxx, gyy, gxy
  int32_t width = 0;

  bool Allocate(int32_t w) {
    width = w;
    means.reset(new (std::nothrow) int32_t[static_cast<size_t>(w) * kChannels]);
    return means != nullptr;
  }

  template <int Sign, typename Sum>
  void Accumulate(const uint8_t* above, const uint8_t* row, const uint8_t* below, int32_t w,
                  ColumnSums<kChannels, Sum>& columns) const {
    Sum* xx = columns[0];
    Sum* yy = columns[1];
    Sum* xy = columns[2];
    for (int32_t x = 1; x < w - 1; ++x) {
      const PixelGradient g = GradientAt(above, row, below, x);
      xx[x] += Sign * (g.gx * g.gx);
      yy[x] += Sign * (g.gy * g.gy);
      xy[x] += Sign * (g.gx * g.gy);
    }
  }

  template <typename Sum>
  void Row(const Sum* const* column, int32_t w, int32_t radius, uint8_t* orientation, uint8_t* reliability) const {
    int32_t* xx = means.get();
    int32_t* yy = xx + width;
    int32_t* xy = yy + width;
    SlideAlongRow(column[0], w, radius, [&](int32_t x, int64_t sum) { xx[x] = mean.OfSquares(sum); });
    SlideAlongRow(column[1], w, radius, [&](int32_t x, int64_t sum) { yy[x] = mean.OfSquares(sum); });
    SlideAlongRow(column[2], w, radius, [&](int32_t x, int64_t sum) { xy[x] = mean(sum); });
    if (reliability == nullptr) {
      OrientationRow(xx, yy, xy, w, orientation);
    } else {
      OrientationAndCoherenceRow(xx, yy, xy, w, energyMin, orientation, reliability);
    }
  }
};

struct DifferenceFamily {
  static constexpr int kChannels = 4;
  static constexpr int64_t kLargestTerm = 2 * 255;  // two differences of bytes
  int64_t flatLimit;

  template <int Sign, typename Sum>
  void Accumulate(const uint8_t* above, const uint8_t* row, const uint8_t* below, int32_t w,
                  ColumnSums<kChannels, Sum>& columns) const {
    Sum* hs = columns[0];
    Sum* d1s = columns[1];
    Sum* vs = columns[2];
    Sum* d2s = columns[3];
    for (int32_t x = 1; x < w - 1; ++x) {
      const PixelDifferences d = DifferencesAt(above, row, below, x);
      hs[x] += Sign * d.h;
      d1s[x] += Sign * d.d1;
      vs[x] += Sign * d.v;
      d2s[x] += Sign * d.d2;
    }
  }

  std::unique_ptr<int64_t[]> sums;  // four rows of w window sums: h, d1, v, d2
  int32_t width = 0;

  bool Allocate(int32_t w) {
    width = w;
    sums.reset(new (std::nothrow) int64_t[static_cast<size_t>(w) * kChannels]);
    return sums != nullptr;
  }

  template <typename Sum>
  void Row(const Sum* const* column, int32_t w, int32_t radius, uint8_t* orientation, uint8_t* reliability) const {
    int64_t* channel[kChannels];
    for (int c = 0; c < kChannels; ++c) {
      int64_t* out = sums.get() + static_cast<size_t>(c) * width;
      channel[c] = out;
      SlideAlongRow(column[c], w, radius, [out](int32_t x, int64_t sum) { out[x] = sum; });
    }
    for (int32_t x = 0; x < w; ++x) {
      const int64_t h = channel[0][x];
      const int64_t d1 = channel[1][x] * kDiagonalScale / kDiagonalScaleDivisor;
      const int64_t v = channel[2][x];
      const int64_t d2 = channel[3][x] * kDiagonalScale / kDiagonalScaleDivisor;
      const DifferenceOrientation result = OrientationFromDifferences(
          static_cast<int32_t>(h), static_cast<int32_t>(d1), static_cast<int32_t>(v), static_cast<int32_t>(d2));
      int64_t largest = h;
      if (d1 > largest) largest = d1;
      if (v > largest) largest = v;
      if (d2 > largest) largest = d2;
      orientation[x] = result.orientation;
      if (reliability != nullptr) reliability[x] = largest <= flatLimit ? kReliabilityMax : result.ratio;
    }
  }
};

int32_t Smaller(int32_t a, int32_t b) { return a < b ? a : b; }

// Where the rows go: sink.Orientation(y) and sink.Reliability(y) (null: not
// wanted) give the rows to write, sink.Done(y) follows; entry rows through
// y + r + 1 have been read by then, so rows up to y may be overwritten.
template <typename Sum, typename Family, typename Sink>
int32_t StreamPixelOrientation(int32_t w, int32_t h, const uint8_t* const* scratch, Sink& sink, int32_t r,
                               Family& family) {
  constexpr int C = Family::kChannels;
  if (w <= 0 || h <= 0) return kOk;
  // A window reaching past every border already covers the whole image.
  const int32_t rowRadius = Smaller(r, h);
  const int32_t columnRadius = Smaller(r, w);

  // Entry rows y - r - 2 .. y + r + 1 are read while row y is written.
  RowRing ring;
  ColumnSums<C, Sum> columns;
  const bool allocated = ring.Allocate(w, Smaller(2 * rowRadius + kRingExtraRows, h)) &&
                         columns.Allocate(w, columnRadius + 1) && family.Allocate(w);
  if (!allocated) return kOutOfMemory;
  int32_t copied = 0;
  auto copyThrough = [&](int32_t last) {
    for (; copied <= last && copied < h; ++copied) {
      const uint8_t* source = scratch[copied];
      uint8_t* target = ring[copied];
      for (int32_t x = 0; x < w; ++x) target[x] = source[x];
    }
  };
  // Only rows 1..h-2 have gradients (columns 1..w-2 likewise).
  auto enter = [&](int32_t e) {
    if (e >= 1 && e <= h - 2) family.template Accumulate<1, Sum>(ring[e - 1], ring[e], ring[e + 1], w, columns);
  };
  auto leave = [&](int32_t e) {
    if (e >= 1 && e <= h - 2) family.template Accumulate<-1, Sum>(ring[e - 1], ring[e], ring[e + 1], w, columns);
  };

  copyThrough(rowRadius + 1);
  for (int32_t e = 0; e < rowRadius; ++e) enter(e);
  const Sum* column[C];
  for (int c = 0; c < C; ++c) column[c] = columns[c];
  for (int32_t y = 0; y < h; ++y) {
    copyThrough(y + rowRadius + 1);
    enter(y + rowRadius);
    leave(y - rowRadius - 1);

    family.Row(column, w, columnRadius, sink.Orientation(y), sink.Reliability(y));
    sink.Done(y);
  }
  return kOk;
}

// A column sum holds at most min(2r + 2, h) rows (the entering row is added
// before the leaving one is taken off); when that many of the largest term
// fit 32 bits (for gradients every radius up to 457) the sums are kept in 32
// bits, else in 64.
template <typename Family, typename Sink>
int32_t StreamWithFittingSums(int32_t w, int32_t h, const uint8_t* const* scratch, Sink& sink, int32_t r,
                              Family& family) {
  const int64_t columnRows = Smaller(2 * r + 2, h);
  if (columnRows * Family::kLargestTerm <= INT32_MAX) {
    return StreamPixelOrientation<int32_t>(w, h, scratch, sink, r, family);
  }
  return StreamPixelOrientation<int64_t>(w, h, scratch, sink, r, family);
}

// The stage's own output: orientation map and reliability over the scratch image.
struct ImageSink {
  uint8_t* const* orientationMap;
  uint8_t* const* scratch;
  uint8_t* Orientation(int32_t y) const { return orientationMap[y]; }
  uint8_t* Reliability(int32_t y) const { return scratch[y]; }
  void Done(int32_t) const {}
};

// Rows handed to an OrientationRows consumer from two row buffers.
struct ConsumerSink {
  OrientationRows& rows;
  std::unique_ptr<uint8_t[]> orientation;
  std::unique_ptr<uint8_t[]> reliability;  // null when not wanted

  uint8_t* Orientation(int32_t) const { return orientation.get(); }
  uint8_t* Reliability(int32_t) const { return reliability.get(); }
  void Done(int32_t y) { rows.Row(y, orientation.get(), reliability.get()); }
};

template <typename Family>
int32_t StreamToConsumer(int32_t w, int32_t h, const uint8_t* const* image, int32_t r, bool withReliability,
                         Family& family, OrientationRows& rows) {
  if (w <= 0 || h <= 0) return kOk;
  ConsumerSink sink{rows, std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[static_cast<size_t>(w)]), nullptr};
  if (withReliability) sink.reliability.reset(new (std::nothrow) uint8_t[static_cast<size_t>(w)]);
  if (sink.orientation == nullptr || (withReliability && sink.reliability == nullptr)) return kOutOfMemory;
  return StreamWithFittingSums(w, h, image, sink, r, family);
}

int32_t WindowRadius(uint32_t radius) {
  return static_cast<int32_t>(radius > kMaxWindowRadius ? kMaxWindowRadius : radius);
}

}  // namespace

int32_t GradientPixelOrientation(int32_t w, int32_t h, uint8_t* const* scratch, uint8_t* const* orientationMap,
                                 uint32_t radius, uint8_t gradientEnergyMin) {
  const int32_t r = WindowRadius(radius);
  const int32_t side = 2 * r + 1;
  GradientFamily family{WindowMean(side * side), gradientEnergyMin, nullptr};
  ImageSink sink{orientationMap, scratch};
  return StreamWithFittingSums(w, h, scratch, sink, r, family);
}

int32_t DifferencePixelOrientation(int32_t w, int32_t h, uint8_t* const* scratch, uint8_t* const* orientationMap,
                                   uint32_t radius, uint8_t pixelFlatnessMax) {
  const int32_t r = WindowRadius(radius);
  const int64_t side = 2 * r + 1;
  DifferenceFamily family{side * side * pixelFlatnessMax * kFlatnessDifferences, nullptr};
  ImageSink sink{orientationMap, scratch};
  return StreamWithFittingSums(w, h, scratch, sink, r, family);
}

int32_t StreamGradientOrientation(int32_t w, int32_t h, const uint8_t* const* image, uint32_t radius,
                                  bool withReliability, OrientationRows& rows) {
  const int32_t r = WindowRadius(radius);
  const int32_t side = 2 * r + 1;
  GradientFamily family{WindowMean(side * side), kNoReliabilityLimit, nullptr};
  return StreamToConsumer(w, h, image, r, withReliability, family, rows);
}

int32_t StreamDifferenceOrientation(int32_t w, int32_t h, const uint8_t* const* image, uint32_t radius,
                                    bool withReliability, OrientationRows& rows) {
  const int32_t r = WindowRadius(radius);
  DifferenceFamily family{int64_t{kNoReliabilityLimit}, nullptr};
  return StreamToConsumer(w, h, image, r, withReliability, family, rows);
}

}  // namespace vorsensor
