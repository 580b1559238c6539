// Range reduction plus Taylor polynomials, accurate to about 1e-15 relative,
// which is far more than the images need; what matters is that every step is
// an exactly specified IEEE operation.
#include "synth/synth_math.h"

#include <cmath>

namespace vorsensor::synth {

namespace {

// pi/2 and ln 2 split into a leading part with trailing zero bits and a
// remainder, so that k * hi is exact during range reduction.
constexpr double kHalfPiHi = 1.5707963267341256;
constexpr double kHalfPiLo = 6.077100506506192e-11;
constexpr double kTwoOverPi = 0.63661977236758134;
constexpr double kLn2Hi = 6.93147180369123816490e-01;
constexpr double kLn2Lo = 1.90821492927058770002e-10;
constexpr double kInvLn2 = 1.44269504088896338700;
constexpr double kTanEighthPi = 0.41421356237309503;

// sin and cos for |r| <= pi/4.
double SinKernel(double r) {
  const double r2 = r * r;
  double p = 1.0 / 6227020800.0;  // 1/13!
  p = p * r2 - 1.0 / 39916800.0;
  p = p * r2 + 1.0 / 362880.0;
  p = p * r2 - 1.0 / 5040.0;
  p = p * r2 + 1.0 / 120.0;
  p = p * r2 - 1.0 / 6.0;
  return r + r * r2 * p;
}

double CosKernel(double r) {
  const double r2 = r * r;
  double p = 1.0 / 87178291200.0;  // 1/14!
  p = p * r2 - 1.0 / 479001600.0;
  p = p * r2 + 1.0 / 3628800.0;
  p = p * r2 - 1.0 / 40320.0;
  p = p * r2 + 1.0 / 720.0;
  p = p * r2 - 1.0 / 24.0;
  p = p * r2 + 0.5;
  return 1.0 - r2 * p;
}

// Quadrant and remainder of x / (pi/2).
double Reduce(double x, int64_t& quadrant) {
  quadrant = RoundToInt(x * kTwoOverPi);
  const double k = static_cast<double>(quadrant);
  return (x - k * kHalfPiHi) - k * kHalfPiLo;
}

// atan for |t| <= tan(pi/8) by its series.
double AtanKernel(double t) {
  const double t2 = t * t;
  double p = 0.0;
  for (int n = 35; n >= 1; n -= 2) {
    p = p * t2 + ((n / 2) % 2 == 0 ? 1.0 : -1.0) / n;
  }
  return t * p;
}

}  // namespace

int64_t RoundToInt(double x) { return static_cast<int64_t>(x < 0.0 ? x - 0.5 : x + 0.5); }

int64_t FloorToInt(double x) {
  const auto t = static_cast<int64_t>(x);
  return static_cast<double>(t) > x ? t - 1 : t;
}

double Sin(double x) {
  int64_t q = 0;
  const double r = Reduce(x, q);
  switch (q & 3) {
    case 0: return SinKernel(r);
    case 1: return CosKernel(r);
    case 2: return -SinKernel(r);
    default: return -CosKernel(r);
  }
}

double Cos(double x) {
  int64_t q = 0;
  const double r = Reduce(x, q);
  switch (q & 3) {
    case 0: return CosKernel(r);
    case 1: return -SinKernel(r);
    case 2: return -CosKernel(r);
    default: return SinKernel(r);
  }
}

double Exp(double x) {
  if (x < -700.0) {
    return 0.0;
  }
  if (x > 700.0) {
    x = 700.0;
  }
  const int64_t k = RoundToInt(x * kInvLn2);
  const double kd = static_cast<double>(k);
  const double r = (x - kd * kLn2Hi) - kd * kLn2Lo;
  double p = 1.0;
  for (int n = 14; n >= 1; --n) {
    p = 1.0 + p * r / n;
  }
  return std::ldexp(p, static_cast<int>(k));  // exact scaling by 2^k
}

double Atan2(double y, double x) {
  const double ax = x < 0.0 ? -x : x;
  const double ay = y < 0.0 ? -y : y;
  if (ax == 0.0 && ay == 0.0) {
    return 0.0;
  }
  const bool steep = ay > ax;
  const double t = steep ? ax / ay : ay / ax;  // 0..1
  double a = t > kTanEighthPi ? kPi / 4.0 + AtanKernel((t - 1.0) / (t + 1.0)) : AtanKernel(t);
  if (steep) {
    a = kPi / 2.0 - a;
  }
  if (x < 0.0) {
    a = kPi - a;
  }
  return y < 0.0 ? -a : a;
}

}  // namespace vorsensor::synth
