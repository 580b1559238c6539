// Singular point layouts per pattern class and the orientation field they make.
#include "synth/pattern_model.h"

#include "synth/synth_math.h"

namespace vorsensor::synth {

namespace {

constexpr const char* kPatternNames[kPatternClassCount] = {"arch", "tented_arch", "left_loop", "right_loop", "whorl"};

struct Range {
  double lo;
  double hi;
};

double Draw(SynthRandom& random, Range range) { return random.Uniform(range.lo, range.hi); }

// Layout of every pattern, in pixels at 500 dpi relative to the pad centre
// (angles in radians).
constexpr Range kBaseAngle{-0.10, 0.10};
constexpr Range kPatternOffsetX{-10.0, 10.0};
constexpr Range kPatternOffsetY{-20.0, 10.0};
constexpr double kCoreAboveCentre = 20.0;
// A gentle arch over every pattern bends its upper ridges like a fingertip's.
constexpr Range kArchOffsetX{-12.0, 12.0};
constexpr Range kArchOffsetY{-40.0, -10.0};
constexpr Range kArchHalfWidth{150.0, 190.0};
constexpr Range kArchSpread{110.0, 150.0};
constexpr Range kArchHeight{18.0, 30.0};
// Plain arch: a strong hump and no singular points.
constexpr Range kPlainArchHeight{85.0, 120.0};
constexpr Range kPlainArchHalfWidth{135.0, 165.0};
constexpr Range kPlainArchSpread{80.0, 110.0};
constexpr Range kPlainArchOffsetY{10.0, 40.0};
// Tented arch: the delta right below the core.
constexpr Range kTentDeltaX{-8.0, 8.0};
constexpr Range kTentDeltaY{70.0, 95.0};
// Loops: the delta below the core on one side; the core a little the other way.
constexpr double kLoopCoreShift = 15.0;
constexpr Range kLoopDeltaX{85.0, 115.0};
constexpr Range kLoopDeltaY{95.0, 125.0};
constexpr Range kLoopSlant{0.0, 0.12};
// Whorl: two cores close together, a delta low on either side.
constexpr Range kWhorlCoreGap{22.0, 40.0};
constexpr Range kWhorlCoreTilt{-10.0, 10.0};
constexpr Range kWhorlDeltaX{100.0, 125.0};
constexpr Range kWhorlDeltaY{80.0, 110.0};

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
  // Draws are made one per statement, always in the same order: the order in
  // which function arguments are evaluated differs between compilers.
  PatternModel m;
  m.pattern = pattern;
  m.baseAngle = Draw(random, kBaseAngle);
  m.archX = centreX + Draw(random, kArchOffsetX);
  m.archY = centreY + Draw(random, kArchOffsetY);
  m.archHalfWidth = Draw(random, kArchHalfWidth);
  m.archSpread = Draw(random, kArchSpread);
  m.archHeight = Draw(random, kArchHeight);
  const double cx = centreX + Draw(random, kPatternOffsetX);
  const double cy = centreY + Draw(random, kPatternOffsetY);
  const double coreY = cy - kCoreAboveCentre;
  switch (pattern) {
    case PatternClass::kArch:
      m.archHeight = Draw(random, kPlainArchHeight);
      m.archHalfWidth = Draw(random, kPlainArchHalfWidth);
      m.archSpread = Draw(random, kPlainArchSpread);
      m.archY = centreY + Draw(random, kPlainArchOffsetY);
      break;
    case PatternClass::kTentedArch: {
      m.singular.push_back(Point(SingularKind::kCore, cx, coreY));
      const double deltaX = cx + Draw(random, kTentDeltaX);
      const double deltaY = coreY + Draw(random, kTentDeltaY);
      m.singular.push_back(Point(SingularKind::kDelta, deltaX, deltaY));
      break;
    }
    case PatternClass::kLeftLoop:
    case PatternClass::kRightLoop: {
      const double side = pattern == PatternClass::kLeftLoop ? 1.0 : -1.0;  // the delta lies on this side
      const double coreX = cx - side * kLoopCoreShift;
      m.singular.push_back(Point(SingularKind::kCore, coreX, coreY));
      const double deltaX = coreX + side * Draw(random, kLoopDeltaX);
      const double deltaY = coreY + Draw(random, kLoopDeltaY);
      m.singular.push_back(Point(SingularKind::kDelta, deltaX, deltaY));
      m.baseAngle = side * Draw(random, kLoopSlant);
      break;
    }
    case PatternClass::kWhorl: {
      const double gap = Draw(random, kWhorlCoreGap);
      const double tilt = Draw(random, kWhorlCoreTilt);
      m.singular.push_back(Point(SingularKind::kCore, cx - tilt, coreY - gap / 2.0));
      m.singular.push_back(Point(SingularKind::kCore, cx + tilt, coreY + gap / 2.0));
      const double leftX = cx - Draw(random, kWhorlDeltaX);
      const double leftY = cy + Draw(random, kWhorlDeltaY);
      const double rightX = cx + Draw(random, kWhorlDeltaX);
      const double rightY = cy + Draw(random, kWhorlDeltaY);
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
