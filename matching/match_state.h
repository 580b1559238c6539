#pragma once
// The inside of a match workspace, shared by the matcher's own files (and its
// tests): growable arrays, minutia pairs, prepared sets and the workspace
// block. Nothing outside matching/ includes this header.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "engine/feature_set.h"
#include "matching/match_workspace.h"

namespace vorsensor {

// Growth steps of the workspace arrays.
constexpr int32_t kPairGrowth = 500;            // pair scratch and pair tables
constexpr int32_t kCorrespondenceGrowth = 500;  // correspondence, consistent, selection lists
// Largest entry count of any workspace array. The probe pair table of a full
// 1024-minutia set needs about 2^20 records; more entries than this mean a
// degenerate input and are refused like an allocation failure.
constexpr int32_t kMaxArrayEntries = 1 << 21;
// Most correspondences one comparison may collect. Real prints collect a few
// thousand; the cap keeps histogram sums far from 32-bit overflow
// (2^20 x 255 x 2 votes) and bounds memory on degenerate inputs.
constexpr int32_t kMaxCorrespondences = 1 << 20;

constexpr int32_t kDistanceBins = 256;     // DistanceOf is 1..255
constexpr int32_t kShiftBins = 4096;       // shift + 2048
constexpr int32_t kShiftOffset = 2048;

// An array of trivially copyable entries that grows by whole steps and keeps
// its memory when emptied. A failed enlargement empties it and sets its
// capacity to 0.
template <typename T>
class GrowableArray {
 public:
  int32_t count() const { return count_; }
  int32_t capacity() const { return capacity_; }
  T* data() { return items_.get(); }
  const T* data() const { return items_.get(); }
  T& operator[](int32_t i) { return items_[i]; }
  const T& operator[](int32_t i) const { return items_[i]; }
  size_t bytes() const { return static_cast<size_t>(capacity_) * sizeof(T); }

  void Clear() { count_ = 0; }
  // Sets the count to `n` entries, which Reserve has made room for.
  void SetCount(int32_t n) { count_ = n; }

  // Room for `needed` entries in all, growing to a whole number of steps.
  // An array that has to grow at least doubles, so that filling it entry by
  // entry copies each entry a bounded number of times (growing by one step
  // at a time made a list of n entries cost n squared / step copies). When
  // the doubled block cannot be had, the smallest whole number of steps is
  // tried before the enlargement counts as failed.
  bool Reserve(int64_t needed, int32_t step) {
    if (needed <= capacity_) return true;
    if (needed > kMaxArrayEntries) return Fail();
    const int64_t doubled = static_cast<int64_t>(capacity_) * 2;
    const int32_t least = RoundToSteps(needed, step);
    const int32_t preferred = RoundToSteps(doubled > needed ? doubled : needed, step);
    std::unique_ptr<T[]> grown(new (std::nothrow) T[static_cast<size_t>(preferred)]);
    int32_t newCapacity = preferred;
    if (!grown && least < preferred) {
      grown.reset(new (std::nothrow) T[static_cast<size_t>(least)]);
      newCapacity = least;
    }
    if (!grown) return Fail();
    if (count_ > 0) std::memcpy(grown.get(), items_.get(), static_cast<size_t>(count_) * sizeof(T));
    items_ = std::move(grown);
    capacity_ = newCapacity;
    return true;
  }

  bool Append(const T& value, int32_t step) {
    if (count_ == capacity_ && !Reserve(static_cast<int64_t>(count_) + 1, step)) return false;
    items_[count_++] = value;
    return true;
  }

  void Release() {
    items_.reset();
    count_ = 0;
    capacity_ = 0;
  }

 private:
  static int32_t RoundToSteps(int64_t entries, int32_t step) {
    const int64_t rounded = (entries + step - 1) / step * step;
    return static_cast<int32_t>(rounded > kMaxArrayEntries ? kMaxArrayEntries : rounded);
  }

  bool Fail() {
    Release();
    return false;
  }

  std::unique_ptr<T[]> items_;
  int32_t count_ = 0;
  int32_t capacity_ = 0;
};

// A minutia pair record: quantities that do not change when the finger is
// turned or shifted (except the line orientation, which the turn updates).
struct MinutiaPair {
  int32_t distance;         // DistanceOf of the two minutiae
  int32_t first;            // index into the set's minutiae
  int32_t second;
  int32_t lineOrientation;  // DirectionOf(first, second) modulo 120
  int32_t firstAngle;       // line direction minus first minutia's direction, 0..239
  int32_t secondAngle;      // reverse line direction minus second's direction, 0..239
};

// What the correspondence search reads of one pair record, packed next to its
// neighbours in angle-bucket order so the search walks memory in sequence.
struct BucketEntry {
  uint8_t distance;
  uint8_t firstAngle;  // the bucket's own angle
  uint8_t secondAngle;
  uint8_t firstDirection;  // directions of the two minutiae (raw bytes)
  uint8_t secondDirection;
  uint8_t firstSpread;
  uint8_t secondSpread;
  uint8_t firstDensity;
  uint8_t secondDensity;
  uint8_t flags;  // kEntry... bits: what both minutiae carry
  int32_t pair;  // index into the pair table
  int32_t firstType;
  int32_t secondType;
};

// BucketEntry flags: both minutiae are typed (type not 0), both carry an
// orientation spread, both carry a density value. A pair score factor applies
// when the flag is set in both entries and its parameter asks for it.
constexpr uint8_t kEntryTyped = 1;
constexpr uint8_t kEntrySpread = 2;
constexpr uint8_t kEntryDensity = 4;

// Unsorted pair found while enumerating (pair-building scratch).
struct PairCandidate {
  int32_t distance;
  int32_t first;
  int32_t second;
};

constexpr int32_t kAngleBuckets = 240;

// One workspace slot: a feature set and its pair table.
struct PreparedSet {
  FeatureSet set;
  GrowableArray<MinutiaPair> pairs;  // sorted by distance
  // Angle buckets, stored back to back: bucket k (first relative angle k)
  // holds entries bucketStart[k] .. bucketStart[k + 1] - 1, in table order.
  GrowableArray<BucketEntry> buckets;
  int32_t bucketStart[kAngleBuckets + 1];
  // The two fields the correspondence search tests first, one byte per
  // bucket entry each, so that its filter reads two dense byte arrays
  // (filled for a sample, which is what the search walks).
  GrowableArray<uint8_t> bucketDistance;
  GrowableArray<uint8_t> bucketSecondAngle;
  int32_t largestDistance;
  int32_t centreX;
  int32_t centreY;
  // Flags: at least half the minutiae typed / with spread / with density;
  // a grid held; a density byte held.
  bool typed;
  bool spreadPresent;
  bool densityPresent;
  bool gridPresent;
  bool densityBytePresent;
};

struct Correspondence {
  int32_t probePair;   // index into the probe slot's pair table
  int32_t samplePair;  // index into the sample slot's pair table
  int32_t score;       // 1..255
};

// The sample entries a probe bucket's window covers: begin .. end - 1, then
// 0 .. wrappedEnd - 1 when the window wraps past angle 239.
struct SampleWindow {
  int32_t begin;
  int32_t end;
  int32_t wrappedEnd;
};

// CreateMatchWorkspace clears the plain fields one by one (it leaves the
// large always-written blocks alone): a new plain field must be cleared there.
struct MatchWorkspace {
  PreparedSet probe;
  PreparedSet sample;
  PreparedSet spare;  // symmetric mode: the sample prepared as a probe
  bool probePrepared;
  // The record read by MatchSample, kept whole so the scale search can
  // start every stretch from a fresh copy.
  FeatureSet readSet;

  // Pair-building scratch.
  GrowableArray<PairCandidate> candidates;
  int32_t distanceHistogram[kDistanceBins];

  // Scoring lists (indices into `correspondences` for the other three).
  GrowableArray<Correspondence> correspondences;
  // Stage-1 scratch: the (probe entry, sample entry) combinations that pass
  // the window filter.
  GrowableArray<uint64_t> passed;
  GrowableArray<int32_t> consistent;
  GrowableArray<int32_t> kept;
  GrowableArray<int32_t> selection;
  GrowableArray<uint8_t> selectionScores;
  // Conflict-group scratch of selection mode 2.
  GrowableArray<int32_t> group;
  GrowableArray<uint8_t> taken;
  GrowableArray<int32_t> probeStamps;
  GrowableArray<int32_t> sampleStamps;
  GrowableArray<int32_t> probeOpen;
  GrowableArray<int32_t> sampleOpen;

  // The window filter keys of a probe's entries (FilterKeyOf), kept for the
  // comparisons that follow: the set they were made for (null: none) and
  // the tolerances. PrepareSet drops them when it rebuilds that set.
  GrowableArray<uint32_t> filterKeys;
  const PreparedSet* filterKeySet;
  int32_t filterKeyTolD;
  int32_t filterKeyTolA;

  SampleWindow sampleWindows[kAngleBuckets];  // correspondence search scratch
  uint8_t rotationMask[kAngleBuckets];
  int32_t rotationHistogram[kAngleBuckets];
  int32_t smoothedRotation[kAngleBuckets];
  int32_t shiftHistogramX[kShiftBins];
  int32_t shiftHistogramY[kShiftBins];
  // The bins (least, greatest) the last shift vote may have left non-zero.
  int32_t votedRangeX[2];
  int32_t votedRangeY[2];
  int32_t shiftSums[kShiftBins];

  // Grid turning and shifting work on a copy.
  uint8_t gridScratch[kMaxGridSide][kMaxGridSide];
  // The details of the best stretch of a scale search.
  uint8_t detailsSnapshot[kDetailsFullSize];
};

// The caller's details buffer as handed to an entry point.
struct DetailsBuffer {
  void* bytes;      // null: no details wanted
  size_t capacity;  // writable bytes at `bytes`
};

// Writes the fields of a details record into the caller's buffer one by one
// (the buffer may be unaligned). Open validates the size field and clears the
// counters; every later call is a no-op when there are no details.
class DetailsWriter {
 public:
  // kOk, or kOutOfRange for a size other than 20, 4120 and 20132 or one
  // larger than the buffer's capacity.
  int32_t Open(DetailsBuffer buffer);

  bool present() const { return base_ != nullptr; }
  bool indexed() const { return size_ >= kDetailsIndexedSize; }
  bool full() const { return size_ == kDetailsFullSize; }

  void SetScore(int32_t score);
  void SetRotation(int32_t rotation);
  void SetShift(int32_t shiftX, int32_t shiftY);
  // Adds (probe index, sample index) unless the lists hold it already or are full.
  void AddIndexPair(uint16_t probeIndex, uint16_t sampleIndex);
  // Appends an entry while fewer than kDetailsMaxEntries are held.
  void AddEntry(const MatchDetailsEntry& entry);
  void SetGridSimilarity(int32_t similarity);
  void SetDensityByteDifference(uint8_t difference);

 private:
  uint8_t* base_ = nullptr;
  uint32_t size_ = 0;
  uint32_t pairCount_ = 0;
  uint32_t entryCount_ = 0;
};

}  // namespace vorsensor
