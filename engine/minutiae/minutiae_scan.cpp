// The minutiae scan: crossing numbers pick the candidates, ending traces and
// branch walks give their directions, and each record takes the orientation
// spread and density at its pixel. Every walk draws back what it erased.
#include "engine/minutiae/minutiae_scan.h"

#include "engine/result_codes.h"
#include "geometry/geometry.h"

// 64-bit x86 only: the sums leave the vector through 64-bit moves.
#if defined(__SSE2__) && defined(__x86_64__)
#include <emmintrin.h>
#define VS_SCAN_SSE2 1
#else
#define VS_SCAN_SSE2 0
#endif

namespace vorsensor {

namespace {

constexpr uint8_t kForegroundLimit = 128;  // orientation map values from here are background
constexpr uint8_t kOrientationBits = 0x7F;
constexpr int32_t kOrientationNone = 120;  // orientations from here mean none
constexpr int32_t kRightAngle = 60;        // largest folded orientation difference
constexpr int32_t kSpreadScale = 255;
constexpr int32_t kEndingCount = 1;
constexpr int32_t kForkCount = 3;
constexpr int32_t kScanMargin = 2;         // rows and columns left out at each border
constexpr int32_t kFreeSteps = 2;          // a branch walk ignores the ring count up to this step
constexpr int32_t kLeastWidestAngle = 60;  // a fork whose branches all lie closer has no direction
constexpr int32_t kWideGap = 121;          // bisecting across 0: the smaller direction is below this
constexpr int32_t kBranches = 3;
#if VS_SCAN_SSE2
constexpr int32_t kSseBytes = 16;
#endif

// The four edge neighbours of the start that a branch walk sets aside after
// its first step (W and E after a move along the column, N and S after a
// move along the row), with the values they had when the branch began.
struct EdgeNeighbours {
  int32_t dx[4];
  int32_t dy[4];
  uint8_t noted[4];
  bool aside[4];
};
constexpr int32_t kW = 0, kN = 1, kE = 2, kS = 3;

void PutBackEdges(uint8_t* const* skeleton, int32_t x, int32_t y, EdgeNeighbours* edges) {
  for (int32_t k = 0; k < 4; ++k) {
    if (!edges->aside[k]) continue;
    skeleton[y + edges->dy[k]][x + edges->dx[k]] = edges->noted[k];
    edges->aside[k] = false;
  }
}

void SetAside(uint8_t* const* skeleton, int32_t x, int32_t y, EdgeNeighbours* edges, int32_t k) {
  skeleton[y + edges->dy[k]][x + edges->dx[k]] = kSkeletonOther;
  edges->aside[k] = true;
}

// Circular mean of two directions, by the shorter way round.
int32_t Bisector(int32_t a, int32_t b) {
  const int32_t diff = a > b ? a - b : b - a;
  if (diff <= kHalfTurn) return (a + b) / 2;
  const int32_t mean = (a < kWideGap ? b : a) + (kFullTurn - diff) / 2;
  return mean >= kFullTurn ? mean - kFullTurn : mean;
}

}  // namespace

int32_t ForkDirectionRoom(int32_t w, int32_t h, int32_t maxSteps) {
  // Past its free steps a walk reaches a new pixel with every step.
  const int64_t pixels = int64_t{w > 0 ? w : 0} * int64_t{h > 0 ? h : 0} + kFreeSteps + 1;
  const int64_t steps = maxSteps > 0 ? maxSteps : 0;
  return static_cast<int32_t>(kBranches * (steps < pixels ? steps : pixels));
}

uint8_t ForkDirection(int32_t w, int32_t h, uint8_t* const* skeleton, int32_t x, int32_t y, int32_t maxSteps,
                      int32_t minSteps, TraceList* scratch) {
  scratch->Clear();
  const int32_t branchRoom = scratch->capacity() / kBranches;
  const int32_t limit = maxSteps < branchRoom ? maxSteps : branchRoom;
  int32_t direction[kBranches];
  bool complete = true;
  for (int32_t b = 0; b < kBranches && complete; ++b) {
    EdgeNeighbours edges{{-1, 0, 1, 0}, {0, -1, 0, 1}, {}, {}};
    for (int32_t k = 0; k < 4; ++k) edges.noted[k] = skeleton[y + edges.dy[k]][x + edges.dx[k]];
    int32_t cx = x, cy = y;
    int32_t steps = 0;
    while (steps < limit && cy >= 1 && cy < h - 1 && cx >= 1 && cx < w - 1) {
      const Ring ring = ReadRing(skeleton, cx, cy);
      if (RingCount(ring) != 1 && steps > kFreeSteps) break;
      const int32_t fromX = cx, fromY = cy;
      Step(skeleton, &cx, &cy, ring, scratch);
      if (steps == 0) {
        if (cx == fromX) {
          SetAside(skeleton, x, y, &edges, kW);
          SetAside(skeleton, x, y, &edges, kE);
        }
        if (cy == fromY) {
          SetAside(skeleton, x, y, &edges, kN);
          SetAside(skeleton, x, y, &edges, kS);
        }
      } else if (steps == 1) {
        PutBackEdges(skeleton, x, y, &edges);
      }
      ++steps;
    }
    // A walk that ended before its second step still owes the set-aside pixels.
    PutBackEdges(skeleton, x, y, &edges);
    if (steps < minSteps) {
      complete = false;
    } else {
      direction[b] = DirectionOf(x, y, cx, cy);
    }
  }
  RestoreList(skeleton, *scratch);
  scratch->Clear();
  if (!complete) return kNoTraceDirection;

  return CombineBranchDirections(direction[0], direction[1], direction[2]);
}

uint8_t CombineBranchDirections(int32_t d0, int32_t d1, int32_t d2) {
  const int32_t pairs[3][2] = {{d2, d1}, {d1, d0}, {d2, d0}};
  int32_t widest = -1, narrowest = kFullTurn, narrowA = 0, narrowB = 0;
  for (const auto& pair : pairs) {
    const int32_t angle = FoldedAngle(pair[0], pair[1]);
    if (angle > widest) widest = angle;
    if (angle < narrowest) {
      narrowest = angle;
      narrowA = pair[0];
      narrowB = pair[1];
    }
  }
  if (narrowest == 0 || widest < kLeastWidestAngle) return kNoTraceDirection;
  return static_cast<uint8_t>(Bisector(narrowA, narrowB));
}

uint8_t OrientationSpread(int32_t w, int32_t h, const uint8_t* const* orientationMap, int32_t x, int32_t y,
                          int32_t radius) {
  const int32_t o0 = orientationMap[y][x] & kOrientationBits;
  if (o0 >= kOrientationNone) return 0;
  const int32_t top = y < radius ? 0 : y - radius;
  const int32_t bottom = int64_t{y} >= int64_t{h} - radius ? h - 1 : y + radius;
  const int32_t left = x < radius ? 0 : x - radius;
  const int32_t right = int64_t{x} >= int64_t{w} - radius ? w - 1 : x + radius;
  int64_t sum = 0, count = 0;
#if VS_SCAN_SSE2
  // Sixteen map pixels at a time: the folded differences and the ones of the
  // counted pixels are summed by the byte sum of absolute differences.
  const __m128i bits = _mm_set1_epi8(static_cast<char>(kOrientationBits));
  const __m128i lastOrientation = _mm_set1_epi8(static_cast<char>(kOrientationNone - 1));
  const __m128i halfTurn = _mm_set1_epi8(static_cast<char>(kHalfTurn));
  const __m128i centre = _mm_set1_epi8(static_cast<char>(o0));
  const __m128i ones = _mm_set1_epi8(1);
  const __m128i lanes = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  const __m128i zero = _mm_setzero_si128();
  __m128i sums = zero, counts = zero;
#endif
  for (int32_t r = top; r <= bottom; ++r) {
    const uint8_t* row = orientationMap[r];
    int32_t c = left;
#if VS_SCAN_SSE2
    for (; c <= right && c + kSseBytes <= w; c += kSseBytes) {
      const int32_t n = right - c + 1 < kSseBytes ? right - c + 1 : kSseBytes;
      const __m128i o = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + c)), bits);
      // o <= 119 (has an orientation) and inside the window.
      const __m128i counted = _mm_and_si128(_mm_cmpeq_epi8(_mm_min_epu8(o, lastOrientation), o),
                                            _mm_cmplt_epi8(lanes, _mm_set1_epi8(static_cast<char>(n))));
      const __m128i d = _mm_or_si128(_mm_subs_epu8(o, centre), _mm_subs_epu8(centre, o));
      // d below 120 here, so the fold is the smaller of d and 120 - d.
      const __m128i folded = _mm_min_epu8(d, _mm_sub_epi8(halfTurn, d));
      sums = _mm_add_epi64(sums, _mm_sad_epu8(_mm_and_si128(folded, counted), zero));
      counts = _mm_add_epi64(counts, _mm_sad_epu8(_mm_and_si128(ones, counted), zero));
    }
#endif
    for (; c <= right; ++c) {
      const int32_t o = row[c] & kOrientationBits;
      if (o >= kOrientationNone) continue;
      const int32_t d = o > o0 ? o - o0 : o0 - o;
      sum += d > kRightAngle ? kHalfTurn - d : d;
      ++count;
    }
  }
#if VS_SCAN_SSE2
  sum += _mm_cvtsi128_si64(sums) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums));
  count += _mm_cvtsi128_si64(counts) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(counts, counts));
#endif
  return static_cast<uint8_t>(sum * kSpreadScale / (count * kRightAngle));
}

int32_t ScanMinutiae(int32_t w, int32_t h, uint8_t* const* skeleton, const uint8_t* const* orientationMap,
                     const uint8_t* const* densityCopy, Minutia* records, int32_t* count, int32_t endTraceMax,
                     int32_t endTraceMin, int32_t forkBranchMin, int32_t spreadRadius, SimdLevel level) {
  *count = 0;
  // One list serves the ending traces and the branch walks.
  const int32_t endingRoom = EndingTraceRoom(w, h, endTraceMax);
  const int32_t forkRoom = ForkDirectionRoom(w, h, endTraceMax);
  TraceList scratch = AllocTraceList(endingRoom > forkRoom ? endingRoom : forkRoom);
  if (!scratch.valid()) return kOutOfMemory;
  for (int32_t y = kScanMargin; y <= h - 1 - kScanMargin; ++y) {
    const int32_t last = w - 1 - kScanMargin;
    for (int32_t x = NextOddCrossing(skeleton, y, kScanMargin, last, level); x <= last;
         x = NextOddCrossing(skeleton, y, x + 1, last, level)) {
      if (orientationMap[y][x] >= kForegroundLimit) continue;
      const int32_t crossing = CrossingNumber(skeleton, x, y);
      Minutia m{x, y, 0, kDroppedDirection, kNoSpread, kNoDensity, 0};
      if (crossing == kEndingCount) {
        m.type = kMinutiaEnding;
        m.direction = EndingDirection(w, h, skeleton, x, y, endTraceMax, endTraceMin, &scratch);
      } else if (crossing == kForkCount) {
        m.type = kMinutiaBifurcation;
        m.direction = ForkDirection(w, h, skeleton, x, y, endTraceMax, forkBranchMin, &scratch);
      } else {
        continue;
      }
      if (spreadRadius >= 0) m.spread = OrientationSpread(w, h, orientationMap, x, y, spreadRadius);
      if (densityCopy != nullptr) m.density = densityCopy[y][x];
      records[(*count)++] = m;
      if (*count == kMaxMinutiae) return kOk;
    }
  }
  return kOk;
}

}  // namespace vorsensor
