#include "synth/impression.h"

#include "synth/smooth_noise.h"
#include "synth/synth_math.h"

namespace vorsensor::synth {

namespace {

struct Range {
  double lo;
  double hi;
};

double Draw(SynthRandom& random, Range range) { return random.Uniform(range.lo, range.hi); }

// Placement on the sensor.
constexpr double kMaxRotation = 0.26;          // radians (about 15 degrees)
constexpr double kMaxShift = 22.0;             // pixels of placement offset each way
constexpr double kCoreBelowCentre = 28.0;      // the sensor centre lies this far below the core on average
// Skin distortion.
constexpr double kMaxContactOffset = 20.0;     // pixels between the sensor centre and the contact centre
constexpr Range kStickRadius{45.0, 70.0};      // pixels around the contact centre where the skin holds
constexpr Range kSlipZone{90.0, 130.0};        // pixels over which it comes to slip fully
constexpr double kMaxSlipRotation = 0.035;     // radians of extra rotation of the skin outside the contact core
constexpr double kMaxSlipShift = 5.0;          // pixels of extra shift there
constexpr double kWobble = 1.2;                // pixels of small random skin displacement
constexpr double kWobbleCell = 70.0;
constexpr int kInverseIterations = 24;         // fixed-point steps to place singular points
// Contact and skin condition.
constexpr Range kPressure{-0.25, 0.3};         // added to the ridge field: positive thickens ridges
constexpr double kPressureSpread = 0.3;        // relative growth of the contact area per unit pressure
constexpr double kLocalPressure = 0.2;         // amplitude of pressure variation over the contact
constexpr double kLocalPressureCell = 45.0;
constexpr Range kDryness{0.0, 0.8};
constexpr double kDryPatchCell = 5.0;          // size of the gaps dry skin leaves in ridges
constexpr double kDryRegionCell = 60.0;
constexpr double kDryPatchShare = 0.6;         // how much of the patch noise range dryness opens
constexpr double kDryInk = 0.15;               // ink left in a dry gap
constexpr double kGrain = 0.35;                // skin texture roughening ridge edges
constexpr double kGrainCell = 2.5;
constexpr double kInkSlope = 1.5;              // ridge field to ink: steeper is crisper
constexpr Range kContactHalfWidth{130.0, 170.0};
constexpr Range kContactHalfHeight{160.0, 200.0};
constexpr double kOutlineWobble = 0.08;        // irregularity of the contact outline
constexpr double kOutlineCell = 64.0;
constexpr double kOutlineEdge = 0.08;          // softness of the contact outline
constexpr double kPadEdge = 10.0;              // pixels of soft edge at the pad outline
// Sensor.
constexpr Range kBackground{205.0, 235.0};     // grey of the empty sensor
constexpr Range kValleyDepth{10.0, 35.0};      // valleys this much darker than the background
constexpr Range kRidgeGrey{25.0, 75.0};
constexpr double kShading = 8.0;               // grey levels of slow illumination change
constexpr double kShadingCell = 80.0;
constexpr Range kNoise{3.0, 7.0};              // deviation of the sensor noise in grey levels

// Where an image pixel comes from in the master.
struct Placement {
  double cosA = 1.0;
  double sinA = 0.0;
  double anchorX = 0.0;  // master point under the image centre
  double anchorY = 0.0;
  double imageCentreX = 0.0;
  double imageCentreY = 0.0;
  // Plastic distortion: no slip within radius `stick` of the contact centre,
  // full slip beyond `slip`, smooth in between.
  double contactX = 0.0;
  double contactY = 0.0;
  double stick = 0.0;
  double slip = 0.0;
  double slipCos = 1.0;
  double slipSin = 0.0;
  double slipX = 0.0;
  double slipY = 0.0;
};

// Displacement of the skin at an image point (in image pixels).
void Distortion(const Placement& p, const SmoothNoise& wobbleX, const SmoothNoise& wobbleY, double x, double y,
                double& dx, double& dy) {
  const double qx = x - p.contactX;
  const double qy = y - p.contactY;
  const double r2 = qx * qx + qy * qy;
  const double weight = SmoothStep((r2 - p.stick * p.stick) / (p.slip * p.slip - p.stick * p.stick));
  dx = weight * (p.slipCos * qx - p.slipSin * qy + p.slipX - qx) + kWobble * wobbleX.At(x, y);
  dy = weight * (p.slipSin * qx + p.slipCos * qy + p.slipY - qy) + kWobble * wobbleY.At(x, y);
}

void ToMaster(const Placement& p, const SmoothNoise& wobbleX, const SmoothNoise& wobbleY, double x, double y,
              double& mx, double& my) {
  double dx = 0.0;
  double dy = 0.0;
  Distortion(p, wobbleX, wobbleY, x, y, dx, dy);
  const double ux = x + dx - p.imageCentreX;
  const double uy = y + dy - p.imageCentreY;
  mx = p.anchorX + p.cosA * ux - p.sinA * uy;
  my = p.anchorY + p.sinA * ux + p.cosA * uy;
}

}  // namespace

bool InsideImage(const Impression& impression, const SingularPoint& point) {
  return point.x >= 0.0 && point.y >= 0.0 && point.x < impression.image.width && point.y < impression.image.height;
}

Impression MakeImpression(const MasterFingerprint& master, uint64_t seed, const ImpressionOptions& options) {
  SynthRandom random(seed);
  const int32_t w = options.width;
  const int32_t h = options.height;
  Impression imp;
  if (w <= 0 || h <= 0) {
    return imp;  // nothing to draw
  }
  imp.image.width = w;
  imp.image.height = h;
  imp.image.dpi = kImpressionDpi;

  // Placement: the reference is the mean of the cores (the pad centre for arches).
  double refX = master.centreX;
  double refY = master.centreY;
  int cores = 0;
  double sumX = 0.0;
  double sumY = 0.0;
  for (const SingularPoint& s : master.singular) {
    if (s.kind == SingularKind::kCore) {
      sumX += s.x;
      sumY += s.y;
      ++cores;
    }
  }
  if (cores > 0) {
    refX = sumX / cores;
    refY = sumY / cores;
  }
  Placement p;
  const double angle = random.Uniform(-kMaxRotation, kMaxRotation);
  p.cosA = Cos(angle);
  p.sinA = Sin(angle);
  imp.rotation = -angle;  // the master is turned by -angle onto the image
  imp.shiftX = random.Uniform(-kMaxShift, kMaxShift);
  imp.shiftY = random.Uniform(-kMaxShift, kMaxShift);
  p.anchorX = refX + imp.shiftX;
  p.anchorY = refY + kCoreBelowCentre + imp.shiftY;
  p.imageCentreX = w / 2.0;
  p.imageCentreY = h / 2.0;
  p.contactX = p.imageCentreX + random.Uniform(-kMaxContactOffset, kMaxContactOffset);
  p.contactY = p.imageCentreY + random.Uniform(-kMaxContactOffset, kMaxContactOffset);
  p.stick = Draw(random, kStickRadius);
  p.slip = p.stick + Draw(random, kSlipZone);
  const double slipAngle = random.Uniform(-kMaxSlipRotation, kMaxSlipRotation);
  p.slipCos = Cos(slipAngle);
  p.slipSin = Sin(slipAngle);
  p.slipX = random.Uniform(-kMaxSlipShift, kMaxSlipShift);
  p.slipY = random.Uniform(-kMaxSlipShift, kMaxSlipShift);
  const SmoothNoise wobbleX(w, h, kWobbleCell, random);
  const SmoothNoise wobbleY(w, h, kWobbleCell, random);

  // Skin and sensor: pressure thickens ridges, dryness breaks them.
  const double pressure = Draw(random, kPressure);
  const double dryness = Draw(random, kDryness);
  const double contactHalfWidth = Draw(random, kContactHalfWidth) * (1.0 + kPressureSpread * pressure);
  const double contactHalfHeight = Draw(random, kContactHalfHeight) * (1.0 + kPressureSpread * pressure);
  const SmoothNoise outline(w, h, kOutlineCell, random);
  const SmoothNoise dryPatches(w, h, kDryPatchCell, random);
  const SmoothNoise grain(w, h, kGrainCell, random);
  const SmoothNoise localPressure(w, h, kLocalPressureCell, random);
  const SmoothNoise dryRegions(w, h, kDryRegionCell, random);
  const SmoothNoise shading(w, h, kShadingCell, random);
  const double background = Draw(random, kBackground);
  const double valley = background - Draw(random, kValleyDepth);
  const double ridge = Draw(random, kRidgeGrey);
  const double noiseLevel = Draw(random, kNoise);

  std::vector<double> grey(static_cast<size_t>(w) * static_cast<size_t>(h));
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      double mx = 0.0;
      double my = 0.0;
      ToMaster(p, wobbleX, wobbleY, x, y, mx, my);
      const double ex = (x - p.contactX) / contactHalfWidth;
      const double ey = (y - p.contactY) / contactHalfHeight;
      const double contact = SmoothStep((1.0 - (ex * ex + ey * ey) + kOutlineWobble * outline.At(x, y)) / kOutlineEdge);
      const double coverage = contact * PadCoverage(master, mx, my, kPadEdge);
      // Skin texture roughens the ridge edges; the pressure varies over the contact.
      const double skinValue =
          RidgeAt(master, mx, my) + pressure + kLocalPressure * localPressure.At(x, y) + kGrain * grain.At(x, y);
      double ink = SmoothStep(0.5 + kInkSlope * skinValue);
      // Dry skin: small gaps along the ridges, more of them in some regions.
      const double dry = dryness * (0.6 + 0.4 * dryRegions.At(x, y));
      if (dryPatches.At(x, y) > 1.0 - kDryPatchShare * dry) {
        ink *= kDryInk;
      }
      const double light = kShading * shading.At(x, y);
      const double base = background + light;
      const double skin = (valley + light) + (ridge - valley) * ink;
      grey[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)] =
          base + (skin - base) * coverage;
    }
  }
  // Slight optical blur (1-2-1 binomial), then sensor noise.
  std::vector<double> blurred(grey.size());
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      double sum = 0.0;
      for (int dy = -1; dy <= 1; ++dy) {
        const int32_t yy = y + dy < 0 ? 0 : (y + dy >= h ? h - 1 : y + dy);
        for (int dx = -1; dx <= 1; ++dx) {
          const int32_t xx = x + dx < 0 ? 0 : (x + dx >= w ? w - 1 : x + dx);
          const double weight = (dx == 0 ? 2.0 : 1.0) * (dy == 0 ? 2.0 : 1.0);
          sum += weight * grey[static_cast<size_t>(yy) * static_cast<size_t>(w) + static_cast<size_t>(xx)];
        }
      }
      blurred[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)] = sum / 16.0;
    }
  }
  imp.image.pixels.resize(grey.size());
  for (size_t i = 0; i < grey.size(); ++i) {
    const double v = blurred[i] + noiseLevel * random.Normal();
    imp.image.pixels[i] = static_cast<uint8_t>(RoundToInt(Clamp(v, 0.0, 255.0)));
  }

  // Singular points: invert the image-to-master mapping by fixed-point steps.
  for (const SingularPoint& s : master.singular) {
    const double ux = s.x - p.anchorX;
    const double uy = s.y - p.anchorY;
    const double rx = p.cosA * ux + p.sinA * uy + p.imageCentreX;  // undistorted image position
    const double ry = -p.sinA * ux + p.cosA * uy + p.imageCentreY;
    double x = rx;
    double y = ry;
    for (int i = 0; i < kInverseIterations; ++i) {
      double dx = 0.0;
      double dy = 0.0;
      Distortion(p, wobbleX, wobbleY, x, y, dx, dy);
      x = rx - dx;
      y = ry - dy;
    }
    SingularPoint q = s;
    q.x = x;
    q.y = y;
    imp.singular.push_back(q);
  }
  return imp;
}

}  // namespace vorsensor::synth
