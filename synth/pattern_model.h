#pragma once
// The ridge flow of one synthetic finger: its pattern class, its singular
// points and the orientation field they make (a zero-pole model: around a core
// the ridge orientation turns by half a turn, around a delta by half a turn
// the other way), bent by a smooth arch field that gives plain arches their
// hump and the upper ridges of other patterns their curvature.
#include <cstdint>
#include <string>
#include <vector>

#include "synth/synth_random.h"

namespace vorsensor::synth {

enum class PatternClass : uint8_t { kArch, kTentedArch, kLeftLoop, kRightLoop, kWhorl };
constexpr int kPatternClassCount = 5;

// "arch", "tented_arch", "left_loop", "right_loop", "whorl".
const char* PatternClassName(PatternClass pattern);
bool ParsePatternClass(const std::string& name, PatternClass& pattern);

enum class SingularKind : uint8_t { kCore, kDelta };
const char* SingularKindName(SingularKind kind);  // "core", "delta"

struct SingularPoint {
  SingularKind kind = SingularKind::kCore;
  double x = 0.0;  // pixels, in the coordinates of the image it belongs to
  double y = 0.0;
};

struct PatternModel {
  PatternClass pattern = PatternClass::kArch;
  std::vector<SingularPoint> singular;
  double baseAngle = 0.0;  // ridge angle far from the singular points (radians)
  // Arch field: ridges y = y0 - height(y0) * bump(x), bump a raised cosine of
  // half-width archHalfWidth around archX, height largest at archY.
  double archX = 0.0;
  double archY = 0.0;
  double archHeight = 0.0;
  double archHalfWidth = 1.0;
  double archSpread = 1.0;  // vertical extent (deviation) of the height
};

// A model of the given class for a pad centred at (centreX, centreY).
PatternModel MakePatternModel(PatternClass pattern, double centreX, double centreY, SynthRandom& random);

// Twice the ridge orientation at (x, y), in radians (image axes: x right, y down).
double DoubledOrientation(const PatternModel& model, double x, double y);

}  // namespace vorsensor::synth
