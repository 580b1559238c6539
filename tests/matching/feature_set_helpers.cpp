#include "feature_set_helpers.h"

#include <algorithm>
#include <cstdlib>

#include "engine/template_record.h"
#include "geometry/geometry.h"

namespace vorsensor::testing {
namespace {

constexpr int32_t kImageWidth = 256;
constexpr int32_t kImageHeight = 288;
constexpr int32_t kMargin = 8;

int32_t RoundTurned(int64_t v) { return static_cast<int32_t>((v > 0 ? v + 5000 : v - 5000) / 10000); }

bool FarFromAll(const FeatureSet& set, int32_t x, int32_t y, int32_t spacing) {
  for (int32_t i = 0; i < set.minutiaCount; ++i) {
    const int32_t dx = set.minutiae[i].x - x;
    const int32_t dy = set.minutiae[i].y - y;
    if (dx * dx + dy * dy < spacing * spacing) return false;
  }
  return true;
}

// Ridge orientation 0..119 of a loop pattern round (cx, cy), bent by a slow wave.
int32_t FlowOrientation(int32_t x, int32_t y, int32_t cx, int32_t cy, int32_t phase) {
  const int32_t around = DirectionOf(cx, cy, x, y) / 2 + 60;
  const int32_t wave = kSine[(x + 2 * y + phase) % kFullTurn] * 12 / kTrigScale;
  return ((around + wave) % kHalfTurn + kHalfTurn) % kHalfTurn;
}

void SortRaster(FeatureSet* set) {
  std::sort(set->minutiae, set->minutiae + set->minutiaCount, [](const Minutia& a, const Minutia& b) {
    return a.y != b.y ? a.y < b.y : a.x < b.x;
  });
}

Minutia RandomMinutia(TestRandom& random, int32_t x, int32_t y, int32_t cx, int32_t cy, int32_t phase,
                      const FingerShape& shape) {
  Minutia m{};
  m.x = x;
  m.y = y;
  m.type = shape.typed ? (random.Range(0, 99) < 55 ? kMinutiaEnding : kMinutiaBifurcation) : 0;
  const int32_t orientation = FlowOrientation(x, y, cx, cy, phase);
  m.direction = static_cast<uint8_t>(orientation + (random.Range(0, 1) != 0 ? kHalfTurn : 0));
  m.spread = shape.spreads ? static_cast<uint8_t>(random.Range(0, 9) == 0 ? random.Range(30, 80) : random.Range(4, 30))
                           : kNoSpread;
  const int32_t field = 100 + kSine[(3 * x + y + phase) % kFullTurn] * 25 / kTrigScale;
  m.density = shape.densities ? static_cast<uint8_t>(field + random.Range(-8, 8)) : kNoDensity;
  return m;
}

// Turns every point of `set` like the matcher turns a sample: by `rotation`
// units about (cx, cy), rounded half away from zero, directions increased by
// `rotation`.
void TurnPoints(FeatureSet* set, int32_t rotation, int32_t cx, int32_t cy) {
  rotation = ((rotation % kFullTurn) + kFullTurn) % kFullTurn;
  const int32_t index = rotation == 0 ? 0 : kFullTurn - rotation;
  const int64_t c = kCosine[index];
  const int64_t s = kSine[index];
  for (int32_t i = 0; i < set->minutiaCount; ++i) {
    Minutia& m = set->minutiae[i];
    const int64_t dx = m.x - cx;
    const int64_t dy = m.y - cy;
    m.x = cx + RoundTurned(dx * c + dy * s);
    m.y = cy + RoundTurned(dy * c - dx * s);
    m.direction = static_cast<uint8_t>((m.direction + rotation) % kFullTurn);
  }
}

}  // namespace

std::unique_ptr<FeatureSet> NewFeatureSet() {
  std::unique_ptr<FeatureSet> set(new FeatureSet());
  ClearFeatureSet(set.get());
  return set;
}

std::unique_ptr<FeatureSet> MakeFingerSet(TestRandom& random, const FingerShape& shape) {
  auto set = NewFeatureSet();
  set->densityByte = static_cast<uint8_t>(random.Range(80, 180));
  const int32_t cx = kImageWidth / 2 + random.Range(-10, 10);
  const int32_t cy = kImageHeight / 2 + random.Range(-12, 12);
  const int32_t rx = random.Range(90, 110);
  const int32_t ry = random.Range(110, 130);
  const int32_t phase = random.Range(0, kFullTurn - 1);
  const int32_t wanted = random.Range(shape.minMinutiae, shape.maxMinutiae);
  for (int32_t attempt = 0; attempt < 20000 && set->minutiaCount < wanted; ++attempt) {
    const int32_t x = random.Range(kMargin, kImageWidth - 1 - kMargin);
    const int32_t y = random.Range(kMargin, kImageHeight - 1 - kMargin);
    const int64_t ex = static_cast<int64_t>(x - cx) * ry;
    const int64_t ey = static_cast<int64_t>(y - cy) * rx;
    if (ex * ex + ey * ey > static_cast<int64_t>(rx) * rx * ry * ry) continue;
    if (!FarFromAll(*set, x, y, shape.minSpacing)) continue;
    set->minutiae[set->minutiaCount++] = RandomMinutia(random, x, y, cx, cy, phase, shape);
  }
  SortRaster(set.get());
  return set;
}

std::unique_ptr<FeatureSet> MakeImpressionSet(const FeatureSet& finger, TestRandom& random,
                                              const ImpressionChange& change) {
  auto set = NewFeatureSet();
  set->densityByte = static_cast<uint8_t>(std::clamp(finger.densityByte + random.Range(-10, 10), 0, 254));
  for (int32_t i = 0; i < finger.minutiaCount; ++i) {
    if (random.Range(0, 99) < change.lostPercent) continue;
    Minutia m = finger.minutiae[i];
    m.x += random.Range(-change.jitter, change.jitter);
    m.y += random.Range(-change.jitter, change.jitter);
    m.direction = static_cast<uint8_t>(
        ((m.direction + random.Range(-change.directionJitter, change.directionJitter)) % kFullTurn + kFullTurn) %
        kFullTurn);
    if (m.spread != kNoSpread) m.spread = static_cast<uint8_t>(std::clamp(m.spread + random.Range(-4, 4), 0, 254));
    if (m.density != kNoDensity) m.density = static_cast<uint8_t>(std::clamp(m.density + random.Range(-6, 6), 0, 254));
    set->minutiae[set->minutiaCount++] = m;
  }
  FingerShape shape;
  shape.spreads = finger.minutiaCount > 0 && finger.minutiae[0].spread != kNoSpread;
  shape.densities = finger.minutiaCount > 0 && finger.minutiae[0].density != kNoDensity;
  shape.typed = finger.minutiaCount > 0 && finger.minutiae[0].type != 0;
  for (int32_t k = 0; k < change.spurious && set->minutiaCount < kMaxMinutiae; ++k) {
    const int32_t x = random.Range(30, kImageWidth - 30);
    const int32_t y = random.Range(30, kImageHeight - 30);
    set->minutiae[set->minutiaCount++] =
        RandomMinutia(random, x, y, kImageWidth / 2, kImageHeight / 2, random.Range(0, 239), shape);
  }
  TurnPoints(set.get(), change.rotation, kImageWidth / 2, kImageHeight / 2);
  for (int32_t i = 0; i < set->minutiaCount; ++i) {
    set->minutiae[i].x += change.shiftX;
    set->minutiae[i].y += change.shiftY;
  }
  SortRaster(set.get());
  return set;
}

std::vector<uint8_t> RecordBytesOf(const FeatureSet& set) {
  std::vector<uint8_t> record(kMaxTemplateRecordSize);
  const int32_t length = WriteTemplateRecord(&set, record.data(), record.size());
  if (length < 0) std::abort();
  record.resize(static_cast<size_t>(length));
  return record;
}

}  // namespace vorsensor::testing
