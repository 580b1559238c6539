#pragma once
// The window filter of the correspondence search: of a run of sample bucket
// entries, list those whose distance and second relative angle lie within the
// tolerances of one probe entry's. The sample keeps both fields as dense byte
// arrays (see PreparedSet) so the filter reads memory in sequence.
//
// Two versions with the same output: a plain one, the reference and the
// fallback, and one testing 16 entries per step with SSE2 (every x86-64
// target has it). The tests compare the two.
#include <cstdint>

#if defined(__SSE2__) && defined(__GNUC__)
#include <emmintrin.h>
#define VS_FILTER_SSE2 1
#else
#define VS_FILTER_SSE2 0
#endif

#include "geometry/geometry.h"

namespace vorsensor {

// Entries the byte arrays must hold beyond their count: the vector filter
// reads whole blocks and ignores the lanes past the run's end.
constexpr int32_t kFilterBlock = 16;
constexpr int32_t kFilterPadding = kFilterBlock - 1;

#if VS_FILTER_SSE2
constexpr int32_t kBranchFreeWrites = 3;
constexpr int32_t kChunkLanes = 64;                      // four blocks per listing step
constexpr uint64_t kChunkSentinel = uint64_t{1} << 63;  // bit scan of an empty mask
#endif
// Entries the candidate list must hold beyond the most a call may list: the
// vector filter may write up to kFilterBlock entries past its last.
constexpr int32_t kListSlack = kFilterBlock;

// A listed candidate: the probe entry in the high half, the sample entry in
// the low half.
constexpr int32_t kCandidateShift = 32;
constexpr uint64_t kCandidateLow = 0xFFFFFFFFu;

// What the filter tests against, from one probe entry and the tolerances
// (tolD 0..255, tolA 0..120).
struct FilterProbe {
  int32_t distance;     // the probe entry's distance
  int32_t secondAngle;  // and second relative angle, 0..239
  int32_t tolD;
  int32_t tolA;
};

// Appends `record` | b for every b in begin .. end - 1 with
// |distance[b] - probe distance| <= tolD and the folded
// |secondAngle[b] - probe second angle| <= tolA, in ascending b; returns the
// new end of the list, which needs room for end - begin entries and
// kListSlack more. Branch-free, as entries pass at random.
inline uint64_t* ListCandidatesPlain(const uint8_t* distance, const uint8_t* secondAngle, int32_t begin,
                                     int32_t end, const FilterProbe& probe, uint64_t record, uint64_t* listed) {
  // One unsigned compare: x = b's distance - (a's - tolD) must lie in 0 .. 2 tolD.
  const int32_t lowest = probe.distance - probe.tolD;
  const uint32_t span = static_cast<uint32_t>(2 * probe.tolD);
  for (int32_t bi = begin; bi < end; ++bi) {
    const uint32_t x = static_cast<uint32_t>(distance[bi] - lowest);
    int32_t gap = secondAngle[bi] - probe.secondAngle;
    gap = gap < 0 ? -gap : gap;
    gap = gap >= kHalfTurn ? kFullTurn - gap : gap;
    *listed = record | static_cast<uint32_t>(bi);
    listed += (x <= span ? 1 : 0) & (gap <= probe.tolA ? 1 : 0);
  }
  return listed;
}

#if VS_FILTER_SSE2
// The same with SSE2, 16 entries per step, in unsigned byte arithmetic:
// - distance: lo <= d <= hi with lo, hi the probe's distance -/+ tolD
//   clamped to 0..255 (d is a byte, so the clamping loses nothing);
// - angle: r = (b + tolA - a) modulo 240 is at most 2 tolA exactly when the
//   folded |b - a| is at most tolA. With c = (tolA - a) modulo 240, r is
//   b + c, less 240 when b >= 240 - c; in bytes the sum may wrap past 255,
//   and subtracting 240 modulo 256 still gives r (which lies in 0..239).
// The arrays must hold kFilterPadding readable bytes beyond `end`.
//
// The per-entry bytes of the vector filter, packed into one word: the
// distance bounds lo and hi in bytes 0 and 1, c in byte 2 and 240 - c
// (1..240) in byte 3. They depend only on the probe entry and the
// tolerances, so a search may make them once for all its comparisons.
inline uint32_t FilterKeyOf(const FilterProbe& probe) {
  const auto clampByte = [](int32_t v) { return static_cast<uint32_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); };
  const int32_t c = probe.tolA - probe.secondAngle < 0 ? probe.tolA - probe.secondAngle + kFullTurn
                                                       : probe.tolA - probe.secondAngle;
  return clampByte(probe.distance - probe.tolD) | clampByte(probe.distance + probe.tolD) << 8 |
         static_cast<uint32_t>(c) << 16 | static_cast<uint32_t>(kFullTurn - c) << 24;
}

// The vector filter for a probe entry given by its key (FilterKeyOf) and
// tolA.
inline uint64_t* ListCandidatesKeyed(const uint8_t* distance, const uint8_t* secondAngle, int32_t begin,
                                     int32_t end, uint32_t key, int32_t tolA, uint64_t record, uint64_t* listed) {
  // The key's four bytes, each doubled twice, fill the four 32-bit lanes;
  // one shuffle then spreads each over all 16 byte lanes.
  __m128i keyBytes = _mm_cvtsi32_si128(static_cast<int>(key));
  keyBytes = _mm_unpacklo_epi8(keyBytes, keyBytes);
  keyBytes = _mm_unpacklo_epi16(keyBytes, keyBytes);
  const __m128i low = _mm_shuffle_epi32(keyBytes, 0x00);
  const __m128i high = _mm_shuffle_epi32(keyBytes, 0x55);
  const __m128i add = _mm_shuffle_epi32(keyBytes, 0xAA);
  const __m128i wrapFrom = _mm_shuffle_epi32(keyBytes, 0xFF);
  const __m128i fullTurn = _mm_set1_epi8(static_cast<char>(kFullTurn));
  const __m128i span = _mm_set1_epi8(static_cast<char>(2 * tolA));  // 0..240
  // The lanes of block bi that pass.
  const auto passing = [&](int32_t bi) {
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(distance + bi));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(secondAngle + bi));
    const __m128i inDistance =
        _mm_and_si128(_mm_cmpeq_epi8(_mm_max_epu8(d, low), d), _mm_cmpeq_epi8(_mm_min_epu8(d, high), d));
    const __m128i wraps = _mm_cmpeq_epi8(_mm_max_epu8(b, wrapFrom), b);
    const __m128i r = _mm_sub_epi8(_mm_add_epi8(b, add), _mm_and_si128(wraps, fullTurn));
    const __m128i inAngle = _mm_cmpeq_epi8(_mm_min_epu8(r, span), r);
    return static_cast<uint32_t>(_mm_movemask_epi8(_mm_and_si128(inDistance, inAngle)));
  };
  // The masks of up to four blocks are gathered into one 64-bit mask and
  // listed together: few entries pass (about one in 50 on realistic sets),
  // so a chunk mostly lists 0 to 2. The first kBranchFreeWrites are
  // written without branches (a write past the last one listed is
  // overwritten later or ignored; the sentinel bit keeps the bit scan
  // defined), a loop takes the rare rest.
  int32_t bi = begin;
  while (bi < end) {
    const int32_t lanes = end - bi < kChunkLanes ? end - bi : kChunkLanes;
    uint64_t mask = 0;
    for (int32_t k = 0; k < lanes; k += kFilterBlock) mask |= static_cast<uint64_t>(passing(bi + k)) << k;
    if (lanes < kChunkLanes) mask &= (uint64_t{1} << lanes) - 1u;  // lanes past `end`
    // record | (bi + lane) as one sum: the record lies above bit 31, bi + lane below.
    const uint64_t chunkBase = record | static_cast<uint32_t>(bi);
    for (int32_t k = 0; k < kBranchFreeWrites; ++k) {
      *listed = chunkBase + static_cast<uint64_t>(__builtin_ctzll(mask | kChunkSentinel));
      listed += mask != 0 ? 1 : 0;
      mask &= mask - 1;
    }
    while (mask != 0) {
      *listed++ = chunkBase + static_cast<uint64_t>(__builtin_ctzll(mask));
      mask &= mask - 1;
    }
    bi += lanes;
  }
  return listed;
}

// The vector filter for one probe entry.
inline uint64_t* ListCandidatesSse2(const uint8_t* distance, const uint8_t* secondAngle, int32_t begin,
                                    int32_t end, const FilterProbe& probe, uint64_t record, uint64_t* listed) {
  return ListCandidatesKeyed(distance, secondAngle, begin, end, FilterKeyOf(probe), probe.tolA, record, listed);
}
#endif

// The filter the search uses.
inline uint64_t* ListCandidates(const uint8_t* distance, const uint8_t* secondAngle, int32_t begin, int32_t end,
                                const FilterProbe& probe, uint64_t record, uint64_t* listed) {
#if VS_FILTER_SSE2
  return ListCandidatesSse2(distance, secondAngle, begin, end, probe, record, listed);
#else
  return ListCandidatesPlain(distance, secondAngle, begin, end, probe, record, listed);
#endif
}

}  // namespace vorsensor
