#pragma once
// Streaming helpers of the windowed filters: a ring of row copies and square
// window sums kept as per-column running sums plus a running sum along the row,
// so that a filter costs the same per pixel whatever its radius and may write
// its output over its input.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>

#include "engine/integer_division.h"

namespace vorsensor {

// `slots` row copies of `width` bytes; row y lives in slot y % slots.
class RowRing {
 public:
  // False when the memory cannot be had (the ring is then empty).
  bool Allocate(int32_t width, int32_t slots) {
    width_ = width;
    slots_ = slots;
    const size_t size = static_cast<size_t>(width > 0 ? width : 0) * static_cast<size_t>(slots > 0 ? slots : 0);
    data_.reset(new (std::nothrow) uint8_t[size > 0 ? size : 1]);
    return data_ != nullptr;
  }
  uint8_t* operator[](int32_t row) { return data_.get() + static_cast<size_t>(row % slots_) * static_cast<size_t>(width_); }
  const uint8_t* operator[](int32_t row) const {
    return data_.get() + static_cast<size_t>(row % slots_) * static_cast<size_t>(width_);
  }

 private:
  std::unique_ptr<uint8_t[]> data_;
  int32_t width_ = 0;
  int32_t slots_ = 1;
};

// A window radius as used by the filters: a window wider than the image
// covers the whole image, so radii beyond the longer side change nothing.
inline int32_t ClampRadius(uint32_t radius, int32_t width, int32_t height) {
  const int32_t side = width > height ? width : height;
  return radius > static_cast<uint32_t>(side) ? side : static_cast<int32_t>(radius);
}

namespace detail {

// The column sums of a (2r + 1)-row window moving down a w x h image, over a
// ring of min(2r + 1, h) row copies: load(y, row) writes row y into its copy
// (row y + r is loaded just before row y's sums are handed on), and
// row(y, column, rowsInside) receives, for each row y top to bottom, the sums
// of every column over the window's rows inside the image. update(column,
// entering, leaving) adds one row's bytes to the sums or takes them off (the
// other pointer is null).
template <typename Sum, typename Load, typename Row, typename Update>
bool StreamColumnSumsWith(int32_t w, int32_t h, int32_t r, Load& load, Row& row, Update update) {
  const int32_t slots = 2 * static_cast<int64_t>(r) + 1 < h ? 2 * r + 1 : h;
  RowRing ring;
  std::unique_ptr<Sum[]> column(new (std::nothrow) Sum[static_cast<size_t>(w)]());
  if (!ring.Allocate(w, slots) || column == nullptr) return false;

  auto add_row = [&](int32_t y) {
    uint8_t* copy = ring[y];
    load(y, copy);
    update(column.get(), copy, nullptr);
  };
  for (int32_t y = 0; y < r && y < h; ++y) add_row(y);
  for (int32_t y = 0; y < h; ++y) {
    // The leaving row's slot is the one the entering row takes, so subtract first.
    if (y - r - 1 >= 0) update(column.get(), nullptr, ring[y - r - 1]);
    if (y + r < h) add_row(y + r);
    const int32_t top = y - r > 0 ? y - r : 0;
    const int32_t bottom = y + r < h - 1 ? y + r : h - 1;
    row(y, static_cast<const Sum*>(column.get()), static_cast<Sum>(bottom - top + 1));
  }
  return true;
}

// StreamColumnSumsWith, a column at a time.
template <typename Sum, typename Load, typename Row>
bool StreamColumnSums(int32_t w, int32_t h, int32_t r, Load& load, Row& row) {
  auto update = [w](Sum* column, const uint8_t* entering, const uint8_t* leaving) {
    if (entering != nullptr) {
      for (int32_t x = 0; x < w; ++x) column[x] += entering[x];
    } else {
      for (int32_t x = 0; x < w; ++x) column[x] -= leaving[x];
    }
  };
  return StreamColumnSumsWith<Sum>(w, h, r, load, row, update);
}

template <typename Sum, typename Load, typename Emit>
bool StreamWindowSumsAs(int32_t w, int32_t h, int32_t r, Load& load, Emit& emit) {
  auto row = [&](int32_t y, const Sum* column, Sum rows_inside) {
    // Running sum along the row and the number of window columns inside.
    Sum sum = 0;
    Sum columns_inside = 0;
    for (int32_t x = 0; x < r && x < w; ++x, ++columns_inside) sum += column[x];
    for (int32_t x = 0; x < w; ++x) {
      if (x + r < w) {
        sum += column[x + r];
        ++columns_inside;
      }
      if (x - r - 1 >= 0) {
        sum -= column[x - r - 1];
        --columns_inside;
      }
      emit(x, y, sum, rows_inside * columns_inside);
    }
  };
  return StreamColumnSums<Sum>(w, h, r, load, row);
}

}  // namespace detail

// Streams, for every pixel of a w x h image in row-major order, the sum of the
// byte values in its (2r + 1) x (2r + 1) window clipped at the image edges and
// the number of pixels inside.
// - load(y, row) writes the w byte values of row y into `row`; it is called
//   once per row, top to bottom, for row y + r just before the pixels of row y
//   are emitted. A filter may therefore overwrite row y while emitting it: the
//   values of every row still in a window are held in a ring of min(2r + 1, h)
//   copies.
// - emit(x, y, sum, count) receives the sums as uint32_t when the whole image's
//   sum fits in 32 bits, else as uint64_t (so emit takes `auto` arguments).
// Returns false, having emitted nothing, when the memory cannot be had.
template <typename Load, typename Emit>
bool StreamWindowSums(int32_t w, int32_t h, uint32_t radius, Load&& load, Emit&& emit) {
  if (w <= 0 || h <= 0) return true;
  const int32_t r = ClampRadius(radius, w, h);
  constexpr uint64_t kByteMax = 255;
  if (static_cast<uint64_t>(w) * static_cast<uint64_t>(h) * kByteMax <= std::numeric_limits<uint32_t>::max()) {
    return detail::StreamWindowSumsAs<uint32_t>(w, h, r, load, emit);
  }
  return detail::StreamWindowSumsAs<uint64_t>(w, h, r, load, emit);
}

// The same streaming, handing emit(x, y, mean) the window mean
// floor(sum / count) as uint32_t (by multiplication where the image allows).
template <typename Load, typename Emit>
bool StreamWindowMeans(int32_t w, int32_t h, uint32_t radius, Load&& load, Emit&& emit) {
  if (w > 0 && h > 0 && static_cast<uint64_t>(w) * static_cast<uint64_t>(h) < ByteMeanDivider::kMaxCount) {
    // Runs of one count (the inside of a row) divide by multiplication; where
    // the count changes from pixel to pixel (windows clipped at the edges) a
    // plain division is cheaper than making the multiplier.
    ByteMeanDivider divide;
    uint64_t previous = 0;
    return StreamWindowSums(w, h, radius, load, [&](int32_t x, int32_t y, auto sum, auto count) {
      uint32_t mean;
      if (count == divide.count()) {
        mean = divide(sum);
      } else if (count == previous) {
        divide.Set(count);
        mean = divide(sum);
      } else {
        mean = static_cast<uint32_t>(sum / count);
      }
      previous = count;
      emit(x, y, mean);
    });
  }
  return StreamWindowSums(w, h, radius, load, [&](int32_t x, int32_t y, auto sum, auto count) {
    emit(x, y, static_cast<uint32_t>(sum / count));
  });
}

}  // namespace vorsensor
