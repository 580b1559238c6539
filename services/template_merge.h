#pragma once
// The template merge: whether two captures of a finger agree well enough to
// be merged (CompareForMerge), and the merge of three mutually agreeing
// captures into one template record (MergeTemplates, MergeFeatureSets).
//
// The merge aligns every set onto every other (six alignments), keeps the
// minutia correspondences both directions of a pair agree on, chooses the
// best-connected set as the base and builds a set of averaged minutiae in the
// base's frame. Minutiae that no other capture confirms are left out.
//
// All working memory (match workspace, aligned copies, correspondence lists)
// belongs to the call; nothing is parked in the engine configuration, so a
// merge on one thread and an identification on another never meet.
#include <cstddef>
#include <cstdint>

#include "engine/engine_configuration.h"
#include "engine/feature_set.h"
#include "matching/match_workspace.h"
#include "services/correspondence_lists.h"

namespace vorsensor {

constexpr int32_t kMergeSetCount = 3;
constexpr int32_t kMergeAlignmentCount = 6;
// The merge labels minutiae by index in arrays of 255 entries (255 meaning
// none), so it takes sets of at most 254 minutiae.
constexpr int32_t kMergeMaxMinutiae = 254;
// An alignment scored below the threshold: the captures do not agree.
constexpr int32_t kMergeFailed = -1;

// How the merge aligns one set onto another. `align` turns and shifts
// `sample` (a fresh copy of the sample set) onto `probe` in place, lists the
// correspondences it found (probe index, sample index) in `pairs` and returns
// the alignment's score (0 or more) or a negative error. `alignment` is the
// alignment's number 0..5 (probe, sample: 0,1 0,2 1,0 1,2 2,0 2,1).
struct MergeAligner {
  int32_t (*align)(void* context, int32_t alignment, const FeatureSet* probe, FeatureSet* sample,
                   CorrespondenceList* pairs);
  void* context;
};

// Merges sets[0..2] into `merged` with the matcher's AlignSample (rotation
// tolerance and threshold as given, `parameters` handed on to the matcher,
// `workspace` used for every alignment). Returns the base set's index 0..2;
// kMergeFailed when an alignment scores below `threshold` (the merged set is
// then empty); kMissingArgument for a null pointer; kTooManyMinutiaeToMerge
// for a set of more than kMergeMaxMinutiae minutiae; kOutOfMemory when the
// merge's working memory cannot be had; kOutOfRange for correspondences that
// name minutiae a set does not have; the matcher's errors.
int32_t MergeFeatureSets(const FeatureSet* const sets[kMergeSetCount], FeatureSet* merged, int32_t threshold,
                         int32_t rotationTolerance, const EngineConfiguration* parameters,
                         MatchWorkspace* workspace);

// The same merge with the alignments made by `aligner`.
int32_t MergeFeatureSetsWith(const FeatureSet* const sets[kMergeSetCount], FeatureSet* merged, int32_t threshold,
                             const MergeAligner& aligner);

// Reads both records (at most the given lengths are looked at) and aligns the
// second onto the first with `enrolRotationTolerance`; *matched := 1 when the
// score reaches `enrolThreshold`, else 0. Returns the number of bytes the
// reader took from `second`, or: the reader's error; kSampleInUse while the
// engine has a sample loaded; kEngineStopped; kMissingArgument; kOutOfMemory;
// the matcher's error. `engine` null means the engine's own configuration.
int32_t CompareForMerge(const uint8_t* first, size_t firstLength, const uint8_t* second, size_t secondLength,
                        int32_t* matched, EngineConfiguration* engine = nullptr);

// Merges three template records (each read from at most `recordLength`
// bytes) with the enrolment threshold and rotation tolerance of the
// configuration, and writes the merged set as a record into `output` (room
// for `outputCapacity` bytes), its length into *length. Returns the base
// set's index 0..2 or kMergeFailed (an empty merged set is written then), or:
// kEngineStopped, kSampleInUse, kOutOfMemory, kOutOfRange (count not 3),
// kMissingArgument, the reader's or the writer's error, the merge's errors.
int32_t MergeTemplates(int32_t count, const uint8_t* const* records, size_t recordLength, uint8_t* output,
                       size_t outputCapacity, int32_t* length, EngineConfiguration* engine = nullptr);

}  // namespace vorsensor
