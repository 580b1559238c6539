// Ring, crossing count, step rule, ending trace, digital line and trace list.
#include "engine/minutiae/tracing_primitives.h"

#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#define VS_TRACING_SSE2 1
#else
#define VS_TRACING_SSE2 0
#endif
#ifdef VS_WIDE_VECTORS
#include <immintrin.h>
#endif

#include "geometry/digital_line.h"
#include "geometry/geometry.h"

namespace vorsensor {

namespace {

// The step rule's preference: edge neighbours first, then corners.
constexpr RingPosition kStepOrder[kRingSize] = {kRingN, kRingE, kRingS, kRingW, kRingNE, kRingSE, kRingSW, kRingNW};

// Odd crossing numbers, 62 pixels at a time: the 64 columns x - 1 .. x + 62
// of three rows are read as masks of the pixels that are exactly 0 (ridge)
// and exactly 255 (other); bit j stands for column x - 1 + j, so the east
// neighbour of bit j is bit j + 1. The crossing number's parity is the XOR of
// its eight transition terms.
constexpr int32_t kMaskColumns = 64;
constexpr int32_t kMaskPixels = kMaskColumns - 2;  // pixels with both neighbours among the columns
constexpr int32_t kSseBytes = 16;
constexpr uint8_t kNeither = 1;  // filler that is neither ridge nor other

struct RowMasks {
  uint64_t ridge;
  uint64_t other;
};

// Bit j of the result is set for pixel x + j with an odd crossing number
// (j < n), given the masks of the rows above, at and below.
inline uint64_t OddCrossings(const RowMasks& a, const RowMasks& r, const RowMasks& b, int32_t n) {
  // Transitions N-NE, NE-E, E-SE, SE-S, S-SW, SW-W, W-NW, NW-N (other, then ridge).
  const uint64_t odd = (a.other & (a.ridge >> 1)) ^ (((a.other & r.ridge) ^ (r.other & b.ridge)) >> 1) ^
                       ((b.other >> 1) & b.ridge) ^ (b.other & (b.ridge << 1)) ^
                       (((b.other & r.ridge) ^ (r.other & a.ridge)) << 1) ^ ((a.other << 1) & a.ridge);
  const uint64_t centres = (r.ridge & odd) >> 1;
  return n >= kMaskColumns ? centres : centres & ((uint64_t{1} << n) - 1);
}

// The masks of `count` (at most 64) bytes.
RowMasks MasksOf(const uint8_t* bytes, int32_t count) {
  uint8_t padded[kMaskColumns];
  if (count < kMaskColumns) {
    std::memset(padded, kNeither, sizeof padded);
    std::memcpy(padded, bytes, static_cast<size_t>(count));
    bytes = padded;
  }
  RowMasks m{0, 0};
#if VS_TRACING_SSE2
  const __m128i ridge = _mm_set1_epi8(static_cast<char>(kSkeletonRidge));
  const __m128i other = _mm_set1_epi8(static_cast<char>(kSkeletonOther));
  for (int32_t k = 0; k < kMaskColumns; k += kSseBytes) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + k));
    m.ridge |= uint64_t{static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, ridge)))} << k;
    m.other |= uint64_t{static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, other)))} << k;
  }
#else
  for (int32_t k = 0; k < kMaskColumns; ++k) {
    m.ridge |= static_cast<uint64_t>(bytes[k] == kSkeletonRidge) << k;
    m.other |= static_cast<uint64_t>(bytes[k] == kSkeletonOther) << k;
  }
#endif
  return m;
}

#ifdef VS_WIDE_VECTORS
VS_WIDE_CODE_BEGIN
VS_AVX512 inline RowMasks MasksWide(const uint8_t* bytes, __mmask64 inside) {
  const __m512i v = _mm512_maskz_loadu_epi8(inside, bytes);
  return RowMasks{_mm512_mask_cmpeq_epi8_mask(inside, v, _mm512_set1_epi8(static_cast<char>(kSkeletonRidge))),
                  _mm512_mask_cmpeq_epi8_mask(inside, v, _mm512_set1_epi8(static_cast<char>(kSkeletonOther)))};
}

VS_AVX512 uint64_t OddCrossingsWide(const uint8_t* const* image, int32_t y, int32_t x, int32_t n) {
  const int32_t columns = n + 2;
  const __mmask64 inside = columns >= kMaskColumns ? ~__mmask64{0} : (__mmask64{1} << columns) - 1;
  return OddCrossings(MasksWide(image[y - 1] + x - 1, inside), MasksWide(image[y] + x - 1, inside),
                      MasksWide(image[y + 1] + x - 1, inside), n);
}
VS_WIDE_CODE_END
#endif

inline int32_t LowestBit(uint64_t bits) {
#if defined(__GNUC__)
  return __builtin_ctzll(bits);
#else
  int32_t k = 0;
  while ((bits & 1u) == 0) {
    bits >>= 1;
    ++k;
  }
  return k;
#endif
}

constexpr int32_t kEndingCount = 1;
constexpr int32_t kForkCount = 3;

}  // namespace

int32_t NextOddCrossing(const uint8_t* const* image, int32_t y, int32_t x, int32_t last, SimdLevel level) {
  if (level == SimdLevel::kPlain) {
    for (; x <= last; ++x) {
      const int32_t crossing = CrossingNumber(image, x, y);
      if (crossing == kEndingCount || crossing == kForkCount) return x;
    }
    return x;
  }
  while (x <= last) {
    const int32_t n = last - x + 1 < kMaskPixels ? last - x + 1 : kMaskPixels;
    uint64_t odd;
#ifdef VS_WIDE_VECTORS
    if (level == SimdLevel::kAvx512) {
      odd = OddCrossingsWide(image, y, x, n);
    } else
#endif
    {
      odd = OddCrossings(MasksOf(image[y - 1] + x - 1, n + 2), MasksOf(image[y] + x - 1, n + 2),
                         MasksOf(image[y + 1] + x - 1, n + 2), n);
    }
    if (odd != 0) return x + LowestBit(odd);
    x += n;
  }
  return x;
}

TraceList AllocTraceList(int32_t capacity) {
  TraceList list;
  const int32_t size = capacity > 0 ? capacity : 1;
  std::unique_ptr<int32_t[]> xs(new (std::nothrow) int32_t[static_cast<size_t>(size)]);
  std::unique_ptr<int32_t[]> ys(new (std::nothrow) int32_t[static_cast<size_t>(size)]);
  if (xs == nullptr || ys == nullptr) return list;
  list.xs_ = std::move(xs);
  list.ys_ = std::move(ys);
  list.capacity_ = capacity > 0 ? capacity : 0;
  return list;
}

void Step(uint8_t* const* image, int32_t* x, int32_t* y, const Ring& ring, TraceList* list) {
  image[*y][*x] = kSkeletonOther;
  list->Append(*x, *y);
  MoveAlongRing(ring, x, y);
}

void MoveAlongRing(const Ring& ring, int32_t* x, int32_t* y) {
  for (const RingPosition k : kStepOrder) {
    if (ring.value[k] == kSkeletonRidge) {
      *x += kRingDx[k];
      *y += kRingDy[k];
      return;
    }
  }
}

uint8_t EndingTrace(int32_t w, int32_t h, uint8_t* const* image, int32_t x, int32_t y, int32_t maxSteps,
                    int32_t minSteps, TraceList* list) {
  const int32_t x0 = x, y0 = y;
  const int32_t stepLimit = maxSteps < list->room() ? maxSteps : list->room();
  int32_t steps = 0;
  while (steps < stepLimit && y >= 1 && y < h - 1 && x >= 1 && x < w - 1) {
    const Ring ring = ReadRing(image, x, y);
    if (RingCount(ring) != 1) break;
    Step(image, &x, &y, ring, list);
    ++steps;
  }
  return steps >= minSteps ? DirectionOf(x0, y0, x, y) : kNoTraceDirection;
}

int32_t EndingTraceRoom(int32_t w, int32_t h, int32_t maxSteps) {
  // Each step erases a distinct pixel, so no walk is longer than the image.
  const int64_t pixels = int64_t{w > 0 ? w : 0} * int64_t{h > 0 ? h : 0};
  const int64_t steps = maxSteps > 0 ? maxSteps : 0;
  const int64_t room = steps < pixels ? steps : pixels;
  return static_cast<int32_t>(room);
}

uint8_t EndingDirection(int32_t w, int32_t h, uint8_t* const* image, int32_t x, int32_t y, int32_t maxSteps,
                        int32_t minSteps, TraceList* scratch) {
  scratch->Clear();
  const uint8_t direction = EndingTrace(w, h, image, x, y, maxSteps, minSteps, scratch);
  RestoreList(image, *scratch);
  scratch->Clear();
  return direction;
}

int32_t LineBlocked(int32_t xA, int32_t yA, int32_t xB, int32_t yB, const uint8_t* const* image) {
  if (xA == xB && yA == yB) return 1;
  DigitalLine line = StartDigitalLine(xA, yA, xB, yB);
  // A is the first pixel of the line and does not count.
  for (StepDigitalLine(&line); !DigitalLineDone(line); StepDigitalLine(&line)) {
    if (image[line.y][line.x] == kSkeletonRidge) return 1;
  }
  return 0;
}

void RecordLine(int32_t xA, int32_t yA, int32_t xB, int32_t yB, TraceList* list) {
  for (DigitalLine line = StartDigitalLine(xA, yA, xB, yB); !DigitalLineDone(line); StepDigitalLine(&line)) {
    list->Append(line.x, line.y);
  }
}

void DrawLine(int32_t xA, int32_t yA, int32_t xB, int32_t yB, uint8_t* const* image) {
  if (xA == xB && yA == yB) return;
  for (DigitalLine line = StartDigitalLine(xA, yA, xB, yB); !DigitalLineDone(line); StepDigitalLine(&line)) {
    image[line.y][line.x] = kSkeletonRidge;
  }
  image[yB][xB] = kSkeletonRidge;
}

void RestoreList(uint8_t* const* image, const TraceList& list) {
  for (int32_t i = 0; i < list.count(); ++i) image[list.y(i)][list.x(i)] = kSkeletonRidge;
}

}  // namespace vorsensor
