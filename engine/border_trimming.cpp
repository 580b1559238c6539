// Border trimming: edge search, percentile edge pixels and the outward fill.
#include "engine/border_trimming.h"

#include <memory>
#include <new>

#include "engine/result_codes.h"

namespace vorsensor {
namespace {

constexpr int32_t kNoEdge = -1;
constexpr int32_t kGreyLevels = 256;
constexpr int64_t kPercent = 100;

// Column of the largest positive drop at the start of a bright run walked from
// `start` in steps of `step` (+1 from the left, -1 from the right); the first
// such column wins ties. kNoEdge when the run never falls.
int32_t FindEdge(const uint8_t* row, int32_t w, int32_t start, int32_t step, uint8_t brightMin) {
  int32_t edge = kNoEdge;
  int32_t largest = 0;
  for (int32_t x = start; x + step >= 0 && x + step < w && row[x] >= brightMin; x += step) {
    const int32_t drop = row[x] - row[x + step];
    if (drop > largest) {
      largest = drop;
      edge = x;
    }
  }
  return edge;
}

// Edges of the rows from the top down to the first row without one; returns that count.
int32_t FindEdges(int32_t w, int32_t h, uint8_t* const* image, int32_t start, int32_t step, uint8_t brightMin,
                  int32_t* edges) {
  int32_t y = 0;
  for (; y < h; ++y) {
    edges[y] = FindEdge(image[y], w, start, step, brightMin);
    if (edges[y] == kNoEdge) break;
  }
  return y;
}

int32_t Reach(uint32_t value, int32_t count) {
  return value > static_cast<uint32_t>(count) ? count : static_cast<int32_t>(value);
}

// Edge pixels: each becomes the value at the given rank (from the brightest)
// among the pixels just inside the strip (column edge + inward) of the rows
// within `window` of its own row. A sliding histogram replaces the sort.
void SetEdgePixels(uint8_t* const* image, const int32_t* edges, int32_t count, int32_t inward, int32_t window,
                   uint32_t percentile) {
  int32_t histogram[kGreyLevels] = {};
  const int64_t rank_percent = percentile > kPercent ? kPercent : percentile;
  auto inner = [&](int32_t y) { return image[y][edges[y] + inward]; };
  int32_t members = 0;
  for (int32_t y = 0; y < window && y < count; ++y, ++members) ++histogram[inner(y)];
  for (int32_t y = 0; y < count; ++y) {
    if (y - window - 1 >= 0) {
      --histogram[inner(y - window - 1)];
      --members;
    }
    if (y + window < count) {
      ++histogram[inner(y + window)];
      ++members;
    }
    const int64_t rank = ((members - 1) * rank_percent + kPercent / 2) / kPercent;
    int32_t level = kGreyLevels - 1;
    for (int64_t seen = histogram[level]; seen <= rank; seen += histogram[level]) --level;
    image[y][edges[y]] = static_cast<uint8_t>(level);
  }
}

// Outward fill, one column per step k: the target pixel of each row still
// reaching that far becomes the mean of the step's source pixels of the rows
// within `spread` of it. Sources lie one column further in than every target of
// their row, so the targets can be written as the window slides down.
// source(y) is the source column of row y (or kNoEdge when the row has none
// this step) and target(y) the target column (kNoEdge for none). Rows outside
// from .. to - 1 have neither, so the window walks these rows alone.
template <typename Source, typename Target>
void FillStep(uint8_t* const* image, int32_t from, int32_t to, int32_t spread, Source source, Target target) {
  uint32_t sum = 0;  // at most 255 x (2 spread + 1) of the rows walked
  uint32_t members = 0;
  auto enter = [&](int32_t y) {
    const int32_t x = source(y);
    if (x != kNoEdge) {
      sum += image[y][x];
      ++members;
    }
  };
  auto leave = [&](int32_t y) {
    const int32_t x = source(y);
    if (x != kNoEdge) {
      sum -= image[y][x];
      --members;
    }
  };
  for (int32_t y = from; y - from < spread && y < to; ++y) enter(y);
  for (int32_t y = from; y < to; ++y) {
    if (y - spread - 1 >= from) leave(y - spread - 1);
    if (to - y > spread) enter(y + spread);
    const int32_t x = target(y);
    // The row's own source is in the window whenever it has a target: members > 0.
    if (x != kNoEdge) image[y][x] = static_cast<uint8_t>(sum / members);
  }
}

// The rows from the first to the last of `count` whose edge reaches `k`
// columns (reaches(y)); an empty range when none does.
struct RowRange {
  int32_t from;
  int32_t to;
};
template <typename Reaches>
RowRange RowsReaching(int32_t count, Reaches reaches) {
  int32_t from = 0;
  while (from < count && !reaches(from)) ++from;
  int32_t to = count;
  while (to > from && !reaches(to - 1)) --to;
  return RowRange{from, to};
}

}  // namespace

int32_t TrimBorders(int32_t w, int32_t h, uint8_t* const* image, uint8_t brightMin, uint32_t rowWindow,
                    uint32_t percentile, uint32_t spread) {
  if (w <= 0 || h <= 0) return kOk;
  std::unique_ptr<int32_t[]> left(new (std::nothrow) int32_t[static_cast<size_t>(h)]);
  std::unique_ptr<int32_t[]> right(new (std::nothrow) int32_t[static_cast<size_t>(h)]);
  if (left == nullptr || right == nullptr) return kOutOfMemory;

  const int32_t left_rows = FindEdges(w, h, image, 0, 1, brightMin, left.get());
  const int32_t right_rows = FindEdges(w, h, image, w - 1, -1, brightMin, right.get());

  SetEdgePixels(image, left.get(), left_rows, 1, Reach(rowWindow, left_rows), percentile);
  SetEdgePixels(image, right.get(), right_rows, -1, Reach(rowWindow, right_rows), percentile);

  int32_t widest = 0;  // largest left edge: the fill writes columns edge - 1 .. 0
  for (int32_t y = 0; y < left_rows; ++y) widest = left[y] > widest ? left[y] : widest;
  const int32_t left_spread = Reach(spread, left_rows);
  for (int32_t k = 0; k < widest; ++k) {
    const RowRange rows = RowsReaching(left_rows, [&](int32_t y) { return left[y] >= k; });
    FillStep(
        image, rows.from, rows.to, left_spread, [&](int32_t y) { return left[y] >= k ? left[y] - k : kNoEdge; },
        [&](int32_t y) { return left[y] > k ? left[y] - k - 1 : kNoEdge; });
  }

  int32_t innermost = w - 1;  // smallest right edge: the fill writes columns edge + 1 .. w - 1
  for (int32_t y = 0; y < right_rows; ++y) innermost = right[y] < innermost ? right[y] : innermost;
  const int32_t right_spread = Reach(spread, right_rows);
  for (int32_t k = 0; innermost + k < w - 1; ++k) {
    const RowRange rows = RowsReaching(right_rows, [&](int32_t y) { return right[y] + k <= w - 1; });
    FillStep(
        image, rows.from, rows.to, right_spread,
        [&](int32_t y) { return right[y] + k <= w - 1 ? right[y] + k : kNoEdge; },
        [&](int32_t y) { return right[y] + k < w - 1 ? right[y] + k + 1 : kNoEdge; });
  }
  return kOk;
}

}  // namespace vorsensor
