// The match workspace block and the match details record.
#include "matching/match_workspace.h"

#include <cstddef>
#include <cstring>
#include <new>

#include "engine/engine_configuration.h"
#include "engine/feature_set.h"
#include "engine/result_codes.h"
#include "matching/match_state.h"

namespace vorsensor {
namespace {

// The engine frees a loaded sample left behind when it stops; it learns how
// from the matcher, which it may not depend on.
const bool kReleaserRegistered = (SetLoadedSampleReleaser(&FreeMatchWorkspace), true);

size_t SlotBytes(const PreparedSet& slot) {
  return slot.pairs.bytes() + slot.buckets.bytes() + slot.bucketDistance.bytes() + slot.bucketSecondAngle.bytes();
}

template <typename T>
void Store(uint8_t* base, size_t offset, T value) {
  std::memcpy(base + offset, &value, sizeof(T));
}

template <typename T>
T Load(const uint8_t* base, size_t offset) {
  T value;
  std::memcpy(&value, base + offset, sizeof(T));
  return value;
}

constexpr size_t kScoreOffset = offsetof(MatchDetails, score);
constexpr size_t kRotationOffset = offsetof(MatchDetails, rotation);
constexpr size_t kShiftXOffset = offsetof(MatchDetails, shiftX);
constexpr size_t kShiftYOffset = offsetof(MatchDetails, shiftY);
constexpr size_t kPairCountOffset = offsetof(MatchDetailsIndexed, pairCount);
constexpr size_t kProbeIndicesOffset = offsetof(MatchDetailsIndexed, probeIndices);
constexpr size_t kSampleIndicesOffset = offsetof(MatchDetailsIndexed, sampleIndices);
constexpr size_t kEntryCountOffset = offsetof(MatchDetailsFull, entryCount);
constexpr size_t kEntriesOffset = offsetof(MatchDetailsFull, entries);
constexpr size_t kGridSimilarityOffset = offsetof(MatchDetailsFull, gridSimilarity);
constexpr size_t kDensityDifferenceOffset = offsetof(MatchDetailsFull, densityByteDifference);

}  // namespace

namespace {

// The fields of a slot that are read before a comparison writes them.
void ClearSlot(PreparedSet* slot) {
  ClearFeatureSet(&slot->set);
  std::memset(slot->bucketStart, 0, sizeof slot->bucketStart);
  slot->largestDistance = 0;
  slot->centreX = 0;
  slot->centreY = 0;
  slot->typed = false;
  slot->spreadPresent = false;
  slot->densityPresent = false;
  slot->gridPresent = false;
  slot->densityBytePresent = false;
}

}  // namespace

MatchWorkspace* CreateMatchWorkspace() {
  static_cast<void>(kReleaserRegistered);
  // Default-initialised: the growable arrays construct themselves empty and
  // the plain fields are cleared below, all but the large blocks that every
  // use writes before it reads them: the minutia, singular point and grid
  // storage of the feature sets (read only within their counts and grid
  // size), the grid scratch, the details snapshot and the shift window
  // sums. Zeroing those was most of the cost of a workspace made for one
  // comparison. The result is the same as from an all-zero block.
  MatchWorkspace* w = new (std::nothrow) MatchWorkspace;
  if (w == nullptr) return nullptr;
  ClearSlot(&w->probe);
  ClearSlot(&w->sample);
  ClearSlot(&w->spare);
  w->probePrepared = false;
  ClearFeatureSet(&w->readSet);
  std::memset(w->distanceHistogram, 0, sizeof w->distanceHistogram);
  std::memset(w->sampleWindows, 0, sizeof w->sampleWindows);
  std::memset(w->rotationMask, 0, sizeof w->rotationMask);
  std::memset(w->rotationHistogram, 0, sizeof w->rotationHistogram);
  std::memset(w->smoothedRotation, 0, sizeof w->smoothedRotation);
  // The shift vote relies on all-zero histograms outside the voted range.
  std::memset(w->shiftHistogramX, 0, sizeof w->shiftHistogramX);
  std::memset(w->shiftHistogramY, 0, sizeof w->shiftHistogramY);
  w->votedRangeX[0] = w->votedRangeX[1] = 0;
  w->votedRangeY[0] = w->votedRangeY[1] = 0;
  w->filterKeySet = nullptr;
  w->filterKeyTolD = 0;
  w->filterKeyTolA = 0;
  return w;
}

void FreeMatchWorkspace(MatchWorkspace* workspace) { delete workspace; }

size_t MatchWorkspaceBytes(const MatchWorkspace* w) {
  if (w == nullptr) return 0;
  return sizeof(MatchWorkspace) + SlotBytes(w->probe) + SlotBytes(w->sample) + SlotBytes(w->spare) +
         w->candidates.bytes() + w->correspondences.bytes() + w->passed.bytes() +
         w->consistent.bytes() + w->filterKeys.bytes() + w->kept.bytes() + w->selection.bytes() + w->selectionScores.bytes() +
         w->group.bytes() + w->taken.bytes() + w->probeStamps.bytes() + w->sampleStamps.bytes() +
         w->probeOpen.bytes() + w->sampleOpen.bytes();
}

int32_t DetailsWriter::Open(DetailsBuffer buffer) {
  base_ = nullptr;
  size_ = 0;
  pairCount_ = 0;
  entryCount_ = 0;
  if (buffer.bytes == nullptr) return kOk;
  if (buffer.capacity < sizeof(uint32_t)) return kOutOfRange;
  uint8_t* base = static_cast<uint8_t*>(buffer.bytes);
  const uint32_t size = Load<uint32_t>(base, 0);
  if (size != kDetailsShortSize && size != kDetailsIndexedSize && size != kDetailsFullSize) {
    return kOutOfRange;
  }
  if (size > buffer.capacity) return kOutOfRange;
  base_ = base;
  size_ = size;
  Store<int32_t>(base_, kScoreOffset, 0);
  Store<int32_t>(base_, kRotationOffset, 0);
  Store<int32_t>(base_, kShiftXOffset, 0);
  Store<int32_t>(base_, kShiftYOffset, 0);
  if (indexed()) Store<uint32_t>(base_, kPairCountOffset, 0);
  if (full()) {
    Store<uint32_t>(base_, kEntryCountOffset, 0);
    Store<int32_t>(base_, kGridSimilarityOffset, 0);
    Store<uint8_t>(base_, kDensityDifferenceOffset, 0);
  }
  return kOk;
}

void DetailsWriter::SetScore(int32_t score) {
  if (present()) Store<int32_t>(base_, kScoreOffset, score);
}

void DetailsWriter::SetRotation(int32_t rotation) {
  if (present()) Store<int32_t>(base_, kRotationOffset, rotation);
}

void DetailsWriter::SetShift(int32_t shiftX, int32_t shiftY) {
  if (!present()) return;
  Store<int32_t>(base_, kShiftXOffset, shiftX);
  Store<int32_t>(base_, kShiftYOffset, shiftY);
}

void DetailsWriter::AddIndexPair(uint16_t probeIndex, uint16_t sampleIndex) {
  if (!indexed() || pairCount_ >= static_cast<uint32_t>(kDetailsMaxPairs)) return;
  for (uint32_t i = 0; i < pairCount_; ++i) {
    if (Load<uint16_t>(base_, kProbeIndicesOffset + 2 * i) == probeIndex &&
        Load<uint16_t>(base_, kSampleIndicesOffset + 2 * i) == sampleIndex) {
      return;
    }
  }
  Store<uint16_t>(base_, kProbeIndicesOffset + 2 * pairCount_, probeIndex);
  Store<uint16_t>(base_, kSampleIndicesOffset + 2 * pairCount_, sampleIndex);
  ++pairCount_;
  Store<uint32_t>(base_, kPairCountOffset, pairCount_);
}

void DetailsWriter::AddEntry(const MatchDetailsEntry& entry) {
  if (!full() || entryCount_ >= static_cast<uint32_t>(kDetailsMaxEntries)) return;
  std::memcpy(base_ + kEntriesOffset + sizeof(MatchDetailsEntry) * entryCount_, &entry, sizeof entry);
  ++entryCount_;
  Store<uint32_t>(base_, kEntryCountOffset, entryCount_);
}

void DetailsWriter::SetGridSimilarity(int32_t similarity) {
  if (full()) Store<int32_t>(base_, kGridSimilarityOffset, similarity);
}

void DetailsWriter::SetDensityByteDifference(uint8_t difference) {
  if (full()) Store<uint8_t>(base_, kDensityDifferenceOffset, difference);
}

}  // namespace vorsensor
