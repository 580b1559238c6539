// Turning, shifting and stretching a sample, and AlignSample, which hands the
// aligned sample back to its caller.
#include "matching/alignment.h"

#include <cstdint>

#include "engine/result_codes.h"
#include "geometry/geometry.h"
#include "matching/match_parameters.h"
#include "matching/matcher.h"
#include "matching/pair_tables.h"
#include "matching/score.h"

namespace vorsensor {
namespace {

constexpr int64_t kRoundHalf = kTrigScale / 2;
constexpr int64_t kPercent = 100;

int32_t RoundTurned(int64_t value) {
  return static_cast<int32_t>((value > 0 ? value + kRoundHalf : value - kRoundHalf) / kTrigScale);
}

int32_t StretchCoordinate(int32_t value, int32_t percent) {
  const int64_t v = static_cast<int64_t>(value) * percent;
  return static_cast<int32_t>((v >= 0 ? v + kPercent / 2 : v - kPercent / 2) / kPercent);
}

bool Outside(int32_t v) { return v > kMaxCoordinate || v < -kMaxCoordinate; }

// Turns the point (x, y) about (cx, cy) by the tables' entries for `index`.
void TurnPoint(int32_t* x, int32_t* y, int32_t cx, int32_t cy, int64_t c, int64_t s) {
  const int64_t dx = static_cast<int64_t>(*x) - cx;
  const int64_t dy = static_cast<int64_t>(*y) - cy;
  *x = cx + RoundTurned(dx * c + dy * s);
  *y = cy + RoundTurned(dy * c - dx * s);
}

uint8_t TurnDirection(uint8_t direction, int32_t rotation) {
  return static_cast<uint8_t>((direction + rotation) % kFullTurn);
}

}  // namespace

int32_t ValidateFeatureSet(const FeatureSet& set) {
  if (set.minutiaCount < 0 || set.minutiaCount > kMaxMinutiae) return kOutOfRange;
  if (set.singularCount < 0 || set.singularCount > kMaxSingularPoints) return kOutOfRange;
  if (set.gridWidth < 0 || set.gridWidth > kMaxGridSide) return kOutOfRange;
  if (set.gridHeight < 0 || set.gridHeight > kMaxGridSide) return kOutOfRange;
  for (int32_t i = 0; i < set.minutiaCount; ++i) {
    if (Outside(set.minutiae[i].x) || Outside(set.minutiae[i].y)) return kOutOfRange;
  }
  for (int32_t i = 0; i < set.singularCount; ++i) {
    if (Outside(set.singular[i].x) || Outside(set.singular[i].y)) return kOutOfRange;
  }
  return kOk;
}

void TurnSample(PreparedSet* sample, int32_t rotation, bool turnGrid, GridScratch scratch) {
  if (rotation >= 0 && rotation < kFullTurn) {
    // Line orientations are 0..119, so the sum lies in 0..358: two
    // conditional subtractions instead of a division per pair.
    for (int32_t r = 0; r < sample->pairs.count(); ++r) {
      int32_t line = sample->pairs[r].lineOrientation + rotation;
      line = line >= kFullTurn ? line - kFullTurn : line;
      sample->pairs[r].lineOrientation = line >= kHalfTurn ? line - kHalfTurn : line;
    }
  } else {
    for (int32_t r = 0; r < sample->pairs.count(); ++r) {
      int32_t line = (sample->pairs[r].lineOrientation + rotation) % kFullTurn;
      if (line >= kHalfTurn) line -= kHalfTurn;
      sample->pairs[r].lineOrientation = line;
    }
  }
  FeatureSet& set = sample->set;
  // Points turn by `rotation` in image coordinates: the tables' entries for
  // 240 - rotation with the sine's sign folded into the formula.
  const int32_t index = rotation == 0 ? 0 : kFullTurn - rotation;
  const int64_t c = kCosine[index];
  const int64_t s = kSine[index];
  for (int32_t i = 0; i < set.minutiaCount; ++i) {
    Minutia& m = set.minutiae[i];
    TurnPoint(&m.x, &m.y, sample->centreX, sample->centreY, c, s);
    m.direction = TurnDirection(m.direction, rotation);
  }
  for (int32_t i = 0; i < set.singularCount; ++i) {
    SingularPoint& point = set.singular[i];
    TurnPoint(&point.x, &point.y, sample->centreX, sample->centreY, c, s);
    point.direction = TurnDirection(point.direction, rotation);
  }
  if (turnGrid) TurnGrid(&set, rotation, sample->centreX, sample->centreY, scratch);
}

void ShiftSample(FeatureSet* set, int32_t shiftX, int32_t shiftY, GridScratch scratch) {
  for (int32_t i = 0; i < set->minutiaCount; ++i) {
    set->minutiae[i].x += shiftX;
    set->minutiae[i].y += shiftY;
  }
  for (int32_t i = 0; i < set->singularCount; ++i) {
    set->singular[i].x += shiftX;
    set->singular[i].y += shiftY;
  }
  ShiftGrid(set, shiftX, shiftY, scratch);
}

void StretchSample(FeatureSet* set, int32_t sx, int32_t sy) {
  if (set == nullptr) return;
  const int32_t count = set->minutiaCount < 0 ? 0 : (set->minutiaCount > kMaxMinutiae ? kMaxMinutiae : set->minutiaCount);
  for (int32_t i = 0; i < count; ++i) {
    Minutia& m = set->minutiae[i];
    m.x = StretchCoordinate(m.x, sx);
    m.y = StretchCoordinate(m.y, sy);
    // Direction bytes above 239 are read modulo a full turn.
    const int32_t d = m.direction % kFullTurn;
    const int64_t ux = (static_cast<int64_t>(kCosine[d]) * sx + kRoundHalf) / kTrigScale;
    const int64_t uy = (static_cast<int64_t>(kSine[d]) * sy + kRoundHalf) / kTrigScale;
    m.direction = DirectionOf(0, 0, static_cast<int32_t>(ux), static_cast<int32_t>(uy));
  }
}

int32_t AlignSample(MatchWorkspace* w, const FeatureSet* probe, FeatureSet* sample, int32_t rotationTolerance,
                    int32_t threshold, const EngineConfiguration* parameters, void* details,
                    size_t detailsCapacity) {
  if (w == nullptr || probe == nullptr || sample == nullptr) return kMissingArgument;
  MatchParameters p;
  int32_t r = ReadMatchParameters(parameters, &p);
  if (r < 0) return r;
  if (ValidateFeatureSet(*probe) < 0 || ValidateFeatureSet(*sample) < 0) return kOutOfRange;
  w->probePrepared = false;
  CopyFeatureSet(&w->probe.set, probe);
  SetRotationMask(w, rotationTolerance);
  r = PrepareSet(w, &w->probe, PairDirections::kBoth, p.pairMaxDistance, p);
  if (r < 0) return r;
  w->probePrepared = true;
  CopyFeatureSet(&w->sample.set, sample);
  const int32_t score = ScoreSample(w, &w->probe, &w->sample, threshold, p, DetailsBuffer{details, detailsCapacity});
  if (score < 0) return score;
  CopyFeatureSet(sample, &w->sample.set);
  return score;
}

}  // namespace vorsensor
