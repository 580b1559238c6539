// The record entry points: prepare a probe, match samples against it.
#include "matching/matcher.h"

#include <cstddef>
#include <cstring>

#include "engine/result_codes.h"
#include "engine/template_record.h"
#include "matching/match_parameters.h"
#include "matching/match_state.h"
#include "matching/pair_tables.h"
#include "matching/score.h"

namespace vorsensor {
namespace {

constexpr int32_t kNoMatch = -1;
constexpr size_t kDetailsScoreOffset = offsetof(MatchDetails, score);

// The scale search: every stretch of the read sample, y outer and x inner;
// the best score wins and its details are the ones left behind.
int32_t ScoreStretches(MatchWorkspace* w, int32_t threshold, const MatchParameters& p, DetailsBuffer details) {
  int32_t best = -1;
  size_t detailsSize = 0;
  for (int32_t sy = p.scaleMin; sy <= p.scaleMax; sy += p.scaleStep) {
    for (int32_t sx = p.scaleMin; sx <= p.scaleMax; sx += p.scaleStep) {
      CopyFeatureSet(&w->sample.set, &w->readSet);
      StretchSample(&w->sample.set, sx, sy);
      const int32_t score = ScoreSymmetric(w, threshold, p, details);
      if (score < 0) return score;
      if (score > best) {
        best = score;
        if (details.bytes != nullptr) {
          uint32_t size;
          std::memcpy(&size, details.bytes, sizeof size);
          detailsSize = size;
          std::memcpy(w->detailsSnapshot, details.bytes, detailsSize);
        }
      }
    }
  }
  if (detailsSize > 0) std::memcpy(details.bytes, w->detailsSnapshot, detailsSize);
  return best;
}

}  // namespace

int32_t PrepareProbe(MatchWorkspace* w, const uint8_t* record, size_t recordLength, int32_t rotationTolerance,
                     const EngineConfiguration* parameters) {
  if (w == nullptr || record == nullptr) return kMissingArgument;
  MatchParameters p;
  int32_t r = ReadMatchParameters(parameters, &p);
  if (r < 0) return r;
  w->probePrepared = false;
  r = ReadTemplateRecord(record, recordLength, &w->probe.set);
  if (r < 0) {
    ClearFeatureSet(&w->probe.set);
    return r;
  }
  SetRotationMask(w, rotationTolerance);
  r = PrepareSet(w, &w->probe, PairDirections::kBoth, p.pairMaxDistance, p);
  if (r < 0) return r;
  w->probePrepared = true;
  return kOk;
}

int32_t MatchSample(MatchWorkspace* w, const uint8_t* record, size_t recordLength, int32_t threshold,
                    const EngineConfiguration* parameters, void* details, size_t detailsCapacity) {
  if (w == nullptr || record == nullptr) return kMissingArgument;
  MatchParameters p;
  int32_t r = ReadMatchParameters(parameters, &p);
  if (r < 0) return r;
  if (!w->probePrepared) return kMissingArgument;
  r = ReadTemplateRecord(record, recordLength, &w->readSet);
  if (r < 0) {
    ClearFeatureSet(&w->readSet);
    return r;
  }
  const DetailsBuffer buffer{details, detailsCapacity};
  int32_t score;
  if (p.scaleSearch) {
    score = ScoreStretches(w, threshold, p, buffer);
  } else {
    CopyFeatureSet(&w->sample.set, &w->readSet);
    score = ScoreSymmetric(w, threshold, p, buffer);
  }
  if (score < 0) return score;
  // Scoring has validated the details.
  if (details != nullptr) std::memcpy(static_cast<uint8_t*>(details) + kDetailsScoreOffset, &score, sizeof score);
  if (p.rawScore) return score;
  return score >= threshold ? kOk : kNoMatch;
}

int32_t MatchPair(MatchWorkspace* w, const uint8_t* probeRecord, size_t probeLength, const uint8_t* sampleRecord,
                  size_t sampleLength, int32_t rotationTolerance, int32_t threshold,
                  const EngineConfiguration* parameters, void* details, size_t detailsCapacity) {
  const int32_t r = PrepareProbe(w, probeRecord, probeLength, rotationTolerance, parameters);
  if (r < 0) return r;
  return MatchSample(w, sampleRecord, sampleLength, threshold, parameters, details, detailsCapacity);
}

}  // namespace vorsensor
