// The line smoothing kernels and the directional smoothing pass. The kernel
// weights are the areas (on a 101 x 101 sample grid per pixel) that a
// rectangle 11 pixels long and 1 wide, centred on the pixel and turned to the
// orientation, covers of each neighbour. Orientations 0..30 are listed; the
// others follow by mirroring: 60 - o exchanges rows and columns, 120 - o
// negates the columns.
#include "engine/ridge/line_smoothing.h"

#include <array>
#include <cstring>
#include <new>

#include "engine/result_codes.h"
#include "engine/simd_level.h"
#include "engine/wide_mean_divider.h"

#if defined(__SSE2__) && defined(__GNUC__)
#include <emmintrin.h>
#define VS_LINE_GROUPS_SSE2 1
#endif
#ifdef VS_WIDE_VECTORS
#include <immintrin.h>
#endif

namespace vorsensor {
namespace {

constexpr uint8_t kOrientationBits = 0x7F;   // bits 0..6 of an orientation map value
constexpr uint8_t kQuarterTurn = 60;          // orientations of a quarter turn
constexpr uint8_t kEighthTurn = 30;
constexpr int32_t kListedKernels = kEighthTurn + 1;
constexpr uint32_t kSquareCount = 9;          // pixels of the full 3 x 3 square
constexpr uint8_t kPassCountMask = 0x07;      // pass counts in the low bits of the scratch image

constexpr LineKernel kListed[kListedKernels] = {
    {10201, 5, {{0, -5, 10201}, {0, -4, 10201}, {0, -3, 10201}, {0, -2, 10201}, {0, -1, 10201}}},
    {10139, 12, {{-1, -5, 1317}, {-1, -4, 1071}, {-1, -3, 803}, {-1, -2, 533}, {-1, -1, 270}, {-1, 0, 32},
              {0, -6, 24}, {0, -5, 8848}, {0, -4, 9133}, {0, -3, 9400}, {0, -2, 9671}, {0, -1, 9934}}},
    {10073, 12, {{-1, -5, 2604}, {-1, -4, 2147}, {-1, -3, 1609}, {-1, -2, 1075}, {-1, -1, 542}, {-1, 0, 71},
              {0, -6, 33}, {0, -5, 7501}, {0, -4, 8069}, {0, -3, 8604}, {0, -2, 9139}, {0, -1, 9675}}},
    {10017, 12, {{-1, -5, 3856}, {-1, -4, 3227}, {-1, -3, 2425}, {-1, -2, 1621}, {-1, -1, 819}, {-1, 0, 108},
              {0, -6, 32}, {0, -5, 6171}, {0, -4, 7006}, {0, -3, 7808}, {0, -2, 8610}, {0, -1, 9414}}},
    {9957, 12, {{-1, -5, 5079}, {-1, -4, 4316}, {-1, -3, 3247}, {-1, -2, 2170}, {-1, -1, 1101}, {-1, 0, 148},
              {0, -6, 24}, {0, -5, 4844}, {0, -4, 5942}, {0, -3, 7012}, {0, -2, 8084}, {0, -1, 9160}}},
    {9909, 12, {{-1, -5, 6273}, {-1, -4, 5416}, {-1, -3, 4074}, {-1, -2, 2729}, {-1, -1, 1387}, {-1, 0, 190},
              {0, -6, 13}, {0, -5, 3519}, {0, -4, 4873}, {0, -3, 6215}, {0, -2, 7560}, {0, -1, 8902}}},
    {9863, 12, {{-1, -5, 7443}, {-1, -4, 6525}, {-1, -3, 4912}, {-1, -2, 3296}, {-1, -1, 1679}, {-1, 0, 233},
              {0, -6, 4}, {0, -5, 2182}, {0, -4, 3803}, {0, -3, 5416}, {0, -2, 7032}, {0, -1, 8649}}},
    {9811, 11, {{-1, -5, 8582}, {-1, -4, 7648}, {-1, -3, 5760}, {-1, -2, 3869}, {-1, -1, 1976}, {-1, 0, 282},
              {0, -5, 837}, {0, -4, 2727}, {0, -3, 4615}, {0, -2, 6505}, {0, -1, 8399}}},
    {9771, 12, {{-2, -5, 441}, {-1, -5, 8661}, {-1, -4, 8789}, {-1, -3, 6619}, {-1, -2, 4450}, {-1, -1, 2282},
              {-1, 0, 330}, {0, -5, 72}, {0, -4, 1642}, {0, -3, 3809}, {0, -2, 5979}, {0, -1, 8146}}},
    {9727, 12, {{-2, -5, 1449}, {-2, -4, 189}, {-1, -5, 7447}, {-1, -4, 9660}, {-1, -3, 7495}, {-1, -2, 5041},
              {-1, -1, 2593}, {-1, 0, 382}, {0, -4, 643}, {0, -3, 2997}, {0, -2, 5447}, {0, -1, 7899}}},
    {9685, 12, {{-2, -5, 2421}, {-2, -4, 950}, {-1, -5, 6161}, {-1, -4, 9489}, {-1, -3, 8380}, {-1, -2, 5647},
              {-1, -1, 2914}, {-1, 0, 437}, {0, -4, 121}, {0, -3, 2181}, {0, -2, 4914}, {0, -1, 7648}}},
    {9653, 12, {{-2, -5, 3329}, {-2, -4, 2103}, {-2, -3, 58}, {-1, -5, 4901}, {-1, -4, 8535}, {-1, -3, 9223},
              {-1, -2, 6263}, {-1, -1, 3240}, {-1, 0, 494}, {0, -3, 1358}, {0, -2, 4376}, {0, -1, 7399}}},
    {9613, 12, {{-2, -5, 4173}, {-2, -4, 3321}, {-2, -3, 416}, {-1, -5, 3667}, {-1, -4, 7404}, {-1, -3, 9596},
              {-1, -2, 6892}, {-1, -1, 3573}, {-1, 0, 558}, {0, -3, 714}, {0, -2, 3835}, {0, -1, 7150}}},
    {9581, 12, {{-2, -5, 4955}, {-2, -4, 4560}, {-2, -3, 1048}, {-1, -5, 2453}, {-1, -4, 6261}, {-1, -3, 9470},
              {-1, -2, 7535}, {-1, -1, 3924}, {-1, 0, 620}, {0, -3, 304}, {0, -2, 3286}, {0, -1, 6899}}},
    {9553, 12, {{-2, -5, 5674}, {-2, -4, 5824}, {-2, -3, 1910}, {-1, -5, 1261}, {-1, -4, 5103}, {-1, -3, 8941},
              {-1, -2, 8194}, {-1, -1, 4280}, {-1, 0, 687}, {0, -3, 76}, {0, -2, 2732}, {0, -1, 6647}}},
    {9523, 13, {{-3, -5, 64}, {-2, -5, 5968}, {-2, -4, 7120}, {-2, -3, 2896}, {-2, -2, 72}, {-1, -5, 386},
              {-1, -4, 3923}, {-1, -3, 8144}, {-1, -2, 8800}, {-1, -1, 4645}, {-1, 0, 759}, {0, -2, 2171},
              {0, -1, 6396}}},
    {9501, 14, {{-3, -5, 488}, {-3, -4, 29}, {-2, -5, 5348}, {-2, -4, 8420}, {-2, -3, 3905}, {-2, -2, 294},
              {-1, -5, 22}, {-1, -4, 2717}, {-1, -3, 7261}, {-1, -2, 9221}, {-1, -1, 5026}, {-1, 0, 833},
              {0, -2, 1651}, {0, -1, 6140}}},
    {9471, 13, {{-3, -5, 907}, {-3, -4, 430}, {-2, -5, 4339}, {-2, -4, 9292}, {-2, -3, 4946}, {-2, -2, 648},
              {-1, -4, 1579}, {-1, -3, 6358}, {-1, -2, 9428}, {-1, -1, 5416}, {-1, 0, 915}, {0, -2, 1226},
              {0, -1, 5886}}},
    {9449, 13, {{-3, -5, 1216}, {-3, -4, 1253}, {-2, -5, 3370}, {-2, -4, 9419}, {-2, -3, 6018}, {-2, -2, 1124},
              {-1, -4, 776}, {-1, -3, 5431}, {-1, -2, 9446}, {-1, -1, 5819}, {-1, 0, 1000}, {0, -2, 881},
              {0, -1, 5628}}},
    {9433, 13, {{-3, -5, 1401}, {-3, -4, 2465}, {-2, -5, 2469}, {-2, -4, 8877}, {-2, -3, 7118}, {-2, -2, 1708},
              {-1, -4, 267}, {-1, -3, 4489}, {-1, -2, 9293}, {-1, -1, 6242}, {-1, 0, 1088}, {0, -2, 608},
              {0, -1, 5364}}},
    {9413, 14, {{-3, -5, 1464}, {-3, -4, 3946}, {-3, -3, 85}, {-2, -5, 1636}, {-2, -4, 7804}, {-2, -3, 8173},
              {-2, -2, 2395}, {-1, -4, 28}, {-1, -3, 3522}, {-1, -2, 8989}, {-1, -1, 6679}, {-1, 0, 1184},
              {0, -2, 395}, {0, -1, 5099}}},
    {9399, 13, {{-3, -5, 1457}, {-3, -4, 5426}, {-3, -3, 446}, {-2, -5, 869}, {-2, -4, 6479}, {-2, -3, 8960},
              {-2, -2, 3183}, {-1, -3, 2558}, {-1, -2, 8548}, {-1, -1, 7134}, {-1, 0, 1283}, {0, -2, 232},
              {0, -1, 4831}}},
    {9381, 14, {{-3, -5, 1418}, {-3, -4, 6793}, {-3, -3, 1070}, {-2, -5, 237}, {-2, -4, 5086}, {-2, -3, 9339},
              {-2, -2, 4029}, {-2, -1, 39}, {-1, -3, 1755}, {-1, -2, 8017}, {-1, -1, 7567}, {-1, 0, 1391},
              {0, -2, 116}, {0, -1, 4558}}},
    {9367, 15, {{-4, -4, 8}, {-3, -5, 1090}, {-3, -4, 8038}, {-3, -3, 1946}, {-2, -5, 1}, {-2, -4, 3645},
              {-2, -3, 9310}, {-2, -2, 4909}, {-2, -1, 141}, {-1, -3, 1120}, {-1, -2, 7428}, {-1, -1, 7962},
              {-1, 0, 1505}, {0, -2, 42}, {0, -1, 4277}}},
    {9357, 14, {{-4, -4, 203}, {-3, -5, 636}, {-3, -4, 8812}, {-3, -3, 3067}, {-2, -4, 2322}, {-2, -3, 8904},
              {-2, -2, 5826}, {-2, -1, 303}, {-1, -3, 639}, {-1, -2, 6778}, {-1, -1, 8312}, {-1, 0, 1626},
              {0, -2, 6}, {0, -1, 3993}}},
    {9349, 14, {{-4, -4, 633}, {-3, -5, 297}, {-3, -4, 8860}, {-3, -3, 4408}, {-3, -2, 16}, {-2, -4, 1313},
              {-2, -3, 8151}, {-2, -2, 6767}, {-2, -1, 525}, {-1, -3, 299}, {-1, -2, 6074}, {-1, -1, 8628},
              {-1, 0, 1756}, {0, -1, 3704}}},
    {9339, 14, {{-4, -4, 1276}, {-3, -5, 82}, {-3, -4, 8204}, {-3, -3, 5844}, {-3, -2, 177}, {-2, -4, 601},
              {-2, -3, 7194}, {-2, -2, 7605}, {-2, -1, 808}, {-1, -3, 89}, {-1, -2, 5345}, {-1, -1, 8883},
              {-1, 0, 1893}, {0, -1, 3435}}},
    {9331, 14, {{-4, -4, 1984}, {-4, -3, 129}, {-3, -4, 7000}, {-3, -3, 7213}, {-3, -2, 512}, {-2, -4, 168},
              {-2, -3, 6072}, {-2, -2, 8318}, {-2, -1, 1149}, {-1, -3, 2}, {-1, -2, 4584}, {-1, -1, 9079},
              {-1, 0, 2042}, {0, -1, 3188}}},
    {9329, 13, {{-4, -4, 2531}, {-4, -3, 595}, {-3, -4, 5531}, {-3, -3, 8318}, {-3, -2, 1015}, {-2, -4, 2},
              {-2, -3, 4814}, {-2, -2, 8882}, {-2, -1, 1553}, {-1, -2, 3829}, {-1, -1, 9212}, {-1, 0, 2198},
              {0, -1, 2961}}},
    {9323, 12, {{-4, -4, 2895}, {-4, -3, 1402}, {-3, -4, 3991}, {-3, -3, 9073}, {-3, -2, 1695}, {-2, -3, 3587},
              {-2, -2, 9215}, {-2, -1, 2019}, {-1, -2, 3152}, {-1, -1, 9298}, {-1, 0, 2371}, {0, -1, 2746}}},
    {9343, 12, {{-4, -4, 3106}, {-4, -3, 2550}, {-3, -4, 2550}, {-3, -3, 9242}, {-3, -2, 2550}, {-2, -3, 2550},
              {-2, -2, 9343}, {-2, -1, 2550}, {-1, -2, 2550}, {-1, -1, 9343}, {-1, 0, 2550}, {0, -1, 2550}}},
};

// Stores the tap of a pair that has dy < 0, or dy = 0 and dx < 0.
constexpr LineTap Canonical(int32_t dy, int32_t dx, uint32_t weight) {
  if (dy > 0 || (dy == 0 && dx > 0)) return LineTap{-dy, -dx, weight};
  return LineTap{dy, dx, weight};
}

constexpr std::array<LineKernel, kLineOrientations> MakeKernels() {
  std::array<LineKernel, kLineOrientations> table{};
  for (int32_t o = 0; o < kListedKernels; ++o) {
    table[o] = kListed[o];
    // 60 - o: rows and columns exchanged.
    LineKernel& turned = table[kQuarterTurn - o];
    turned = kListed[o];
    for (int32_t t = 0; t < turned.count; ++t) {
      const LineTap tap = kListed[o].taps[t];
      turned.taps[t] = Canonical(tap.dx, tap.dy, tap.weight);
    }
  }
  // 120 - o for o = 1..60: columns negated.
  for (int32_t o = 1; o <= kQuarterTurn; ++o) {
    LineKernel& mirrored = table[kLineOrientations - o];
    mirrored = table[o];
    for (int32_t t = 0; t < mirrored.count; ++t) {
      const LineTap tap = table[o].taps[t];
      mirrored.taps[t] = Canonical(tap.dy, -tap.dx, tap.weight);
    }
  }
  return table;
}

constexpr std::array<LineKernel, kLineOrientations> kKernels = MakeKernels();

constexpr bool EveryKernelKeepsTheTotal() {
  for (const LineKernel& kernel : kKernels) {
    uint32_t total = kernel.centre;
    for (int32_t t = 0; t < kernel.count; ++t) total += 2 * kernel.taps[t].weight;
    if (total != kLineWeightTotal) return false;
  }
  return true;
}
static_assert(EveryKernelKeepsTheTotal(), "centre plus both taps of every pair must weigh 112211");

uint8_t SquareMean(const uint8_t* const* around, int32_t w, int32_t h, int32_t x, int32_t y, bool interior) {
  if (interior) {
    uint32_t sum = 0;
    for (int32_t dy = -1; dy <= 1; ++dy) sum += around[dy][x - 1] + around[dy][x] + around[dy][x + 1];
    return static_cast<uint8_t>(sum / kSquareCount);
  }
  uint32_t sum = 0, count = 0;
  for (int32_t dy = -1; dy <= 1; ++dy) {
    if (y + dy < 0 || y + dy >= h) continue;
    for (int32_t dx = -1; dx <= 1; ++dx) {
      if (x + dx < 0 || x + dx >= w) continue;
      sum += around[dy][x + dx];
      ++count;
    }
  }
  return static_cast<uint8_t>(sum / count);
}

// The kernel as windows of 4 pixels for the SSE2 path: each row of the
// 13 x 13 mask that has weights is cut, from its first weighted column, into
// windows of 4 columns (the last one moved left so that no read passes column
// 6), with a weight per window pixel (0 where the kernel has no tap or another
// window takes the column). Two windows make a group of 8 lanes, one
// multiply-add. The weighted sums of the windows add up to the kernel's sum
// over the taps and the centre.
constexpr int32_t kWindowLanes = 4;
constexpr int32_t kGroupLanes = 2 * kWindowLanes;
constexpr int32_t kLastWindowStart = kLineReach + 1 - kWindowLanes;  // window [3, 6]
constexpr int32_t kLineWindowsMax = 2 * kLineRows + 2;
constexpr int32_t kLineGroupsMax = kLineWindowsMax / 2;

struct LineGroups {
  int32_t count;                    // groups; windows 2g and 2g + 1 make group g
  int32_t dy[kLineWindowsMax];      // row of each window
  int32_t start[kLineWindowsMax];   // first column of each window, from the centre
  alignas(16) int16_t weight[kLineGroupsMax][kGroupLanes];
};

constexpr std::array<LineGroups, kLineOrientations> MakeGroups() {
  std::array<LineGroups, kLineOrientations> table{};
  for (int32_t o = 0; o < kLineOrientations; ++o) {
    uint32_t mask[kLineRows][kLineRows] = {};
    const LineKernel& kernel = kKernels[o];
    mask[kLineReach][kLineReach] = kernel.centre;
    for (int32_t t = 0; t < kernel.count; ++t) {
      const LineTap& tap = kernel.taps[t];
      mask[kLineReach + tap.dy][kLineReach + tap.dx] += tap.weight;
      mask[kLineReach - tap.dy][kLineReach - tap.dx] += tap.weight;
    }
    LineGroups& groups = table[o];
    int32_t windows = 0;
    for (int32_t dy = -kLineReach; dy <= kLineReach; ++dy) {
      int32_t low = kLineReach + 1, high = -kLineReach - 1;
      for (int32_t dx = -kLineReach; dx <= kLineReach; ++dx) {
        if (mask[dy + kLineReach][dx + kLineReach] == 0) continue;
        low = dx < low ? dx : low;
        high = dx > high ? dx : high;
      }
      for (int32_t from = low; from <= high; from += kWindowLanes) {
        const int32_t start = from < kLastWindowStart ? from : kLastWindowStart;
        const int32_t to = from + kWindowLanes - 1 < high ? from + kWindowLanes - 1 : high;
        const int32_t i = windows++;
        groups.dy[i] = dy;
        groups.start[i] = start;
        for (int32_t lane = 0; lane < kWindowLanes; ++lane) {
          const int32_t dx = start + lane;
          groups.weight[i / 2][(i % 2) * kWindowLanes + lane] =
              dx >= from && dx <= to ? static_cast<int16_t>(mask[dy + kLineReach][dx + kLineReach]) : 0;
        }
      }
    }
    // An even count of windows: the extra one (the centre's row) weighs nothing.
    if (windows % 2 != 0) {
      groups.dy[windows] = 0;
      groups.start[windows] = 0;
      ++windows;
    }
    groups.count = windows / 2;
  }
  return table;
}

constexpr std::array<LineGroups, kLineOrientations> kGroups = MakeGroups();

// How far the taps of each orientation reach across and along the rows (1
// for the 3 x 3 square of the values without orientation): a pixel of the
// border band whose taps all lie inside the image needs no bounds tests.
struct LineReach {
  int32_t dx[kOrientationBits + 1];
  int32_t dy[kOrientationBits + 1];
};
constexpr LineReach MakeReach() {
  LineReach reach{};
  for (int32_t o = 0; o <= kOrientationBits; ++o) {
    reach.dx[o] = 1;
    reach.dy[o] = 1;
    if (o >= kLineOrientations) continue;
    reach.dx[o] = reach.dy[o] = 0;
    for (int32_t t = 0; t < kKernels[o].count; ++t) {
      const LineTap& tap = kKernels[o].taps[t];
      const int32_t dx = tap.dx < 0 ? -tap.dx : tap.dx, dy = tap.dy < 0 ? -tap.dy : tap.dy;
      reach.dx[o] = dx > reach.dx[o] ? dx : reach.dx[o];
      reach.dy[o] = dy > reach.dy[o] ? dy : reach.dy[o];
    }
  }
  return reach;
}
constexpr LineReach kReach = MakeReach();

constexpr bool GroupsKeepEveryWeight() {
  for (const LineGroups& groups : kGroups) {
    uint32_t total = 0;
    for (int32_t g = 0; g < groups.count; ++g) {
      for (int32_t lane = 0; lane < kGroupLanes; ++lane) {
        if (groups.weight[g][lane] < 0) return false;
        total += static_cast<uint32_t>(groups.weight[g][lane]);
      }
    }
    for (int32_t i = 0; i < 2 * groups.count; ++i) {
      if (groups.start[i] < -kLineReach || groups.start[i] > kLastWindowStart) return false;
    }
    if (total != kLineWeightTotal) return false;
  }
  return true;
}
static_assert(GroupsKeepEveryWeight(), "the row groups must carry every weight of the kernel once");

}  // namespace

const LineKernel& LineKernelOf(uint8_t o) { return kKernels[o]; }

uint8_t LineSmoothPixel(const uint8_t* const* around, int32_t w, int32_t h, int32_t x, int32_t y, uint8_t o,
                        bool interior) {
  if (o >= kLineOrientations) return SquareMean(around, w, h, x, y, interior);
  const LineKernel& kernel = kKernels[o];
  uint32_t sum = kernel.centre * around[0][x];
  if (interior) {
    for (int32_t t = 0; t < kernel.count; ++t) {
      const LineTap& tap = kernel.taps[t];
      sum += tap.weight * (around[tap.dy][x + tap.dx] + around[-tap.dy][x - tap.dx]);
    }
    return static_cast<uint8_t>(sum / kLineWeightTotal);
  }
  uint32_t total = kernel.centre;
  for (int32_t t = 0; t < kernel.count; ++t) {
    const LineTap& tap = kernel.taps[t];
    for (int32_t side = -1; side <= 1; side += 2) {
      const int32_t dy = side * tap.dy, dx = side * tap.dx;
      if (y + dy < 0 || y + dy >= h || x + dx < 0 || x + dx >= w) continue;
      sum += tap.weight * around[dy][x + dx];
      total += tap.weight;
    }
  }
  return static_cast<uint8_t>(sum / total);
}

namespace {

// Kernel sums divided by the total exactly: the sums lie below 255 x 112211
// < 2^25, and with M = ceil(2^48 / 112211) < 2^32 the error n (112211 M -
// 2^48) / 2^48 of (n M) >> 48 stays below n / 2^48 x 112211 < 1 / 112211 for
// every such n.
[[maybe_unused]] constexpr uint64_t kTotalReciprocal =
    ((uint64_t{1} << 48) + kLineWeightTotal - 1) / kLineWeightTotal;
[[maybe_unused]] constexpr int32_t kReciprocalShift = 48;
static_assert(kTotalReciprocal <= UINT32_MAX, "the reciprocal must fit a 32-bit multiplier");

// The 4 bytes from `window` as one value, in memory order.
inline int32_t LoadWindow(const uint8_t* window) {
  int32_t bytes;
  std::memcpy(&bytes, window, sizeof bytes);
  return bytes;
}

// The kernel sum of a pixel p whose taps lie inside the image, by its
// windows, divided by the total.
#ifdef VS_LINE_GROUPS_SSE2
// The kernel sum of p as four partial sums (their total is the sum).
inline __m128i InteriorSums(const uint8_t* p, const LineGroups& groups, const ptrdiff_t* offset) {
  const __m128i zero = _mm_setzero_si128();
  __m128i sum = zero;
  for (int32_t g = 0; g < groups.count; ++g) {
    const __m128i bytes = _mm_unpacklo_epi32(_mm_cvtsi32_si128(LoadWindow(p + offset[2 * g])),
                                             _mm_cvtsi32_si128(LoadWindow(p + offset[2 * g + 1])));
    const __m128i weights = _mm_load_si128(reinterpret_cast<const __m128i*>(groups.weight[g]));
    sum = _mm_add_epi32(sum, _mm_madd_epi16(_mm_unpacklo_epi8(bytes, zero), weights));
  }
  return sum;
}

// Four pixels' kernel sums from their partial sums, one lane each, divided
// by the total exactly (see kTotalReciprocal).
inline int32_t SmoothedFour(__m128i a, __m128i b, __m128i c, __m128i d) {
  const __m128i ab = _mm_add_epi32(_mm_unpacklo_epi32(a, b), _mm_unpackhi_epi32(a, b));  // a0+a2, b0+b2, a1+a3, b1+b3
  const __m128i cd = _mm_add_epi32(_mm_unpacklo_epi32(c, d), _mm_unpackhi_epi32(c, d));
  const __m128i sums = _mm_add_epi32(_mm_unpacklo_epi64(ab, cd), _mm_unpackhi_epi64(ab, cd));
  const __m128i reciprocal = _mm_set1_epi32(static_cast<int32_t>(static_cast<uint32_t>(kTotalReciprocal)));
  const __m128i even = _mm_srli_epi64(_mm_mul_epu32(sums, reciprocal), kReciprocalShift);
  const __m128i odd = _mm_srli_epi64(_mm_mul_epu32(_mm_srli_epi64(sums, 32), reciprocal), kReciprocalShift);
  const __m128i values = _mm_or_si128(even, _mm_slli_epi64(odd, 32));
  const __m128i zero = _mm_setzero_si128();
  return _mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(values, zero), zero));
}
#endif

inline uint8_t InteriorSmooth(const uint8_t* p, const LineGroups& groups, const ptrdiff_t* offset, bool vector) {
#ifdef VS_LINE_GROUPS_SSE2
  if (vector) {
    __m128i sum = InteriorSums(p, groups, offset);
    sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, _MM_SHUFFLE(1, 0, 3, 2)));
    sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, _MM_SHUFFLE(2, 3, 0, 1)));
    return static_cast<uint8_t>(static_cast<uint32_t>(_mm_cvtsi128_si32(sum)) / kLineWeightTotal);
  }
#else
  (void)vector;
#endif
  uint32_t sum = 0;
  for (int32_t i = 0; i < 2 * groups.count; ++i) {
    const uint8_t* window = p + offset[i];
    for (int32_t lane = 0; lane < kWindowLanes; ++lane) {
      sum += static_cast<uint32_t>(groups.weight[i / 2][(i % 2) * kWindowLanes + lane]) * window[lane];
    }
  }
  return static_cast<uint8_t>(sum / kLineWeightTotal);
}

#ifdef VS_LINE_GROUPS_SSE2
// A pixel whose kernel passes the image's edge, from the padded ring rows:
// windows of rows outside the image read nothing, window pixels beyond a
// row's ends read its zero pads, and the total divides by the weights of the
// window pixels inside the image (as LineSmoothPixel's edge rule).
inline uint8_t BorderSmooth(const uint8_t* const* around, int32_t w, int32_t h, int32_t x, int32_t y,
                            const LineGroups& groups) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i lanes = _mm_setr_epi16(0, 1, 2, 3, 0, 1, 2, 3);
  const __m128i ones = _mm_set1_epi16(1);
  __m128i sum = zero, total = zero;
  for (int32_t g = 0; g < groups.count; ++g) {
    int32_t bytes[2] = {0, 0};
    int16_t before[2] = {0, 0}, beyond[2] = {0, 0};  // lanes before..beyond - 1 lie inside
    for (int32_t half = 0; half < 2; ++half) {
      const int32_t i = 2 * g + half;
      const int32_t dy = groups.dy[i];
      if (y + dy < 0 || y + dy >= h) continue;
      const int32_t first = x + groups.start[i];  // image column of the window's first pixel, -6 .. w + 2
      bytes[half] = LoadWindow(around[dy] + first);
      before[half] = static_cast<int16_t>(first < 0 ? -first : 0);
      beyond[half] = static_cast<int16_t>(w - first < kWindowLanes ? w - first : kWindowLanes);
    }
    const __m128i pixels = _mm_unpacklo_epi8(
        _mm_unpacklo_epi32(_mm_cvtsi32_si128(bytes[0]), _mm_cvtsi32_si128(bytes[1])), zero);
    const __m128i weights = _mm_load_si128(reinterpret_cast<const __m128i*>(groups.weight[g]));
    sum = _mm_add_epi32(sum, _mm_madd_epi16(pixels, weights));
    const __m128i low = _mm_setr_epi16(before[0], before[0], before[0], before[0], before[1], before[1], before[1],
                                       before[1]);
    const __m128i high = _mm_setr_epi16(beyond[0], beyond[0], beyond[0], beyond[0], beyond[1], beyond[1], beyond[1],
                                        beyond[1]);
    const __m128i inside = _mm_andnot_si128(_mm_cmpgt_epi16(low, lanes), _mm_cmpgt_epi16(high, lanes));
    total = _mm_add_epi32(total, _mm_madd_epi16(_mm_and_si128(weights, inside), ones));
  }
  sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, _MM_SHUFFLE(1, 0, 3, 2)));
  sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, _MM_SHUFFLE(2, 3, 0, 1)));
  total = _mm_add_epi32(total, _mm_shuffle_epi32(total, _MM_SHUFFLE(1, 0, 3, 2)));
  total = _mm_add_epi32(total, _mm_shuffle_epi32(total, _MM_SHUFFLE(2, 3, 0, 1)));
  return static_cast<uint8_t>(static_cast<uint32_t>(_mm_cvtsi128_si32(sum)) /
                              static_cast<uint32_t>(_mm_cvtsi128_si32(total)));
}
#endif

#ifdef VS_WIDE_VECTORS
// Thirty-two pixels of a row at a time with one pixel a 16-bit lane
// (AVX-512). The weights of a kernel position for every orientation lie in a
// table row, so lanes of different orientations take their weights by one
// permutation of 32 table entries, as long as the block's orientations span
// fewer than 32 (mod 120), else of 64 entries from two table loads (blocks
// spanning 64 or more go two arcs of orientations, one at a time; most such
// blocks lie in the background, where orientations are noise). A block
// visits every position that some orientation of its span
// weighs, the pair (dy, dx), (-dy, -dx) together: two loads from a ring of
// the entry rows widened to 16 bits, their sum (at most 510) in 16 bits once
// with the odd lanes zeroed and once with the even lanes zeroed, and a
// multiply-add of each with the lanes' weights, into 32-bit sums of the even
// and of the odd pixels. The loop over a block's positions takes two at a
// time; a missing second one is position kSetBits, which weighs nothing.
constexpr int32_t kWideLanes = 32;
constexpr size_t kWideLead = 32;    // 16-bit zeros before each row of the widened ring (64 bytes)
constexpr uintptr_t kWideAlign = 64;
constexpr int32_t kArc = 32;                                    // orientations one permutation of a table load covers
constexpr int32_t kWideArc = 2 * kArc;                          // orientations a block spanning more takes at once
constexpr int32_t kWrapped = kLineOrientations + kWideArc;      // table columns: o, then 0..63 again
constexpr int32_t kPairPositions = kLineReach * kLineRows + kLineReach;  // (dy, dx) with dy < 0, or dy = 0, dx < 0
constexpr int32_t kArcLevels = 7;                               // spans of 1, 2, 4 .. 64 orientations
constexpr int32_t kSetBits = 64;                                // positions a set (one 64-bit word) holds
constexpr __mmask32 kEvenLanes = 0x55555555;
constexpr __mmask32 kOddLanes = 0xAAAAAAAA;
// Exact division of a 3 x 3 sum (at most 2295) by 9: (n x 7282) >> 16.
constexpr int32_t kNinthReciprocal = 7282;

// The position index of a stored tap (dy < 0, or dy = 0 and dx < 0).
constexpr int32_t PairIndex(int32_t dy, int32_t dx) { return (dy + kLineReach) * kLineRows + dx + kLineReach; }

// The pair positions that some kernel weighs, numbered in order.
struct WidePositions {
  int32_t count;
  int32_t dy[kPairPositions];
  int32_t dx[kPairPositions];
};
constexpr WidePositions MakeWidePositions() {
  bool used[kPairPositions] = {};
  for (const LineKernel& kernel : kKernels) {
    for (int32_t t = 0; t < kernel.count; ++t) used[PairIndex(kernel.taps[t].dy, kernel.taps[t].dx)] = true;
  }
  WidePositions positions{};
  for (int32_t k = 0; k < kPairPositions; ++k) {
    if (!used[k]) continue;
    positions.dy[positions.count] = k / kLineRows - kLineReach;
    positions.dx[positions.count] = k % kLineRows - kLineReach;
    ++positions.count;
  }
  return positions;
}
constexpr WidePositions kPositions = MakeWidePositions();
constexpr int32_t kWidePositions = kPositions.count;
static_assert(kWidePositions < kSetBits, "a position set must be one 64-bit word");
// Position kSetBits (what tzcnt gives for an empty set) and the unused ones
// weigh nothing, at offset 0.
constexpr int32_t kWideRows = kSetBits + 1;

struct WideTables {
  alignas(64) int16_t pair[kWideRows][kWrapped];  // weight of each position per orientation (mod 120)
  alignas(64) int16_t centre[kWrapped];
  // Positions weighed by orientations o .. o + 2^j - 1 (mod 120).
  uint64_t uses[kArcLevels][kWrapped];
};

constexpr WideTables MakeWideTables() {
  WideTables t{};
  for (int32_t c = 0; c < kWrapped; ++c) {
    const LineKernel& kernel = kKernels[c % kLineOrientations];
    t.centre[c] = static_cast<int16_t>(kernel.centre);
    for (int32_t i = 0; i < kernel.count; ++i) {
      int32_t k = 0;
      while (kPositions.dy[k] != kernel.taps[i].dy || kPositions.dx[k] != kernel.taps[i].dx) ++k;
      t.pair[k][c] = static_cast<int16_t>(t.pair[k][c] + static_cast<int32_t>(kernel.taps[i].weight));
      t.uses[0][c] |= uint64_t{1} << k;
    }
  }
  for (int32_t j = 1; j < kArcLevels; ++j) {
    const int32_t half = 1 << (j - 1);
    for (int32_t c = 0; c + half < kWrapped; ++c) t.uses[j][c] = t.uses[j - 1][c] | t.uses[j - 1][c + half];
  }
  return t;
}

constexpr WideTables kWide = MakeWideTables();

constexpr bool WeightsFitSignedWords() {
  for (const LineKernel& kernel : kKernels) {
    if (kernel.centre > INT16_MAX) return false;
    for (int32_t t = 0; t < kernel.count; ++t) {
      if (kernel.taps[t].weight > INT16_MAX) return false;
    }
  }
  return true;
}
static_assert(WeightsFitSignedWords(), "the multiply-add reads the weights as signed 16-bit values");

// Divisions of the lanes within 6 columns of a row's ends: the taps (both of
// each pair) that pass the left end of the image weigh `outside`, by
// orientation and column 0..5; at the right end the kernel of the mirrored
// orientation (120 - o) passes by the same weight. The division by the total
// less that weight is, as the one by the full total, an exact multiplication
// by ceil(2^48 / divisor) and a shift: the sums lie below 2^25 and the
// divisors below 2^17, so the product's error stays below one divisor's part
// of 1. By orientation and by column from the left end (left) or from the
// right end (right).
struct SideWeights {
  uint64_t left[kLineOrientations][kLineReach];
  uint64_t right[kLineOrientations][kLineReach];
};
constexpr SideWeights MakeSideWeights() {
  uint32_t outside[kLineOrientations][kLineReach] = {};
  for (int32_t o = 0; o < kLineOrientations; ++o) {
    for (int32_t x = 0; x < kLineReach; ++x) {
      for (int32_t t = 0; t < kKernels[o].count; ++t) {
        const LineTap& tap = kKernels[o].taps[t];
        if (x + tap.dx < 0) outside[o][x] += tap.weight;
        if (x - tap.dx < 0) outside[o][x] += tap.weight;
      }
    }
  }
  SideWeights side{};
  for (int32_t o = 0; o < kLineOrientations; ++o) {
    for (int32_t x = 0; x < kLineReach; ++x) {
      const uint64_t left = kLineWeightTotal - outside[o][x];
      const uint64_t right = kLineWeightTotal - outside[(kLineOrientations - o) % kLineOrientations][x];
      side.left[o][x] = ((uint64_t{1} << kReciprocalShift) + left - 1) / left;
      side.right[o][x] = ((uint64_t{1} << kReciprocalShift) + right - 1) / right;
    }
  }
  return side;
}
constexpr SideWeights kSide = MakeSideWeights();
static_assert(kReciprocalShift == 48 && kLineWeightTotal < (uint32_t{1} << 17),
              "sums below 2^25 times a divisor below 2^17 must stay below 2^48");

// Which blocks: every kernel inside the image; in rows whose kernels all lie
// between the top and bottom rows, blocks with columns within 6 of the left
// or right end; blocks of the border rows (and of rows too narrow for any
// block of the first kind).
enum class WideKind { kInner, kSide, kBorder };

VS_WIDE_CODE_BEGIN

// A row for the 32-pixel blocks.
struct WideRow {
  const int16_t* centre;    // the row in the ring of widened pixels
  const ptrdiff_t* offset;  // ring offset of each kernel position (dy, dx); (-dy, -dx) lies at its negation
  const int16_t* inside;    // 1 at columns 0..w - 1 and 0 at the 6 columns on either side
  const int16_t* zero;      // 32 zeros, read in place of rows outside the image
  ptrdiff_t stride;         // between ring rows
  int32_t w;
  int32_t above;            // image rows above this one
  int32_t below;            // image rows below it
};

VS_AVX512 inline __m512i WidePixels(const int16_t* p) { return _mm512_loadu_si512(p); }

// Row pixels as 16-bit values, for the ring of widened pixels.
VS_AVX512 void WidenRow(const uint8_t* from, int32_t w, int16_t* to, int16_t* copy) {
  int32_t x = 0;
  for (; x + kWideLanes <= w; x += kWideLanes) {
    const __m512i pixels = _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + x)));
    _mm512_storeu_si512(to + x, pixels);
    _mm512_storeu_si512(copy + x, pixels);
  }
  for (; x < w; ++x) to[x] = copy[x] = from[x];
}

// Kernel sums of 16 lanes divided by kLineWeightTotal (see kTotalReciprocal).
VS_AVX512 inline __m512i WideTotalQuotients(__m512i sum) {
  const __m512i reciprocal = _mm512_set1_epi32(static_cast<int32_t>(static_cast<uint32_t>(kTotalReciprocal)));
  const __m512i even = _mm512_srli_epi64(_mm512_mul_epu32(sum, reciprocal), kReciprocalShift);
  const __m512i odd = _mm512_srli_epi64(_mm512_mul_epu32(_mm512_srli_epi64(sum, 32), reciprocal), kReciprocalShift);
  return _mm512_or_si512(even, _mm512_slli_epi64(odd, 32));
}

// Quotients of the even lanes' and the odd lanes' sums (each below 256) as
// the 32 lanes' 16-bit values.
VS_AVX512 inline __m512i InterleaveWords(__m512i even, __m512i odd) {
  return _mm512_or_si512(even, _mm512_slli_epi32(odd, 16));
}

// The smallest and the largest of the 16-bit lanes `mask` selects (not empty).
VS_AVX512 inline uint32_t SmallestWord(__mmask32 mask, __m512i v) {
  const __m512i masked = _mm512_mask_mov_epi16(_mm512_set1_epi16(-1), mask, v);
  const __m256i half = _mm256_min_epu16(_mm512_castsi512_si256(masked), _mm512_extracti64x4_epi64(masked, 1));
  const __m128i quarter = _mm_min_epu16(_mm256_castsi256_si128(half), _mm256_extracti128_si256(half, 1));
  return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_minpos_epu16(quarter))) & 0xFFFF;
}
VS_AVX512 inline uint32_t LargestWord(__mmask32 mask, __m512i v) {
  return 0xFFFF - SmallestWord(mask, _mm512_xor_si512(v, _mm512_set1_epi16(-1)));
}

// The lanes' weights from a table row whose entry `from` is for
// orientation base (index[lane] = orientation - base): from 16 entries
// (when the lanes' orientations span fewer than 16; a load that crosses a
// cache line less often), 32 or 64.
template <int32_t kEntries>
VS_AVX512 inline __m512i LaneWeights(__m512i index, const int16_t* from) {
  if (kEntries == 16) {
    return _mm512_permutexvar_epi16(index,
                                    _mm512_zextsi256_si512(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(from))));
  }
  if (kEntries == 32) return _mm512_permutexvar_epi16(index, _mm512_loadu_si512(from));
  return _mm512_permutex2var_epi16(_mm512_loadu_si512(from), index, _mm512_loadu_si512(from + 32));
}

// A block's weighted sums, of its even lanes and of its odd lanes, and (for
// border blocks) the weights they total.
struct WideSums {
  __m512i even, odd, evenTotal, oddTotal;
};

// Takes the sums of the lanes of `part` from `from`.
VS_AVX512 inline void TakeSums(WideSums& sums, __mmask32 part, const WideSums& from) {
  const __mmask16 even = static_cast<__mmask16>(_pext_u32(part, kEvenLanes));
  const __mmask16 odd = static_cast<__mmask16>(_pext_u32(part, kOddLanes));
  sums.even = _mm512_mask_mov_epi32(sums.even, even, from.even);
  sums.odd = _mm512_mask_mov_epi32(sums.odd, odd, from.odd);
  sums.evenTotal = _mm512_mask_mov_epi32(sums.evenTotal, even, from.evenTotal);
  sums.oddTotal = _mm512_mask_mov_epi32(sums.oddTotal, odd, from.oddTotal);
}

// acc + the products of a and b's 16-bit lanes, summed in pairs.
VS_AVX512 inline __m512i MultiplyAdd(__m512i acc, __m512i a, __m512i b) {
  return _mm512_add_epi32(acc, _mm512_madd_epi16(a, b));
}

// The line values of a block whose lanes' orientations lie in base .. base +
// span (mod 120, span < 64), index[lane] = orientation - base: every kernel
// position some orientation of the span weighs, the pair (dy, dx), (-dy,
// -dx) at a time. Window reads beyond a row's ends fall into its zero pads.
// Border blocks read zeros for rows outside the image and also total the
// weights of the positions inside it, counted like the pixels from a row of
// 1 inside the image and 0 beyond its ends.
template <WideKind kKind, int32_t kEntries>
VS_AVX512 inline WideSums WideLines(const WideRow& row, const int16_t* c, int32_t x0, __m512i index, uint32_t base,
                                    uint32_t span) {
  constexpr bool kBorder = kKind == WideKind::kBorder;
  const int32_t level = 31 - __builtin_clz(span + 1);
  const uint64_t positions = kWide.uses[level][base] | kWide.uses[level][base + span + 1 - (1u << level)];
  const __m512i centres = LaneWeights<kEntries>(index, kWide.centre + base);
  const __m512i centreEven = _mm512_maskz_mov_epi16(kEvenLanes, centres);
  const __m512i centreOdd = _mm512_maskz_mov_epi16(kOddLanes, centres);
  const __m512i pixels = WidePixels(c);
  __m512i even = _mm512_madd_epi16(pixels, centreEven);
  __m512i odd = _mm512_madd_epi16(pixels, centreOdd);
  __m512i evenTotal = centreEven, oddTotal = _mm512_srli_epi32(centreOdd, 16);
  const int16_t* inside = row.inside + x0;
  if (!kBorder) {
    // Two positions at a time, into two pairs of sums.
    __m512i even2 = _mm512_setzero_si512(), odd2 = _mm512_setzero_si512();
    for (uint64_t set = positions; set != 0;) {
      const uint64_t k = _tzcnt_u64(set);
      set = _blsr_u64(set);
      const uint64_t k2 = _tzcnt_u64(set);
      set = _blsr_u64(set);
      // The lanes' weights; the even lanes' pixels (odd lanes zero) and the odd lanes'.
      const __m512i weights = LaneWeights<kEntries>(index, kWide.pair[k] + base);
      const __m512i weights2 = LaneWeights<kEntries>(index, kWide.pair[k2] + base);
      const ptrdiff_t offset = row.offset[k], offset2 = row.offset[k2];
      const __m512i plus = WidePixels(c + offset), minus = WidePixels(c - offset);
      const __m512i plus2 = WidePixels(c + offset2), minus2 = WidePixels(c - offset2);
      even = MultiplyAdd(even, _mm512_maskz_add_epi16(kEvenLanes, plus, minus), weights);
      odd = MultiplyAdd(odd, _mm512_maskz_add_epi16(kOddLanes, plus, minus), weights);
      even2 = MultiplyAdd(even2, _mm512_maskz_add_epi16(kEvenLanes, plus2, minus2), weights2);
      odd2 = MultiplyAdd(odd2, _mm512_maskz_add_epi16(kOddLanes, plus2, minus2), weights2);
    }
    even = _mm512_add_epi32(even, even2);
    odd = _mm512_add_epi32(odd, odd2);
  }
  for (uint64_t set = kBorder ? positions : 0; set != 0; set &= set - 1) {
    const int32_t k = __builtin_ctzll(set);
    const __m512i weights = LaneWeights<kEntries>(index, kWide.pair[k] + base);
    const __m512i weightEven = _mm512_maskz_mov_epi16(kEvenLanes, weights);
    const __m512i weightOdd = _mm512_maskz_mov_epi16(kOddLanes, weights);
    const ptrdiff_t offset = row.offset[k];
    const int32_t dy = kPositions.dy[k], dx = kPositions.dx[k];  // dy <= 0
    const bool up = -dy <= row.above, down = -dy <= row.below;
    const __m512i sum = _mm512_add_epi16(WidePixels(up ? c + offset : row.zero), WidePixels(down ? c - offset : row.zero));
    const __m512i used =
        _mm512_add_epi16(WidePixels(up ? inside + dx : row.zero), WidePixels(down ? inside - dx : row.zero));
    even = MultiplyAdd(even, sum, weightEven);
    odd = MultiplyAdd(odd, sum, weightOdd);
    evenTotal = MultiplyAdd(evenTotal, used, weightEven);
    oddTotal = MultiplyAdd(oddTotal, used, weightOdd);
  }
  return WideSums{even, odd, evenTotal, oddTotal};
}

// The 3 x 3 means of a block (of the pixels inside the image, at its edges),
// as 16-bit lanes; `x` holds the lanes' columns.
template <WideKind kKind>
VS_AVX512 inline __m512i WideSquares(const WideRow& row, const int16_t* c, __m512i x) {
  constexpr bool kBorder = kKind == WideKind::kBorder;
  __m512i sum = _mm512_setzero_si512();
  int32_t rows = 0;
  for (int32_t dy = -1; dy <= 1; ++dy) {
    if (kBorder && (dy < -row.above || dy > row.below)) continue;
    ++rows;
    for (int32_t dx = -1; dx <= 1; ++dx) sum = _mm512_add_epi16(sum, WidePixels(c + dy * row.stride + dx));
  }
  if (kKind == WideKind::kInner) return _mm512_mulhi_epu16(sum, _mm512_set1_epi16(kNinthReciprocal));
  const __m512i one = _mm512_set1_epi16(1);
  __m512i columns = _mm512_set1_epi16(3);
  columns = _mm512_mask_sub_epi16(columns, _mm512_cmpeq_epi16_mask(x, _mm512_setzero_si512()), columns, one);
  columns = _mm512_mask_sub_epi16(columns, _mm512_cmpeq_epi16_mask(x, _mm512_set1_epi16(static_cast<int16_t>(row.w - 1))),
                                  columns, one);
  const __m512i count = _mm512_mullo_epi16(columns, _mm512_set1_epi16(static_cast<int16_t>(rows)));
  const __m512i low = _mm512_set1_epi32(0xFFFF);
  return InterleaveWords(SmallQuotients(_mm512_and_si512(sum, low), _mm512_and_si512(count, low)),
                         SmallQuotients(_mm512_srli_epi32(sum, 16), _mm512_srli_epi32(count, 16)));
}

// Inlined also into the side and border blocks (measured faster than a call
// returning the four sums through memory).
template <WideKind kKind>
VS_AVX512 inline __attribute__((always_inline)) WideSums WideLines(const WideRow& row, const int16_t* c, int32_t x0,
                                                                   __m512i index, uint32_t base, uint32_t span) {
  constexpr uint32_t kNarrowSpan = 16;
  if (span < kNarrowSpan) return WideLines<kKind, kNarrowSpan>(row, c, x0, index, base, span);
  if (span < kArc) return WideLines<kKind, kArc>(row, c, x0, index, base, span);
  return WideLines<kKind, kWideArc>(row, c, x0, index, base, span);
}

// kBlocks neighbouring inner blocks (from c) whose smoothed pixels'
// orientations all lie in base .. base + span together (span < 32,
// index[block][lane] = orientation - base): each position's offset and table
// row are read once for all of them. Their values as 16-bit lanes.
template <int32_t kEntries, int32_t kBlocks>
VS_AVX512 inline void WideLineRun(const WideRow& row, const int16_t* c, const __m512i* index, uint32_t base,
                                  uint32_t span, __m512i* values) {
  const int32_t level = 31 - __builtin_clz(span + 1);
  const uint64_t positions = kWide.uses[level][base] | kWide.uses[level][base + span + 1 - (1u << level)];
  __m512i even[kBlocks], odd[kBlocks];
  for (int32_t block = 0; block < kBlocks; ++block) {
    const __m512i centres = LaneWeights<kEntries>(index[block], kWide.centre + base);
    const __m512i pixels = WidePixels(c + block * kWideLanes);
    even[block] = _mm512_madd_epi16(_mm512_maskz_mov_epi16(kEvenLanes, pixels), centres);
    odd[block] = _mm512_madd_epi16(_mm512_maskz_mov_epi16(kOddLanes, pixels), centres);
  }
  for (uint64_t set = positions; set != 0; set = _blsr_u64(set)) {
    const uint64_t k = _tzcnt_u64(set);
    const int16_t* weights = kWide.pair[k] + base;
    const ptrdiff_t offset = row.offset[k];
    for (int32_t block = 0; block < kBlocks; ++block) {
      const __m512i lanes = LaneWeights<kEntries>(index[block], weights);
      const int16_t* p = c + block * kWideLanes;
      const __m512i plus = WidePixels(p + offset), minus = WidePixels(p - offset);
      even[block] = MultiplyAdd(even[block], _mm512_maskz_add_epi16(kEvenLanes, plus, minus), lanes);
      odd[block] = MultiplyAdd(odd[block], _mm512_maskz_add_epi16(kOddLanes, plus, minus), lanes);
    }
  }
  for (int32_t block = 0; block < kBlocks; ++block) {
    values[block] = InterleaveWords(WideTotalQuotients(even[block]), WideTotalQuotients(odd[block]));
  }
}

// Smooths kBlocks neighbouring inner blocks from column x0 at once when the
// orientations of all the pixels they smooth span fewer than 32 together
// (mod 120) and none of those pixels lacks an orientation; false (nothing
// done) otherwise.
template <int32_t kBlocks>
VS_AVX512 inline bool WideRun(const WideRow& row, const uint8_t* orientation, const uint8_t* counts, uint8_t* out,
                              int32_t x0) {
  const __m512i bits = _mm512_set1_epi16(kOrientationBits);
  const __m512i none = _mm512_set1_epi16(-1);
  const __mmask32 all = 0xFFFFFFFF;
  __m512i o[kBlocks];
  __mmask32 selected[kBlocks];
  __m512i lowest = none, highest = _mm512_setzero_si512();
  for (int32_t block = 0; block < kBlocks; ++block) {
    const int32_t x = x0 + block * kWideLanes;
    selected[block] = all;
    if (counts != nullptr) {
      selected[block] = _mm256_test_epi8_mask(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(counts + x)),
                                              _mm256_set1_epi8(static_cast<char>(kPassCountMask)));
    }
    o[block] = _mm512_and_si512(
        _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(orientation + x))), bits);
    const __mmask32 line = _mm512_cmplt_epu16_mask(o[block], _mm512_set1_epi16(kLineOrientations));
    if (selected[block] == 0 || (selected[block] & ~line) != 0) return false;
    lowest = _mm512_min_epu16(lowest, _mm512_mask_mov_epi16(none, selected[block], o[block]));
    highest = _mm512_max_epu16(highest, _mm512_maskz_mov_epi16(selected[block], o[block]));
  }
  uint32_t low = SmallestWord(all, lowest);
  uint32_t span = LargestWord(all, highest) - low;
  uint32_t base = low;
  if (span >= static_cast<uint32_t>(kArc)) {
    // Measured from a quarter turn away, orientations round 0 lie together.
    const __m512i orientations = _mm512_set1_epi16(kLineOrientations);
    lowest = none;
    highest = _mm512_setzero_si512();
    for (int32_t block = 0; block < kBlocks; ++block) {
      __m512i turned = _mm512_add_epi16(o[block], _mm512_set1_epi16(kQuarterTurn));
      turned = _mm512_mask_sub_epi16(turned, _mm512_cmpge_epu16_mask(turned, orientations), turned, orientations);
      o[block] = turned;
      lowest = _mm512_min_epu16(lowest, _mm512_mask_mov_epi16(none, selected[block], turned));
      highest = _mm512_max_epu16(highest, _mm512_maskz_mov_epi16(selected[block], turned));
    }
    low = SmallestWord(all, lowest);
    span = LargestWord(all, highest) - low;
    if (span >= static_cast<uint32_t>(kArc)) return false;
    base = low >= kQuarterTurn ? low - kQuarterTurn : low + kQuarterTurn;
  }
  __m512i index[kBlocks], values[kBlocks];
  for (int32_t block = 0; block < kBlocks; ++block) {
    index[block] = _mm512_sub_epi16(o[block], _mm512_set1_epi16(static_cast<int16_t>(low)));
  }
  if (span < static_cast<uint32_t>(kArc / 2)) {
    WideLineRun<kArc / 2, kBlocks>(row, row.centre + x0, index, base, span, values);
  } else {
    WideLineRun<kArc, kBlocks>(row, row.centre + x0, index, base, span, values);
  }
  for (int32_t block = 0; block < kBlocks; ++block) {
    _mm256_mask_storeu_epi8(out + x0 + block * kWideLanes, selected[block], _mm512_cvtepi16_epi8(values[block]));
  }
  return true;
}

// Smooths the pixels from .. to - 1 (at least 32 of them) of a row, 32 at a
// time (the last block may overlap its neighbour), all blocks of one kind.
template <WideKind kKind>
VS_AVX512 void WideBlocks(const WideRow& row, const uint8_t* orientation, const uint8_t* counts, uint8_t* out,
                          int32_t from, int32_t to) {
  const __m512i bits = _mm512_set1_epi16(kOrientationBits);
  const __m512i orientations = _mm512_set1_epi16(kLineOrientations);
  const __m512i quarter = _mm512_set1_epi16(kQuarterTurn);
  const __m512i wideArc = _mm512_set1_epi16(kWideArc);
  const __m512i lanes = _mm512_set_epi16(31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16, 15, 14, 13,
                                         12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
  const __m256i countBits = _mm256_set1_epi8(static_cast<char>(kPassCountMask));
  for (int32_t next = from; next < to; next += kWideLanes) {
    // Two inner blocks at once where their orientations allow (four at once
    // measured no faster).
    if (kKind == WideKind::kInner && next + 2 * kWideLanes <= to && WideRun<2>(row, orientation, counts, out, next)) {
      next += kWideLanes;
      continue;
    }
    const int32_t x0 = next + kWideLanes <= to ? next : to - kWideLanes;
    __mmask32 selected = 0xFFFFFFFF;
    if (counts != nullptr) {
      selected = _mm256_test_epi8_mask(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(counts + x0)), countBits);
      if (selected == 0) continue;
    }
    const __m512i o = _mm512_and_si512(
        _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(orientation + x0))), bits);
    const __mmask32 line = _mm512_cmplt_epu16_mask(o, orientations);
    const int16_t* c = row.centre + x0;
    __m512i result = _mm512_setzero_si512();
    const __mmask32 need = line & selected;
    if (need != 0) {
      WideSums sums{};
      const uint32_t low = SmallestWord(need, o);
      const uint32_t span = LargestWord(need, o) - low;
      // Measured from a quarter turn away, orientations round 0 lie together.
      __m512i turned = _mm512_add_epi16(o, quarter);
      turned = _mm512_mask_sub_epi16(turned, _mm512_cmpge_epu16_mask(turned, orientations), turned, orientations);
      const uint32_t turnedLow = span < kArc ? 0 : SmallestWord(need, turned);
      const uint32_t turnedSpan = span < kArc ? 0 : LargestWord(need, turned) - turnedLow;
      if (span < kArc || (span < kWideArc && span <= turnedSpan)) {
        sums = WideLines<kKind>(row, c, x0, _mm512_sub_epi16(o, _mm512_set1_epi16(static_cast<int16_t>(low))), low,
                                span);
      } else if (turnedSpan < kWideArc) {
        const uint32_t base = turnedLow >= kQuarterTurn ? turnedLow - kQuarterTurn : turnedLow + kQuarterTurn;
        sums = WideLines<kKind>(row, c, x0,
                                _mm512_sub_epi16(turned, _mm512_set1_epi16(static_cast<int16_t>(turnedLow))), base,
                                turnedSpan);
      } else {
        // Orientations spanning 64 or more: the lanes from the smallest on
        // that span fewer than 64, then the others (which span fewer than
        // 56 and hold the largest).
        const __m512i index = _mm512_sub_epi16(o, _mm512_set1_epi16(static_cast<int16_t>(low)));
        const __mmask32 part = need & _mm512_cmplt_epu16_mask(index, wideArc);
        TakeSums(sums, part, WideLines<kKind>(row, c, x0, index, low, LargestWord(part, o) - low));
        const __mmask32 rest = static_cast<__mmask32>(need & ~part);
        const uint32_t from = SmallestWord(rest, o);
        TakeSums(sums, rest,
                 WideLines<kKind>(row, c, x0, _mm512_sub_epi16(o, _mm512_set1_epi16(static_cast<int16_t>(from))), from,
                                  low + span - from));
      }
      if (kKind == WideKind::kBorder) {
        result = InterleaveWords(SmallQuotients(sums.even, sums.evenTotal), SmallQuotients(sums.odd, sums.oddTotal));
      } else {
        result = InterleaveWords(WideTotalQuotients(sums.even), WideTotalQuotients(sums.odd));
      }
      if (kKind == WideKind::kSide) {
        // Lanes within 6 columns of either end divide by the total less the
        // weights outside the image, one at a time (by its reciprocal).
        alignas(64) int32_t sum[kWideLanes];
        _mm512_store_si512(sum, sums.even);
        _mm512_store_si512(sum + kWideLanes / 2, sums.odd);
        const int32_t right = row.w - kLineReach > x0 ? row.w - kLineReach : x0;
        for (int32_t x = x0 < kLineReach ? x0 : right; x < x0 + kWideLanes; x = x + 1 == kLineReach ? right : x + 1) {
          const int32_t lane = x - x0;
          if ((need >> lane & 1) == 0) continue;
          const uint8_t v = static_cast<uint8_t>(orientation[x] & kOrientationBits);
          const uint64_t reciprocal = x < kLineReach ? kSide.left[v][x] : kSide.right[v][row.w - 1 - x];
          const uint64_t quotient =
              static_cast<uint64_t>(static_cast<uint32_t>(sum[(lane % 2) * (kWideLanes / 2) + lane / 2])) * reciprocal >>
              kReciprocalShift;
          result = _mm512_mask_set1_epi16(result, __mmask32{1} << lane, static_cast<int16_t>(quotient));
        }
      }
    }
    if ((~line & selected) != 0) {
      const __m512i x = _mm512_add_epi16(lanes, _mm512_set1_epi16(static_cast<int16_t>(x0)));
      result = _mm512_mask_mov_epi16(result, static_cast<__mmask32>(~line), WideSquares<kKind>(row, c, x));
    }
    _mm256_mask_storeu_epi8(out + x0, selected, _mm512_cvtepi16_epi8(result));
  }
}
VS_WIDE_CODE_END
#endif

}  // namespace

bool LineRowRing::Allocate(int32_t w, int32_t h, SimdLevel level) {
  w_ = w;
  h_ = h;
  level_ = level;
  slots_ = h < kLineRows ? h : kLineRows;
  stride_ = static_cast<size_t>(w > 0 ? w : 0) + 2 * kLineReach;
  const size_t size = 2 * static_cast<size_t>(slots_) * stride_;
  wide_ = false;
  rows_.reset();
  offsets_.reset();
  wideOffsets_.reset();
  wideRows_.reset();
  wideInside_.reset();
#ifdef VS_WIDE_VECTORS
  if (level_ == SimdLevel::kAvx512 && w >= kWideLanes) {
    // The 32-pixel blocks read only their own ring of 16-bit rows, which
    // start 64-byte aligned (with 32 zeros before each row and at least 6
    // after it), so that the centre block's reads lie on cache lines.
    wide_ = true;
    stride_ = (static_cast<size_t>(w) + kWideLead + kLineReach + kWideLead - 1) / kWideLead * kWideLead;
    const size_t wideSize = 2 * static_cast<size_t>(slots_) * stride_ + kWideLead;
    wideOffsets_.reset(new (std::nothrow) ptrdiff_t[kWideRows]());
    wideRows_.reset(new (std::nothrow) int16_t[wideSize]());  // pads zeroed once, as below
    wideInside_.reset(new (std::nothrow) int16_t[stride_ + kWideLanes]());
    if (wideOffsets_ == nullptr || wideRows_ == nullptr || wideInside_ == nullptr) return false;
    const uintptr_t start = reinterpret_cast<uintptr_t>(wideRows_.get());
    wideBase_ = wideRows_.get() + (kWideAlign - start % kWideAlign) % kWideAlign / sizeof(int16_t);
    for (int32_t k = 0; k < kWidePositions; ++k) {
      wideOffsets_[k] = static_cast<ptrdiff_t>(kPositions.dy[k]) * static_cast<ptrdiff_t>(stride_) + kPositions.dx[k];
    }
    for (int32_t x = 0; x < w; ++x) wideInside_[kLineReach + x] = 1;
    return true;
  }
#endif
  // Zeroed once: the pads keep that value (no tap weighs them).
  rows_.reset(new (std::nothrow) uint8_t[size > 0 ? size : 1]());
  offsets_.reset(new (std::nothrow) Offsets[kLineOrientations]);
  if (rows_ == nullptr || offsets_ == nullptr) return false;
  for (int32_t o = 0; o < kLineOrientations; ++o) {
    const LineGroups& groups = kGroups[o];
    for (int32_t i = 0; i < 2 * groups.count; ++i) {
      offsets_[o].offset[i] = static_cast<ptrdiff_t>(groups.dy[i]) * static_cast<ptrdiff_t>(stride_) + groups.start[i];
    }
  }
  return true;
}

uint8_t* LineRowRing::Slot(int32_t slot) const { return rows_.get() + static_cast<size_t>(slot) * stride_ + kLineReach; }

int16_t* LineRowRing::WideSlot(int32_t slot) const {
#ifdef VS_WIDE_VECTORS
  return wideBase_ + static_cast<size_t>(slot) * stride_ + kWideLead;
#else
  return wideBase_ + static_cast<size_t>(slot) * stride_;
#endif
}

void LineRowRing::Around(int32_t y) {
  if (wide_) return;  // the 16-bit rows are widened as SmoothRow needs them
  // Row y + 6 takes the slots of row y - 7, which no kernel of row y reads.
  const size_t width = static_cast<size_t>(w_);
  for (; copied_ <= y + kLineReach && copied_ < h_; ++copied_) {
    std::memcpy(Slot(copied_ % slots_), image_[copied_], width);
    std::memcpy(Slot(copied_ % slots_ + slots_), image_[copied_], width);
  }
  for (int32_t d = -kLineReach; d <= kLineReach; ++d) {
    around_[d + kLineReach] = y + d >= 0 && y + d < h_ ? Slot((y + d) % slots_) : nullptr;
  }
  // Rows y - 6 .. y + 6 lie one after another from the slot of row y - 6
  // (slots below it wrap to their second copies); near the top, rows 0 ..
  // y + 6 do so from slot 0.
  centre_ = y >= kLineReach ? Slot((y - kLineReach) % slots_ + kLineReach) : Slot(y);
}

void LineRowRing::SmoothRow(int32_t y, const uint8_t* orientation, const uint8_t* counts, uint8_t* out) {
  const uint8_t* const* around = around_ + kLineReach;
  const uint8_t* centre = centre_;
  const ptrdiff_t stride = static_cast<ptrdiff_t>(stride_);
  const bool vector = level_ != SimdLevel::kPlain;
  auto selected = [counts](int32_t x) { return counts == nullptr || (counts[x] & kPassCountMask) != 0; };
  // A pixel whose taps (or square) all lie inside the image reads fixed
  // offsets from its centre: window reads beyond the row's ends fall into its
  // pads with weight 0, and no weighted row lies outside the image.
  auto inside = [&](int32_t x, const uint8_t* p) {
    const uint8_t o = static_cast<uint8_t>(orientation[x] & kOrientationBits);
    if (o >= kLineOrientations) {
      const uint32_t sum = p[-stride - 1] + p[-stride] + p[-stride + 1] + p[-1] + p[0] + p[1] + p[stride - 1] +
                           p[stride] + p[stride + 1];
      out[x] = static_cast<uint8_t>(sum / kSquareCount);
      return;
    }
    out[x] = InteriorSmooth(p, kGroups[o], offsets_[o].offset, vector);
  };
  auto edge = [&](int32_t x) {
    if (!selected(x)) return;
    const uint8_t o = static_cast<uint8_t>(orientation[x] & kOrientationBits);
    if (x >= kReach.dx[o] && x < w_ - kReach.dx[o] && y >= kReach.dy[o] && y < h_ - kReach.dy[o]) {
      inside(x, centre + x);
    } else {
#ifdef VS_LINE_GROUPS_SSE2
      if (vector && o < kLineOrientations) {
        out[x] = BorderSmooth(around, w_, h_, x, y, kGroups[o]);
        return;
      }
#endif
      out[x] = LineSmoothPixel(around, w_, h_, x, y, o, false);
    }
  };
#ifdef VS_WIDE_VECTORS
  if (wide_) {
    // Blocks of 32 with one pixel a lane: those of the edges and of the
    // border rows count the weights inside the image, the others have every
    // kernel inside. Rows y - 6 .. y + 6 are widened once each per pass,
    // straight from the image: a row that no smoothed row has read yet has
    // not been written either (writing a row widens it first), so it still
    // holds its entry values; rows no smoothed row reads, as in counted
    // passes, are never widened.
    const int32_t last = y + kLineReach < h_ ? y + kLineReach : h_ - 1;
    for (int32_t r = widened_ > y - kLineReach ? widened_ : y - kLineReach; r <= last; ++r) {
      WidenRow(image_[r], w_, WideSlot(r % slots_), WideSlot(r % slots_ + slots_));
    }
    widened_ = widened_ > last + 1 ? widened_ : last + 1;
    const int16_t* wideCentre = y >= kLineReach ? WideSlot((y - kLineReach) % slots_ + kLineReach) : WideSlot(y);
    const WideRow row{wideCentre, wideOffsets_.get(), wideInside_.get() + kLineReach, wideInside_.get() + stride_,
                      stride, w_, y, h_ - 1 - y};
    if (y < kLineReach || y >= h_ - kLineReach || w_ < 2 * kLineReach + kWideLanes) {
      WideBlocks<WideKind::kBorder>(row, orientation, counts, out, 0, w_);
      return;
    }
    int32_t from = kWideLanes, to = w_ - kWideLanes;
    if (to - from < kWideLanes) {
      from = kLineReach;
      to = w_ - kLineReach;
    }
    WideBlocks<WideKind::kSide>(row, orientation, counts, out, 0, kWideLanes);
    WideBlocks<WideKind::kInner>(row, orientation, counts, out, from, to);
    WideBlocks<WideKind::kSide>(row, orientation, counts, out, w_ - kWideLanes, w_);
    return;
  }
#endif
  if (y < kLineReach || y >= h_ - kLineReach || w_ <= 2 * kLineReach) {
    for (int32_t x = 0; x < w_; ++x) edge(x);
    return;
  }
  for (int32_t x = 0; x < kLineReach; ++x) edge(x);
  int32_t x = kLineReach;
#ifdef VS_LINE_GROUPS_SSE2
  // Four pixels with orientations at a time: their partial sums are totalled
  // and divided together. (Not for counted passes, whose unselected pixels
  // would break most groups of four.)
  constexpr int32_t kFour = 4;
  for (; vector && counts == nullptr && x + kFour <= w_ - kLineReach; x += kFour) {
    uint8_t o[kFour];
    bool oriented = true;
    for (int32_t k = 0; k < kFour; ++k) {
      o[k] = static_cast<uint8_t>(orientation[x + k] & kOrientationBits);
      oriented = oriented && o[k] < kLineOrientations && selected(x + k);
    }
    if (!oriented) {
      for (int32_t k = 0; k < kFour; ++k) {
        if (selected(x + k)) inside(x + k, centre + x + k);
      }
      continue;
    }
    const uint8_t* p = centre + x;
    const int32_t four = SmoothedFour(
        InteriorSums(p, kGroups[o[0]], offsets_[o[0]].offset), InteriorSums(p + 1, kGroups[o[1]], offsets_[o[1]].offset),
        InteriorSums(p + 2, kGroups[o[2]], offsets_[o[2]].offset), InteriorSums(p + 3, kGroups[o[3]], offsets_[o[3]].offset));
    std::memcpy(out + x, &four, sizeof four);
  }
#endif
  for (; x < w_ - kLineReach; ++x) {
    if (selected(x)) inside(x, centre + x);
  }
  for (int32_t x = w_ - kLineReach; x < w_; ++x) edge(x);
}

int32_t DirectionalSmooth(int32_t w, int32_t h, uint8_t* const* ridgeImage, const uint8_t* const* orientationMap,
                          SimdLevel level) {
  if (w <= 0 || h <= 0) return kOk;
  LineRowRing ring;
  if (!ring.Allocate(w, h, level)) return kOutOfMemory;
  ring.Begin(ridgeImage);
  for (int32_t y = 0; y < h; ++y) {
    ring.Around(y);
    ring.SmoothRow(y, orientationMap[y], nullptr, ridgeImage[y]);
  }
  return kOk;
}

}  // namespace vorsensor
