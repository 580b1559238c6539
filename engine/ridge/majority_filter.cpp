// Majority vote over copies of the row above and the current row (the row
// below is still unwritten) and three-row column sums.
#include "engine/ridge/majority_filter.h"

#include <cstring>
#include <utility>
#include <memory>
#include <new>

#include "engine/result_codes.h"

#ifdef VS_WIDE_VECTORS
#include <immintrin.h>
#endif

namespace vorsensor {
namespace {
constexpr uint32_t kMajoritySum = 128 * 9;  // a square summing below this is mostly ridge
constexpr uint8_t kRidge = 0;
constexpr uint8_t kFrame = 255;

#ifdef VS_WIDE_VECTORS
VS_WIDE_CODE_BEGIN
// Pixels 1 .. w - 2 of one row, 32 at a time with AVX-512: the nine entry
// values of each square summed in 16-bit lanes (at most 9 x 255), the last
// block masked to the pixels before column w - 1.
VS_AVX512 void VoteRowWide(const uint8_t* above, const uint8_t* current, const uint8_t* below, int32_t w,
                           uint8_t* out) {
  constexpr int32_t kLanes = 32;
  const __m512i limit = _mm512_set1_epi16(static_cast<int16_t>(kMajoritySum));
  const __m256i frame = _mm256_set1_epi8(static_cast<char>(kFrame));
  for (int32_t x = 1; x < w - 1; x += kLanes) {
    const int32_t left = w - 1 - x;
    const __mmask32 lanes = left >= kLanes ? ~__mmask32{0} : (__mmask32{1} << left) - 1;
    __m512i sum = _mm512_setzero_si512();
    for (const uint8_t* row : {above, current, below}) {
      for (int32_t dx = -1; dx <= 1; ++dx) {
        sum = _mm512_add_epi16(sum, _mm512_cvtepu8_epi16(_mm256_maskz_loadu_epi8(lanes, row + x + dx)));
      }
    }
    const __mmask32 ridge = _mm512_cmplt_epu16_mask(sum, limit);
    _mm256_mask_storeu_epi8(out + x, lanes, _mm256_mask_mov_epi8(frame, ridge, _mm256_set1_epi8(static_cast<char>(kRidge))));
  }
}
VS_WIDE_CODE_END
#endif

}  // namespace

int32_t MajorityFilter(int32_t w, int32_t h, uint8_t* const* ridgeImage, SimdLevel level) {
  if (w <= 0 || h <= 0) return kOk;
#ifndef VS_WIDE_VECTORS
  (void)level;
#endif
  const size_t width = static_cast<size_t>(w);
  std::unique_ptr<uint8_t[]> copies(new (std::nothrow) uint8_t[2 * width]);
  std::unique_ptr<uint16_t[]> column(new (std::nothrow) uint16_t[width]);
  if (copies == nullptr || column == nullptr) return kOutOfMemory;
  uint8_t* above = copies.get();
  uint8_t* current = copies.get() + width;
  uint16_t* sums = column.get();
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* out = ridgeImage[y];
    std::memcpy(current, out, width);
    if (y == 0 || y == h - 1) {
      std::memset(out, kFrame, width);
    } else {
      const uint8_t* below = ridgeImage[y + 1];
      out[0] = kFrame;
#ifdef VS_WIDE_VECTORS
      if (level == SimdLevel::kAvx512) {
        VoteRowWide(above, current, below, w, out);
      } else
#endif
      {
        for (int32_t x = 0; x < w; ++x) sums[x] = static_cast<uint16_t>(above[x] + current[x] + below[x]);
        for (int32_t x = 1; x < w - 1; ++x) {
          out[x] = static_cast<uint32_t>(sums[x - 1]) + sums[x] + sums[x + 1] < kMajoritySum ? kRidge : kFrame;
        }
      }
      out[w - 1] = kFrame;
    }
    std::swap(above, current);
  }
  return kOk;
}

}  // namespace vorsensor
