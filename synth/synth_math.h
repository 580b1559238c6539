#pragma once
// The generator's own elementary functions. The output bytes must be the same
// on every platform and with every C library, so nothing that feeds them calls
// the library's sin/cos/exp/atan2 (whose last bits differ between libraries):
// these use only +, -, *, / (correctly rounded everywhere, with floating-point
// contraction off) and exact scaling by powers of two.
#include <cstdint>

namespace vorsensor::synth {

constexpr double kPi = 3.14159265358979323846;

double Sin(double x);
double Cos(double x);
// e^x; 0 below -700.
double Exp(double x);
// The angle of (x, y) in (-pi, pi]; 0 for (0, 0).
double Atan2(double y, double x);
// Rounds half away from zero.
int64_t RoundToInt(double x);
// Largest integer not above x (|x| < 2^62).
int64_t FloorToInt(double x);

inline double Clamp(double v, double lo, double hi) { return v < lo ? lo : (v > hi ? hi : v); }
// 0 at or below 0, 1 at or above 1, smooth in between.
inline double SmoothStep(double t) {
  t = Clamp(t, 0.0, 1.0);
  return t * t * (3.0 - 2.0 * t);
}

}  // namespace vorsensor::synth
