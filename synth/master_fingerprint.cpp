#include "synth/master_fingerprint.h"

#include "synth/ridge_growth.h"
#include "synth/smooth_noise.h"
#include "synth/synth_math.h"

namespace vorsensor::synth {

namespace {

constexpr int kGrowthIterations = 9;
constexpr double kMargin = 24.0;  // pixels of ridge field beyond the pad outline
constexpr double kMinBasePeriod = 8.8;
constexpr double kMaxBasePeriod = 10.2;
constexpr double kPeriodVariation = 0.7;   // +- pixels of smooth variation over the pad
constexpr double kPeriodNoiseCell = 90.0;  // pixels per grid cell of that variation
// Pad size at 500 dpi: 15 to 17 mm wide, the top a little taller
// than wide, and the straight part down to the first crease.
constexpr double kMinHalfWidth = 150.0;
constexpr double kMaxHalfWidth = 170.0;
constexpr double kMinTopAspect = 1.05;
constexpr double kMaxTopAspect = 1.2;
constexpr double kMinBottomDepth = 190.0;
constexpr double kMaxBottomDepth = 220.0;

}  // namespace

MasterFingerprint MakeMaster(uint64_t seed, PatternClass pattern) {
  SynthRandom random(seed);
  MasterFingerprint m;
  m.pattern = pattern;
  m.halfWidth = random.Uniform(kMinHalfWidth, kMaxHalfWidth);
  m.topHeight = m.halfWidth * random.Uniform(kMinTopAspect, kMaxTopAspect);
  m.bottomDepth = random.Uniform(kMinBottomDepth, kMaxBottomDepth);
  m.width = static_cast<int32_t>(RoundToInt(2.0 * (m.halfWidth + kMargin)));
  m.height = static_cast<int32_t>(RoundToInt(m.topHeight + m.bottomDepth + 2.0 * kMargin));
  m.centreX = m.width / 2.0;
  m.centreY = kMargin + m.topHeight;
  m.meanPeriod = random.Uniform(kMinBasePeriod, kMaxBasePeriod);

  const PatternModel model = MakePatternModel(pattern, m.centreX, m.centreY, random);
  m.singular = model.singular;
  const SmoothNoise periodNoise(m.width, m.height, kPeriodNoiseCell, random);

  RidgeMaps maps;
  maps.width = m.width;
  maps.height = m.height;
  const size_t count = static_cast<size_t>(m.width) * static_cast<size_t>(m.height);
  maps.orientation.resize(count);
  maps.period.resize(count);
  for (int32_t y = 0; y < m.height; ++y) {
    for (int32_t x = 0; x < m.width; ++x) {
      const size_t at = static_cast<size_t>(y) * static_cast<size_t>(m.width) + static_cast<size_t>(x);
      maps.orientation[at] = OrientationIndex(DoubledOrientation(model, x, y));
      maps.period[at] = PeriodIndex(m.meanPeriod + kPeriodVariation * periodNoise.At(x, y));
    }
  }
  m.ridges = GrowRidges(maps, kGrowthIterations, random);
  return m;
}

double PadCoverage(const MasterFingerprint& master, double x, double y, double edge) {
  const double dx = (x - master.centreX) / master.halfWidth;
  double inside = 0.0;  // approximate distance inside the outline, in pixels
  if (y < master.centreY) {
    const double dy = (y - master.centreY) / master.topHeight;
    const double r2 = dx * dx + dy * dy;
    // 1 - r^2 is about 2 (1 - r); scale back to pixels with the smaller half-axis.
    inside = (1.0 - r2) * 0.5 * master.halfWidth;
  } else {
    const double side = (1.0 - (dx < 0 ? -dx : dx)) * master.halfWidth;
    const double bottom = master.centreY + master.bottomDepth - y;
    inside = side < bottom ? side : bottom;
  }
  return SmoothStep(inside / edge);
}

double RidgeAt(const MasterFingerprint& master, double x, double y) {
  if (!(x >= 0.0 && y >= 0.0 && x <= master.width - 1.0 && y <= master.height - 1.0)) {
    return 0.0;
  }
  auto ix = static_cast<int32_t>(x);
  auto iy = static_cast<int32_t>(y);
  if (ix >= master.width - 1) ix = master.width - 2;
  if (iy >= master.height - 1) iy = master.height - 2;
  const double fx = x - ix;
  const double fy = y - iy;
  const int16_t* r0 = master.ridges.data() + static_cast<size_t>(iy) * static_cast<size_t>(master.width) + ix;
  const int16_t* r1 = r0 + master.width;
  const double top = r0[0] + (r0[1] - r0[0]) * fx;
  const double bottom = r1[0] + (r1[1] - r1[0]) * fx;
  return (top + (bottom - top) * fy) / kRidgeFull;
}

}  // namespace vorsensor::synth
