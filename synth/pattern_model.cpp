// Singular point layouts per pattern class and the orientation field they make.
#include "synth/pattern_model.h"

#include "synth/synth_math.h"

namespace vorsensor::synth {

namespace {

constexpr const char* kPatternNames[kPatternClassCount] = {"arch", "tented_arch", "left_loop", "right_loop", "whorl"};

SingularPoint Point(SingularKind kind, double x, double y) {
  SingularPoint p;
  p.kind = kind;
  p.x = x;
  p.y = y;
  return p;
}

}  // namespace

const char* PatternClassName(PatternClass pattern) { return kPatternNames[static_cast<int>(pattern)]; }

bool ParsePatternClass(const std::string& name, PatternClass& pattern) {
  for (int i = 0; i < kPatternClassCount; ++i) {
    if (name == kPatternNames[i]) {
      pattern = static_cast<PatternClass>(i);
      return true;
    }
  }
  return false;
}

const char* SingularKindName(SingularKind kind) { return kind == SingularKind::kCore ? "core" : "delta"; }

PatternModel MakePatternModel(PatternClass pattern, double centreX, double centreY, SynthRandom& random) {
  PatternModel m;
  m.pattern = pattern;
  m.baseAngle = random.Uniform(-0.10, 0.10);
  m.archX = centreX + random.Uniform(-12.0, 12.0);
  m.archY = centreY + random.Uniform(-40.0, -10.0);
  m.archHalfWidth = random.Uniform(150.0, 190.0);
  m.archSpread = random.Uniform(110.0, 150.0);
  m.archHeight = random.Uniform(18.0, 30.0);
  const double cx = centreX + random.Uniform(-10.0, 10.0);
  const double cy = centreY + random.Uniform(-20.0, 10.0);
  switch (pattern) {
    case PatternClass::kArch:
      m.archHeight = random.Uniform(85.0, 120.0);
      m.archHalfWidth = random.Uniform(135.0, 165.0);
      m.archSpread = random.Uniform(80.0, 110.0);
      m.archY = centreY + random.Uniform(10.0, 40.0);
      break;
    case PatternClass::kTentedArch: {
      m.singular.push_back(Point(SingularKind::kCore, cx, cy - 20.0));
      // One draw per statement: the order of evaluating function arguments is unspecified.
      const double deltaX = cx + random.Uniform(-8.0, 8.0);
      const double deltaY = cy - 20.0 + random.Uniform(70.0, 95.0);
      m.singular.push_back(Point(SingularKind::kDelta, deltaX, deltaY));
      break;
    }
    case PatternClass::kLeftLoop:
    case PatternClass::kRightLoop: {
      const double side = pattern == PatternClass::kLeftLoop ? 1.0 : -1.0;  // the delta lies on this side
      const double coreX = cx - side * 15.0;
      const double coreY = cy - 20.0;
      m.singular.push_back(Point(SingularKind::kCore, coreX, coreY));
      const double deltaX = coreX + side * random.Uniform(85.0, 115.0);
      const double deltaY = coreY + random.Uniform(95.0, 125.0);
      m.singular.push_back(Point(SingularKind::kDelta, deltaX, deltaY));
      m.baseAngle = side * random.Uniform(0.0, 0.12);
      break;
    }
    case PatternClass::kWhorl: {
      const double gap = random.Uniform(22.0, 40.0);
      const double tilt = random.Uniform(-10.0, 10.0);
      m.singular.push_back(Point(SingularKind::kCore, cx - tilt, cy - 20.0 - gap / 2.0));
      m.singular.push_back(Point(SingularKind::kCore, cx + tilt, cy - 20.0 + gap / 2.0));
      const double leftX = cx - random.Uniform(100.0, 125.0);
      const double leftY = cy + random.Uniform(80.0, 110.0);
      const double rightX = cx + random.Uniform(100.0, 125.0);
      const double rightY = cy + random.Uniform(80.0, 110.0);
      m.singular.push_back(Point(SingularKind::kDelta, leftX, leftY));
      m.singular.push_back(Point(SingularKind::kDelta, rightX, rightY));
      break;
    }
  }
  return m;
}

double DoubledOrientation(const PatternModel& model, double x, double y) {
  // Sum the angles as a product of complex numbers (their lengths do not
  // matter), then take one angle at the end.
  double re = Cos(2.0 * model.baseAngle);
  double im = Sin(2.0 * model.baseAngle);
  for (const SingularPoint& s : model.singular) {
    const double dx = x - s.x;
    const double dy = s.kind == SingularKind::kCore ? y - s.y : s.y - y;  // a delta contributes the conjugate
    const double r = re * dx - im * dy;
    const double i = re * dy + im * dx;
    // Keep the magnitude bounded so that products of four factors stay finite.
    const double scale = 1.0 / (1.0 + (r < 0 ? -r : r) + (i < 0 ? -i : i));
    re = r * scale;
    im = i * scale;
  }
  // Arch field: slope s of the ridge through (x, y); doubled-angle vector (1 - s^2, 2 s).
  const double u = (x - model.archX) / model.archHalfWidth;
  if (u > -1.0 && u < 1.0) {
    const double v = (y - model.archY) / model.archSpread;
    const double height = model.archHeight * Exp(-0.5 * v * v);
    const double slope = height * kPi / (2.0 * model.archHalfWidth) * Sin(kPi * u);
    const double ar = 1.0 - slope * slope;
    const double ai = 2.0 * slope;
    const double r = re * ar - im * ai;
    const double i = re * ai + im * ar;
    re = r;
    im = i;
  }
  return Atan2(im, re);
}

}  // namespace vorsensor::synth
