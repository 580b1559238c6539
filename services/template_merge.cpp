// The template merge: CompareForMerge, MergeTemplates and the merge core.
#include "services/template_merge.h"

#include <algorithm>
#include <memory>
#include <new>

#include "engine/result_codes.h"
#include "engine/template_record.h"
#include "matching/matcher.h"
#include "services/prepared_sample.h"
#include "services/verification.h"

namespace vorsensor {
namespace {

// Probe and sample set of each alignment, by number.
constexpr int32_t kAlignmentProbe[kMergeAlignmentCount] = {0, 0, 1, 1, 2, 2};
constexpr int32_t kAlignmentSample[kMergeAlignmentCount] = {1, 2, 0, 2, 0, 1};
// The pairs of alignments that unite the two directions of a pair of sets:
// (0,1 with 1,0), (0,2 with 2,0), (1,2 with 2,1).
constexpr int32_t kUnitedPairs[3][2] = {{0, 2}, {1, 4}, {3, 5}};
// One label per minutia index of a set of at most kMergeMaxMinutiae.
constexpr int32_t kLabelCount = kMergeMaxMinutiae + 1;
// Labels are 16 bits wide: a merge can make more than 254 clusters, and a
// cluster number must never read as "no cluster".
constexpr uint16_t kNoCluster = 0xFFFF;

int32_t AlignmentOf(int32_t probe, int32_t sample) { return probe * 2 + (sample > probe ? sample - 1 : sample); }

struct Alignment {
  FeatureSet aligned;  // the sample set turned and shifted onto the probe set
  CorrespondenceList oneToOne;
  CorrespondenceList ambiguous;
};

struct MergeScratch {
  Alignment alignments[kMergeAlignmentCount];
  uint16_t labels[kMergeSetCount][kLabelCount];
};

// One of the lists P, Q, R of the merge with the sets its entries join.
struct MergeList {
  Alignment* alignment;
  int32_t firstSet;
  int32_t secondSet;
};

enum class Side { kFirst, kSecond };

uint16_t IndexOn(const CorrespondenceList& list, int32_t position, Side side) {
  return side == Side::kFirst ? list.first[position] : list.second[position];
}

bool WithinSets(const CorrespondenceList& list, int32_t firstCount, int32_t secondCount) {
  for (int32_t k = 0; k < list.count; ++k) {
    if (list.first[k] >= firstCount || list.second[k] >= secondCount) {
      return false;
    }
  }
  return true;
}

// Moves to `partner`'s ambiguous list every one-to-one entry of `partner`
// whose minutia on `partnerSide` is the minutia on `sourceSide` of one of the
// ambiguous entries of `source`. Returns the number moved.
int32_t SpreadAmbiguity(const Alignment& source, Side sourceSide, Alignment* partner, Side partnerSide) {
  int32_t moved = 0;
  for (int32_t a = 0; a < source.ambiguous.count; ++a) {
    const uint16_t minutia = IndexOn(source.ambiguous, a, sourceSide);
    int32_t j = 0;
    while (j < partner->oneToOne.count) {
      if (IndexOn(partner->oneToOne, j, partnerSide) == minutia) {
        MoveCorrespondence(&partner->oneToOne, j, &partner->ambiguous);
        ++moved;
      } else {
        ++j;
      }
    }
  }
  return moved;
}

// Sweeps P, Q and R until no one-to-one entry shares a minutia with an
// ambiguous entry of a partner list.
void SpreadAmbiguities(Alignment* p, Alignment* q, Alignment* r) {
  int32_t moved;
  do {
    moved = SpreadAmbiguity(*p, Side::kFirst, q, Side::kFirst);    // same base minutia
    moved += SpreadAmbiguity(*p, Side::kSecond, r, Side::kFirst);  // same first-other minutia
    moved += SpreadAmbiguity(*q, Side::kFirst, p, Side::kFirst);   // same base minutia
    moved += SpreadAmbiguity(*q, Side::kSecond, r, Side::kSecond); // same second-other minutia
    moved += SpreadAmbiguity(*r, Side::kFirst, p, Side::kSecond);  // same first-other minutia
    moved += SpreadAmbiguity(*r, Side::kSecond, q, Side::kSecond); // same second-other minutia
  } while (moved > 0);
}

// Labels the minutiae joined by ambiguous entries with cluster numbers (each
// cluster the minutiae reachable from one another through such entries),
// emptying the ambiguous lists. Returns the number of clusters.
int32_t LabelClusters(MergeList lists[3], uint16_t labels[kMergeSetCount][kLabelCount]) {
  for (int32_t s = 0; s < kMergeSetCount; ++s) {
    std::fill(labels[s], labels[s] + kLabelCount, kNoCluster);
  }
  int32_t cluster = 0;
  for (;;) {
    MergeList* seed = nullptr;
    for (int32_t l = 0; l < 3 && seed == nullptr; ++l) {
      if (lists[l].alignment->ambiguous.count > 0) {
        seed = &lists[l];
      }
    }
    if (seed == nullptr) {
      return cluster;
    }
    const uint16_t c = static_cast<uint16_t>(cluster);
    CorrespondenceList& seedList = seed->alignment->ambiguous;
    labels[seed->firstSet][seedList.first[0]] = c;
    labels[seed->secondSet][seedList.second[0]] = c;
    RemoveCorrespondence(&seedList, 0);
    bool removed;
    do {
      removed = false;
      for (int32_t l = 0; l < 3; ++l) {
        CorrespondenceList& list = lists[l].alignment->ambiguous;
        uint16_t* firstLabels = labels[lists[l].firstSet];
        uint16_t* secondLabels = labels[lists[l].secondSet];
        int32_t j = 0;
        while (j < list.count) {
          if (firstLabels[list.first[j]] == c) {
            secondLabels[list.second[j]] = c;
          } else if (secondLabels[list.second[j]] == c) {
            firstLabels[list.first[j]] = c;
          } else {
            ++j;
            continue;
          }
          RemoveCorrespondence(&list, j);
          removed = true;
        }
      }
    } while (removed);
    ++cluster;
  }
}

void AppendMinutia(FeatureSet* set, const Minutia& minutia) {
  if (set->minutiaCount < kMaxMinutiae) {
    set->minutiae[set->minutiaCount++] = minutia;
  }
}

constexpr int32_t kFullTurnUnits = 240;
constexpr int32_t kHalfTurnUnits = 120;

// The circular mean of k directions (0..239): the plain truncated mean when
// they lie within half a turn of each other, else the mean taken with the
// upper half counted as negative, brought back into 0..239.
uint8_t MeanDirection(const Minutia* const members[], int32_t k) {
  int32_t low = members[0]->direction;
  int32_t high = low;
  int32_t sum = 0;
  for (int32_t m = 0; m < k; ++m) {
    low = std::min<int32_t>(low, members[m]->direction);
    high = std::max<int32_t>(high, members[m]->direction);
    sum += members[m]->direction;
  }
  if (high - low < kHalfTurnUnits) {
    return static_cast<uint8_t>(sum / k);
  }
  sum = 0;
  for (int32_t m = 0; m < k; ++m) {
    const int32_t d = members[m]->direction;
    sum += d >= kHalfTurnUnits ? d - kFullTurnUnits : d;
  }
  int32_t mean = sum / k;
  if (mean < 0) {
    mean += kFullTurnUnits;
  }
  return static_cast<uint8_t>(mean);
}

// The average of k (2 or 3) corresponding minutiae.
Minutia AverageMinutiae(const Minutia* const members[], int32_t k) {
  int32_t x = 0;
  int32_t y = 0;
  int32_t endings = 0;
  int32_t bifurcations = 0;
  int32_t spread = 0;
  int32_t density = 0;
  for (int32_t m = 0; m < k; ++m) {
    x += members[m]->x;
    y += members[m]->y;
    endings += members[m]->type == kMinutiaEnding ? 1 : 0;
    bifurcations += members[m]->type == kMinutiaBifurcation ? 1 : 0;
    spread += members[m]->spread;
    density += members[m]->density;
  }
  Minutia average{};
  average.x = x / k;
  average.y = y / k;
  average.type = bifurcations > endings ? kMinutiaBifurcation : (endings > 0 ? kMinutiaEnding : 0);
  average.direction = MeanDirection(members, k);
  average.spread = static_cast<uint8_t>(spread / k);
  average.density = static_cast<uint8_t>(density / k);
  return average;
}

void AppendAverage(FeatureSet* merged, const Minutia& a, const Minutia& b) {
  const Minutia* members[] = {&a, &b};
  AppendMinutia(merged, AverageMinutiae(members, 2));
}

void AppendAverage(FeatureSet* merged, const Minutia& a, const Minutia& b, const Minutia& c) {
  const Minutia* members[] = {&a, &b, &c};
  AppendMinutia(merged, AverageMinutiae(members, 3));
}

int32_t FindOn(const CorrespondenceList& list, Side side, uint16_t minutia) {
  for (int32_t k = 0; k < list.count; ++k) {
    if (IndexOn(list, k, side) == minutia) {
      return k;
    }
  }
  return -1;
}

void RemoveFirstOn(CorrespondenceList* list, Side side, uint16_t minutia) {
  const int32_t k = FindOn(*list, side, minutia);
  if (k >= 0) {
    RemoveCorrespondence(list, k);
  }
}

void CopySetContext(FeatureSet* merged, const FeatureSet& base) {
  merged->densityByte = base.densityByte;
  merged->singularCount = base.singularCount;
  std::copy(base.singular, base.singular + base.singularCount, merged->singular);
  merged->gridWidth = base.gridWidth;
  merged->gridHeight = base.gridHeight;
  for (int32_t row = 0; row < base.gridHeight; ++row) {
    std::copy(base.grid[row], base.grid[row] + base.gridWidth, merged->grid[row]);
  }
}

// The merge after the six alignments: unite, choose the base, spread the
// ambiguity, cluster and average.
int32_t MergeAligned(const FeatureSet* const sets[kMergeSetCount], FeatureSet* merged, MergeScratch* scratch) {
  Alignment* alignments = scratch->alignments;
  for (const auto& pair : kUnitedPairs) {
    Alignment& x = alignments[pair[0]];
    Alignment& y = alignments[pair[1]];
    UniteCorrespondences(&x.oneToOne, &x.ambiguous, &y.oneToOne, &y.ambiguous);
  }

  int32_t base = 0;
  int32_t bestSum = -1;
  for (int32_t b = 0; b < kMergeSetCount; ++b) {
    const int32_t sum = alignments[2 * b].oneToOne.count + alignments[2 * b + 1].oneToOne.count;
    if (sum > bestSum) {  // a tie keeps the lower index
      bestSum = sum;
      base = b;
    }
  }
  const int32_t other1 = base == 0 ? 1 : 0;
  const int32_t other2 = base == 2 ? 1 : 2;
  Alignment* p = &alignments[AlignmentOf(base, other1)];
  Alignment* q = &alignments[AlignmentOf(base, other2)];
  Alignment* r = &alignments[AlignmentOf(other1, other2)];

  // Every minutia in the base's frame.
  const Minutia* frame[kMergeSetCount];
  frame[base] = sets[base]->minutiae;
  frame[other1] = p->aligned.minutiae;
  frame[other2] = q->aligned.minutiae;
  const int32_t counts[kMergeSetCount] = {sets[0]->minutiaCount, sets[1]->minutiaCount, sets[2]->minutiaCount};

  SpreadAmbiguities(p, q, r);

  MergeList lists[3] = {{p, base, other1}, {q, base, other2}, {r, other1, other2}};
  const int32_t clusters = LabelClusters(lists, scratch->labels);
  for (int32_t c = 0; c < clusters; ++c) {
    int32_t members[kMergeSetCount] = {0, 0, 0};
    for (int32_t s = 0; s < kMergeSetCount; ++s) {
      members[s] = static_cast<int32_t>(std::count(scratch->labels[s], scratch->labels[s] + counts[s], c));
    }
    const int32_t giver = static_cast<int32_t>(std::max_element(members, members + kMergeSetCount) - members);
    for (int32_t m = 0; m < counts[giver]; ++m) {
      if (scratch->labels[giver][m] == c) {
        AppendMinutia(merged, frame[giver][m]);
      }
    }
  }

  for (int32_t k = 0; k < p->oneToOne.count; ++k) {
    const uint16_t b = p->oneToOne.first[k];
    const uint16_t o1 = p->oneToOne.second[k];
    const int32_t inQ = FindOn(q->oneToOne, Side::kFirst, b);
    if (inQ >= 0) {
      AppendAverage(merged, frame[base][b], frame[other1][o1], frame[other2][q->oneToOne.second[inQ]]);
      RemoveCorrespondence(&q->oneToOne, inQ);
    } else {
      AppendAverage(merged, frame[base][b], frame[other1][o1]);
    }
    RemoveFirstOn(&r->oneToOne, Side::kFirst, o1);
  }
  for (int32_t k = 0; k < q->oneToOne.count; ++k) {
    const uint16_t o2 = q->oneToOne.second[k];
    AppendAverage(merged, frame[base][q->oneToOne.first[k]], frame[other2][o2]);
    RemoveFirstOn(&r->oneToOne, Side::kSecond, o2);
  }
  for (int32_t k = 0; k < r->oneToOne.count; ++k) {
    AppendAverage(merged, frame[other1][r->oneToOne.first[k]], frame[other2][r->oneToOne.second[k]]);
  }

  CopySetContext(merged, *sets[base]);
  return base;
}

// The production aligner: the matcher's AlignSample with indexed details.
struct MatcherAligner {
  MatchWorkspace* workspace;
  const EngineConfiguration* parameters;
  int32_t rotationTolerance;
  int32_t threshold;
  MatchDetailsIndexed details;
};

int32_t AlignWithMatcher(void* context, int32_t /*alignment*/, const FeatureSet* probe, FeatureSet* sample,
                         CorrespondenceList* pairs) {
  auto* m = static_cast<MatcherAligner*>(context);
  m->details.head.size = kDetailsIndexedSize;
  const int32_t score = AlignSample(m->workspace, probe, sample, m->rotationTolerance, m->threshold, m->parameters,
                                    &m->details, sizeof m->details);
  if (score < 0) {
    return score;
  }
  pairs->count = static_cast<int32_t>(std::min<uint32_t>(m->details.pairCount, kMaxCorrespondences));
  std::copy(m->details.probeIndices, m->details.probeIndices + pairs->count, pairs->first);
  std::copy(m->details.sampleIndices, m->details.sampleIndices + pairs->count, pairs->second);
  return score;
}

template <typename T>
std::unique_ptr<T> Allocate() {
  return std::unique_ptr<T>(new (std::nothrow) T);
}

EngineConfiguration* Resolve(EngineConfiguration* engine) { return engine != nullptr ? engine : EngineConfig(); }

}  // namespace

int32_t MergeFeatureSetsWith(const FeatureSet* const sets[kMergeSetCount], FeatureSet* merged, int32_t threshold,
                             const MergeAligner& aligner) {
  if (merged == nullptr) {
    return kMissingArgument;
  }
  ClearFeatureSet(merged);
  if (sets == nullptr || aligner.align == nullptr) {
    return kMissingArgument;
  }
  for (int32_t s = 0; s < kMergeSetCount; ++s) {
    if (sets[s] == nullptr) {
      return kMissingArgument;
    }
    if (sets[s]->minutiaCount > kMergeMaxMinutiae) {
      return kTooManyMinutiaeToMerge;
    }
    if (sets[s]->minutiaCount < 0) {
      return kOutOfRange;
    }
  }
  const std::unique_ptr<MergeScratch> scratch = Allocate<MergeScratch>();
  if (!scratch) {
    return kOutOfMemory;
  }
  for (int32_t a = 0; a < kMergeAlignmentCount; ++a) {
    Alignment& alignment = scratch->alignments[a];
    const FeatureSet& probe = *sets[kAlignmentProbe[a]];
    CopyFeatureSet(&alignment.aligned, sets[kAlignmentSample[a]]);
    alignment.oneToOne.count = 0;
    alignment.ambiguous.count = 0;
    const int32_t score = aligner.align(aligner.context, a, &probe, &alignment.aligned, &alignment.oneToOne);
    if (score < 0) {
      return score;
    }
    if (score < threshold) {
      return kMergeFailed;
    }
    if (alignment.aligned.minutiaCount != sets[kAlignmentSample[a]]->minutiaCount ||
        !WithinSets(alignment.oneToOne, probe.minutiaCount, alignment.aligned.minutiaCount)) {
      return kOutOfRange;
    }
  }
  return MergeAligned(sets, merged, scratch.get());
}

int32_t MergeFeatureSets(const FeatureSet* const sets[kMergeSetCount], FeatureSet* merged, int32_t threshold,
                         int32_t rotationTolerance, const EngineConfiguration* parameters,
                         MatchWorkspace* workspace) {
  if (workspace == nullptr) {
    if (merged != nullptr) {
      ClearFeatureSet(merged);
    }
    return kMissingArgument;
  }
  MatcherAligner matcher{workspace, parameters, rotationTolerance, threshold, {}};
  return MergeFeatureSetsWith(sets, merged, threshold, MergeAligner{&AlignWithMatcher, &matcher});
}

int32_t CompareForMerge(const uint8_t* first, size_t firstLength, const uint8_t* second, size_t secondLength,
                        int32_t* matched, EngineConfiguration* engine) {
  if (matched == nullptr) {
    return kMissingArgument;
  }
  *matched = 0;
  EngineConfiguration* config = Resolve(engine);
  if (config == nullptr) {
    return kEngineStopped;
  }
  const std::unique_ptr<FeatureSet> a = Allocate<FeatureSet>();
  const std::unique_ptr<FeatureSet> b = Allocate<FeatureSet>();
  if (!a || !b) {
    return kOutOfMemory;
  }
  int32_t r = ReadTemplateRecord(first, firstLength, a.get());
  if (r < 0) {
    return r;
  }
  const int32_t consumed = ReadTemplateRecord(second, secondLength, b.get());
  if (consumed < 0) {
    return consumed;
  }
  if (SampleIsLoaded(config)) {
    return kSampleInUse;
  }
  const MatchWorkspacePtr workspace(CreateMatchWorkspace());
  if (!workspace) {
    return kOutOfMemory;
  }
  const int32_t threshold = static_cast<int32_t>(config->enrolThreshold);
  r = AlignSample(workspace.get(), a.get(), b.get(), static_cast<int32_t>(config->enrolRotationTolerance),
                  threshold, config, nullptr, 0);
  if (r < 0) {
    return r;
  }
  *matched = r >= threshold ? 1 : 0;
  return consumed;
}

int32_t MergeTemplates(int32_t count, const uint8_t* const* records, size_t recordLength, uint8_t* output,
                       size_t outputCapacity, int32_t* length, EngineConfiguration* engine) {
  EngineConfiguration* config = Resolve(engine);
  if (config == nullptr) {
    return kEngineStopped;
  }
  if (SampleIsLoaded(config)) {
    return kSampleInUse;
  }
  const MatchWorkspacePtr workspace(CreateMatchWorkspace());
  if (!workspace) {
    return kOutOfMemory;
  }
  if (count != kMergeSetCount) {
    return kOutOfRange;
  }
  if (records == nullptr || output == nullptr || length == nullptr) {
    return kMissingArgument;
  }
  std::unique_ptr<FeatureSet> sets[kMergeSetCount];
  for (int32_t s = 0; s < kMergeSetCount; ++s) {
    if (records[s] == nullptr) {
      return kMissingArgument;
    }
    sets[s] = Allocate<FeatureSet>();
    if (!sets[s]) {
      return kOutOfMemory;
    }
    const int32_t r = ReadTemplateRecord(records[s], recordLength, sets[s].get());
    if (r < 0) {
      return r;
    }
  }
  const std::unique_ptr<FeatureSet> merged = Allocate<FeatureSet>();
  if (!merged) {
    return kOutOfMemory;
  }
  const FeatureSet* const views[kMergeSetCount] = {sets[0].get(), sets[1].get(), sets[2].get()};
  const int32_t base = MergeFeatureSets(views, merged.get(), static_cast<int32_t>(config->enrolThreshold),
                                        static_cast<int32_t>(config->enrolRotationTolerance), config,
                                        workspace.get());
  // A failed merge still leaves a (then empty) merged set to write.
  const int32_t written = WriteTemplateRecord(merged.get(), output, outputCapacity);
  if (written < 0) {
    return written;
  }
  *length = written;
  return base;
}

}  // namespace vorsensor
