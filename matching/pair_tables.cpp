// Pair tables: every pair of minutiae a suitable distance apart, described by
// quantities that survive turning and shifting, sorted by distance and
// indexed by the first relative angle.
#include "matching/pair_tables.h"

#include <cstring>

#include "engine/result_codes.h"
#include "matching/candidate_filter.h"
#include "geometry/geometry.h"

#if defined(__SSE2__) && defined(__GNUC__)
#include <emmintrin.h>
#define VS_PAIRS_SSE2 1
#else
#define VS_PAIRS_SSE2 0
#endif

namespace vorsensor {
namespace {

constexpr int32_t kMaxRotationTolerance = 120;

void ComputeCentreAndFlags(PreparedSet* slot) {
  const FeatureSet& set = slot->set;
  const int32_t n = set.minutiaCount;
  slot->centreX = 0;
  slot->centreY = 0;
  int32_t typed = 0;
  int32_t withSpread = 0;
  int32_t withDensity = 0;
  if (n > 0) {
    int32_t minX = set.minutiae[0].x;
    int32_t maxX = minX;
    int32_t minY = set.minutiae[0].y;
    int32_t maxY = minY;
    for (int32_t i = 0; i < n; ++i) {
      const Minutia& m = set.minutiae[i];
      if (m.x < minX) minX = m.x;
      if (m.x > maxX) maxX = m.x;
      if (m.y < minY) minY = m.y;
      if (m.y > maxY) maxY = m.y;
      if (m.type != 0) ++typed;
      if (m.spread != kNoSpread) ++withSpread;
      if (m.density != kNoDensity) ++withDensity;
    }
    slot->centreX = (minX + maxX) / 2;
    slot->centreY = (minY + maxY) / 2;
  }
  slot->typed = n > 0 && 2 * typed >= n;
  slot->spreadPresent = n > 0 && 2 * withSpread >= n;
  slot->densityPresent = n > 0 && 2 * withDensity >= n;
  slot->gridPresent = set.gridWidth != 0 && set.gridHeight != 0;
  slot->densityBytePresent = set.densityByte < 255;
}

// (line - direction) brought into 0..239 for a line 0..239 and a direction
// byte 0..255 (bytes above 239 count modulo a full turn): the difference
// lies in -255..239, so two conditional turns, without branches, suffice.
constexpr int32_t kSignBit = 31;
inline int32_t RelativeAngle(int32_t line, int32_t direction) {
  int32_t v = line - direction;
  v += kFullTurn & (v >> kSignBit);
  v += kFullTurn & (v >> kSignBit);
  return v;
}

MinutiaPair MakePair(const FeatureSet& set, int32_t distance, int32_t first, int32_t second) {
  const Minutia& a = set.minutiae[first];
  const Minutia& b = set.minutiae[second];
  const int32_t line = DirectionOf(a.x, a.y, b.x, b.y);
  const int32_t back = line < kHalfTurn ? line + kHalfTurn : line - kHalfTurn;
  MinutiaPair pair;
  pair.distance = distance;
  pair.first = first;
  pair.second = second;
  pair.lineOrientation = line >= kHalfTurn ? line - kHalfTurn : line;  // line is 0..239
  pair.firstAngle = RelativeAngle(line, a.direction);
  pair.secondAngle = RelativeAngle(back, b.direction);
  return pair;
}

MinutiaPair Reversed(const MinutiaPair& pair) {
  MinutiaPair r = pair;
  r.first = pair.second;
  r.second = pair.first;
  r.firstAngle = pair.secondAngle;
  r.secondAngle = pair.firstAngle;
  return r;
}

// Lists, without branches, the partners j in i + 1 .. end - 1 of minutia i
// whose squared length s lies in [below, top) at out[0 ..]; returns how many.
// Every step writes the entry after the last listed, so `out` needs room for
// end - i - 1 entries.
int32_t ListPartners(const FeatureSet& set, int32_t i, int32_t end, int64_t below, int64_t top,
                     PairCandidate* out) {
  const uint64_t squareSpan = static_cast<uint64_t>(top - below);
  const Minutia& a = set.minutiae[i];
  int32_t listed = 0;
  for (int32_t j = i + 1; j < end; ++j) {
    const Minutia& b = set.minutiae[j];
    const int64_t dx = a.x - b.x;
    const int64_t dy = a.y - b.y;
    out[listed] = PairCandidate{0, i, j};
    listed += static_cast<uint64_t>(dx * dx + dy * dy - below) < squareSpan ? 1 : 0;
  }
  return listed;
}

#if VS_PAIRS_SSE2
// Coordinates packed two 16-bit halves to a word, x low and y high, when
// every coordinate lies within +-kPackedCoordinateLimit: then differences
// fit 16 bits and dx * dx + dy * dy (at most 2 x 32766^2) fits a signed
// 32-bit lane, which one multiply-add gives for four partners at once.
constexpr int32_t kPackedCoordinateLimit = 16383;
constexpr int32_t kPartnerLanes = 4;
constexpr uint32_t kHalfMask = 0xFFFFu;
constexpr int32_t kHalfBits = 16;

// Fills `words` (room for minutiaCount + kPartnerLanes - 1) and tells whether
// every coordinate fits.
bool PackCoordinates(const FeatureSet& set, uint32_t* words) {
  bool fits = true;
  for (int32_t i = 0; i < set.minutiaCount; ++i) {
    const Minutia& m = set.minutiae[i];
    fits = fits && m.x >= -kPackedCoordinateLimit && m.x <= kPackedCoordinateLimit &&
           m.y >= -kPackedCoordinateLimit && m.y <= kPackedCoordinateLimit;
    words[i] = (static_cast<uint32_t>(m.x) & kHalfMask) | (static_cast<uint32_t>(m.y) & kHalfMask) << kHalfBits;
  }
  // The last step reads up to three words past the set; their lanes are masked off.
  for (int32_t k = 0; k < kPartnerLanes - 1; ++k) words[set.minutiaCount + k] = 0;
  return fits;
}

// ListPartners four partners per step on packed coordinates (same list).
int32_t ListPartnersPacked(const uint32_t* words, int32_t i, int32_t end, __m128i belowMinusOne, __m128i top,
                           PairCandidate* out) {
  const __m128i origin = _mm_set1_epi32(static_cast<int32_t>(words[i]));
  int32_t listed = 0;
  for (int32_t j = i + 1; j < end; j += kPartnerLanes) {
    const __m128i d = _mm_sub_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(words + j)), origin);
    const __m128i square = _mm_madd_epi16(d, d);
    const __m128i inRange = _mm_and_si128(_mm_cmpgt_epi32(square, belowMinusOne), _mm_cmplt_epi32(square, top));
    uint32_t mask = static_cast<uint32_t>(_mm_movemask_ps(_mm_castsi128_ps(inRange)));
    const int32_t remaining = end - j;
    if (remaining < kPartnerLanes) mask &= (1u << remaining) - 1u;  // lanes past `end`
    for (int32_t lane = 0; lane < kPartnerLanes; ++lane) {
      out[listed] = PairCandidate{0, i, j + lane};
      listed += static_cast<int32_t>((mask >> lane) & 1u);
    }
  }
  return listed;
}
#endif

// Enumerates the pairs (i before j) whose distance lies in [lo, hi] into the
// candidate scratch, at most `limit` of them, and counts them per distance.
// Two passes: the first lists, without branches, the pairs whose squared
// length can give a distance in range (whether one does is random, so a
// branch on it would mispredict often); the second computes their distances
// and keeps, in order, those in range.
bool CollectCandidates(MatchWorkspace* w, const FeatureSet& set, int32_t lo, int32_t hi, int32_t limit) {
  w->candidates.Clear();
  for (int32_t& c : w->distanceHistogram) c = 0;
  const int32_t n = set.minutiaCount;
  // DistanceOf lies between floor(sqrt(s)) and floor(sqrt(s)) + 1 for the
  // squared length s, so squares outside [below, top) cannot be in range.
  const int64_t below = lo > 1 ? static_cast<int64_t>(lo - 1) * (lo - 1) : 0;
  const int64_t top = static_cast<int64_t>(hi + 1) * (hi + 1);
  // Extraction lists minutiae in raster order. When the rows never go back,
  // the partners of minutia i more than `hi` rows further down can be left
  // out at once: their squares are at least top. `end` only grows with i.
  bool rowsAscending = true;
  for (int32_t i = 1; i < n && rowsAscending; ++i) rowsAscending = set.minutiae[i - 1].y <= set.minutiae[i].y;
#if VS_PAIRS_SSE2
  uint32_t words[kMaxMinutiae + kPartnerLanes - 1];
  const bool packed = PackCoordinates(set, words);
  // below and top are at most 256^2, so they fit the 32-bit lanes.
  const __m128i belowMinusOne = _mm_set1_epi32(static_cast<int32_t>(below - 1));
  const __m128i topLanes = _mm_set1_epi32(static_cast<int32_t>(top));
#endif
  int32_t listed = 0;
  int32_t end = 0;
  for (int32_t i = 0; i < n; ++i) {
    if (rowsAscending) {
      while (end < n && int64_t{set.minutiae[end].y} - set.minutiae[i].y <= hi) ++end;
    } else {
      end = n;
    }
    // Room for every partner of i (the entry after the last listed is
    // written too); the count tells a growing array what to keep.
    w->candidates.SetCount(listed);
    if (!w->candidates.Reserve(static_cast<int64_t>(listed) + (n - i), kPairGrowth)) return false;
    PairCandidate* out = w->candidates.data() + listed;
#if VS_PAIRS_SSE2
    if (packed) {
      listed += ListPartnersPacked(words, i, end, belowMinusOne, topLanes, out);
      continue;
    }
#endif
    listed += ListPartners(set, i, end, below, top, out);
  }
  PairCandidate* pairs = w->candidates.data();
  int32_t kept = 0;
  for (int32_t k = 0; k < listed; ++k) {
    const Minutia& a = set.minutiae[pairs[k].first];
    const Minutia& b = set.minutiae[pairs[k].second];
    const int32_t d = DistanceOf(a.x, a.y, b.x, b.y);
    if (d < lo || d > hi) continue;
    if (kept >= limit) break;
    pairs[kept] = PairCandidate{d, pairs[k].first, pairs[k].second};  // kept <= k: in place
    ++kept;
    ++w->distanceHistogram[d];
  }
  w->candidates.SetCount(kept);
  return true;
}

// Writes the pair records in table order straight from the candidates: a
// counting sort by distance in which, within one distance, the
// last-enumerated pair comes first (the order the tables have always had).
// Each candidate's records are made where they belong instead of sorting
// the candidates first and making the records in a second pass. With
// `both`, candidate position k gives record 2k and its reversal 2k + 1;
// records at or past `records` are left out. Counts each written record's
// first angle into `angleCounts[angle + 1]` for the angle buckets.
void WritePairs(MatchWorkspace* w, PreparedSet* slot, bool both, int32_t records, int32_t* angleCounts) {
  int32_t end[kDistanceBins];
  int32_t running = 0;
  for (int32_t d = 0; d < kDistanceBins; ++d) {
    running += w->distanceHistogram[d];
    end[d] = running;
  }
  const int32_t count = w->candidates.count();
  const PairCandidate* candidates = w->candidates.data();
  MinutiaPair* out = slot->pairs.data();
  const int32_t step = both ? 2 : 1;
  for (int32_t k = 0; k < count; ++k) {
    const PairCandidate& c = candidates[k];
    const int32_t at = step * --end[c.distance];
    if (at >= records) continue;
    const MinutiaPair pair = MakePair(slot->set, c.distance, c.first, c.second);
    out[at] = pair;
    ++angleCounts[pair.firstAngle + 1];
    if (both && at + 1 < records) {
      out[at + 1] = Reversed(pair);
      ++angleCounts[pair.secondAngle + 1];
    }
  }
}

// The kEntry... bits one minutia carries; an entry's flags are those both of
// its minutiae carry.
uint8_t TraitsOf(const Minutia& m) {
  return static_cast<uint8_t>((m.type != 0 ? kEntryTyped : 0) | (m.spread != kNoSpread ? kEntrySpread : 0) |
                              (m.density != kNoDensity ? kEntryDensity : 0));
}

BucketEntry EntryOf(const FeatureSet& set, const uint8_t* traits, const MinutiaPair& pair, int32_t record) {
  const Minutia& a = set.minutiae[pair.first];
  const Minutia& b = set.minutiae[pair.second];
  BucketEntry e;
  e.pair = record;
  e.distance = static_cast<uint8_t>(pair.distance);
  e.firstAngle = static_cast<uint8_t>(pair.firstAngle);
  e.secondAngle = static_cast<uint8_t>(pair.secondAngle);
  e.firstDirection = a.direction;
  e.secondDirection = b.direction;
  e.firstSpread = a.spread;
  e.secondSpread = b.spread;
  e.firstDensity = a.density;
  e.secondDensity = b.density;
  e.firstType = a.type;
  e.secondType = b.type;
  e.flags = traits[pair.first] & traits[pair.second];
  return e;
}

// The angle buckets: a counting sort of the records by first angle, each
// bucket keeping table order. `bucketStart[angle + 1]` holds the count of
// records with that first angle on entry (WritePairs counted them). A
// sample also gets the filter's byte arrays.
void FillBuckets(PreparedSet* slot, bool withFilterBytes) {
  int32_t* start = slot->bucketStart;
  const int32_t count = slot->pairs.count();
  for (int32_t k = 0; k < kAngleBuckets; ++k) start[k + 1] += start[k];
  int32_t next[kAngleBuckets];
  for (int32_t k = 0; k < kAngleBuckets; ++k) next[k] = start[k];
  uint8_t traits[kMaxMinutiae];
  for (int32_t i = 0; i < slot->set.minutiaCount; ++i) traits[i] = TraitsOf(slot->set.minutiae[i]);
  BucketEntry* out = slot->buckets.data();
  uint8_t* distance = withFilterBytes ? slot->bucketDistance.data() : nullptr;
  uint8_t* secondAngle = withFilterBytes ? slot->bucketSecondAngle.data() : nullptr;
  for (int32_t r = 0; r < count; ++r) {
    const MinutiaPair& pair = slot->pairs[r];
    const int32_t at = next[pair.firstAngle]++;
    out[at] = EntryOf(slot->set, traits, pair, r);
    if (withFilterBytes) {  // the same for every entry of one set
      distance[at] = static_cast<uint8_t>(pair.distance);
      secondAngle[at] = static_cast<uint8_t>(pair.secondAngle);
    }
  }
  slot->buckets.SetCount(count);
  if (!withFilterBytes) return;
  // The filter reads whole blocks past the last entry; give those bytes a value.
  std::memset(distance + count, 0, kFilterPadding);
  std::memset(secondAngle + count, 0, kFilterPadding);
  slot->bucketDistance.SetCount(count);
  slot->bucketSecondAngle.SetCount(count);
}

}  // namespace

void SetRotationMask(MatchWorkspace* w, int32_t rotationTolerance) {
  int32_t t = rotationTolerance;
  if (t < 0) t = 0;
  if (t > kMaxRotationTolerance) t = kMaxRotationTolerance;
  for (int32_t k = 0; k < kAngleBuckets; ++k) {
    w->rotationMask[k] = (k <= t || k >= kFullTurn - t) ? 1 : 0;
  }
}

int32_t SampleDistanceLimit(const PreparedSet& probe, const MatchParameters& p) {
  if (p.refined) return probe.largestDistance;
  const int32_t widened = probe.largestDistance + p.distanceTolerance;
  return widened < p.pairMaxDistance ? widened : p.pairMaxDistance;
}

int32_t PrepareSet(MatchWorkspace* w, PreparedSet* slot, PairDirections directions,
                   int32_t greatestDistance, const MatchParameters& p) {
  const bool both = directions == PairDirections::kBoth;
  if (w->filterKeySet == slot) w->filterKeySet = nullptr;  // its filter keys no longer hold
  ComputeCentreAndFlags(slot);
  slot->pairs.Clear();
  slot->buckets.Clear();
  slot->bucketDistance.Clear();
  slot->bucketSecondAngle.Clear();
  for (int32_t& s : slot->bucketStart) s = 0;
  slot->largestDistance = p.refined ? 0 : p.pairMinDistance;

  int32_t lo = p.pairMinDistance;
  int32_t hi = greatestDistance;
  if (p.refined) {
    hi = greatestDistance - 1;
    if (!both) lo = p.pairMinDistance + 1;
  }
  const int32_t limit = (p.refined && !both) ? p.samplePairLimit : kMaxArrayEntries;
  if (!CollectCandidates(w, slot->set, lo, hi, limit)) return kOutOfMemory;

  const int32_t pairCount = w->candidates.count();
  int64_t records = both ? 2 * static_cast<int64_t>(pairCount) : pairCount;
  if (p.refined && both && records > p.probePairLimit) records = p.probePairLimit;
  if (!slot->pairs.Reserve(records, kPairGrowth) || !slot->buckets.Reserve(records, kPairGrowth) ||
      (!both && (!slot->bucketDistance.Reserve(records + kFilterPadding, kPairGrowth) ||
                 !slot->bucketSecondAngle.Reserve(records + kFilterPadding, kPairGrowth)))) {
    return kOutOfMemory;
  }
  const int32_t written = static_cast<int32_t>(records);  // at most kMaxArrayEntries after Reserve
  WritePairs(w, slot, both, written, slot->bucketStart);
  slot->pairs.SetCount(written);
  if (written > 0) {
    const int32_t largest = slot->pairs[written - 1].distance;
    slot->largestDistance = p.refined ? largest + 1 : largest;
  }
  FillBuckets(slot, !both);
  return kOk;
}

}  // namespace vorsensor
