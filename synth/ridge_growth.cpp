#include "synth/ridge_growth.h"

#include <algorithm>
#include <cstddef>

#include "synth/synth_math.h"

namespace vorsensor::synth {

namespace {

constexpr int kRadius = 10;
constexpr int kSide = 2 * kRadius + 1;
constexpr int kTaps = kSide * kSide;
constexpr int kKernelShift = 14;            // kernel coefficients in units of 2^-14
constexpr double kSigmaPerPeriod = 0.42;    // Gaussian envelope deviation relative to the period
constexpr int64_t kTargetMeanResponse = 1500;  // mean |response| after renormalisation

// One kernel per (orientation, period): zero mean, and unit response to a
// sinusoid of its own orientation and period.
std::vector<int16_t> MakeKernelBank() {
  std::vector<int16_t> bank(static_cast<size_t>(kOrientationSteps) * kPeriodSteps * kTaps);
  std::vector<double> envelope(kTaps);
  std::vector<double> wave(kTaps);
  for (int o = 0; o < kOrientationSteps; ++o) {
    const double angle = kPi * o / kOrientationSteps;  // ridge direction
    const double nx = -Sin(angle);                     // across the ridges
    const double ny = Cos(angle);
    for (int p = 0; p < kPeriodSteps; ++p) {
      const double period = kShortestPeriod + kPeriodStep * p;
      const double sigma = kSigmaPerPeriod * period;
      double envelopeSum = 0.0;
      double waveSum = 0.0;
      for (int ky = -kRadius; ky <= kRadius; ++ky) {
        for (int kx = -kRadius; kx <= kRadius; ++kx) {
          const int i = (ky + kRadius) * kSide + kx + kRadius;
          const double across = kx * nx + ky * ny;
          if (kx * kx + ky * ky > kRadius * kRadius) {
            envelope[i] = 0.0;
            wave[i] = 0.0;
            continue;
          }
          envelope[i] = Exp(-static_cast<double>(kx * kx + ky * ky) / (2.0 * sigma * sigma));
          wave[i] = Cos(2.0 * kPi * across / period);
          envelopeSum += envelope[i];
          waveSum += envelope[i] * wave[i];
        }
      }
      const double mean = waveSum / envelopeSum;
      double gain = 0.0;
      for (int i = 0; i < kTaps; ++i) {
        gain += envelope[i] * (wave[i] - mean) * wave[i];
      }
      int16_t* k = bank.data() + (static_cast<size_t>(o) * kPeriodSteps + p) * kTaps;
      for (int i = 0; i < kTaps; ++i) {
        k[i] = static_cast<int16_t>(RoundToInt(envelope[i] * (wave[i] - mean) / gain * (1 << kKernelShift)));
      }
    }
  }
  return bank;
}

}  // namespace

uint8_t OrientationIndex(double doubledAngle) {
  int64_t i = RoundToInt(doubledAngle / (2.0 * kPi) * kOrientationSteps);
  i %= kOrientationSteps;
  if (i < 0) {
    i += kOrientationSteps;
  }
  return static_cast<uint8_t>(i);
}

uint8_t PeriodIndex(double period) {
  const int64_t i = RoundToInt((period - kShortestPeriod) / kPeriodStep);
  return static_cast<uint8_t>(i < 0 ? 0 : (i >= kPeriodSteps ? kPeriodSteps - 1 : i));
}

std::vector<int16_t> GrowRidges(const RidgeMaps& maps, int iterations, SynthRandom& random) {
  const std::vector<int16_t> bank = MakeKernelBank();
  const int32_t w = maps.width;
  const int32_t h = maps.height;
  const int32_t pw = w + 2 * kRadius;  // padded with zeros all round
  const int32_t ph = h + 2 * kRadius;
  std::vector<int16_t> image(static_cast<size_t>(pw) * ph, 0);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      image[static_cast<size_t>(y + kRadius) * pw + x + kRadius] =
          static_cast<int16_t>(static_cast<int32_t>(random.Below(2 * kRidgeFull + 1)) - kRidgeFull);
    }
  }
  // Half-width of each kernel row inside the disc of radius kRadius.
  int span[kSide];
  for (int ky = -kRadius; ky <= kRadius; ++ky) {
    int half = 0;
    while ((half + 1) * (half + 1) + ky * ky <= kRadius * kRadius) {
      ++half;
    }
    span[ky + kRadius] = half;
  }
  std::vector<int32_t> response(static_cast<size_t>(w) * h);
  for (int it = 0; it < iterations; ++it) {
    int64_t absSum = 0;
    for (int32_t y = 0; y < h; ++y) {
      for (int32_t x = 0; x < w; ++x) {
        const size_t at = static_cast<size_t>(y) * w + x;
        const int16_t* k =
            bank.data() + (static_cast<size_t>(maps.orientation[at]) * kPeriodSteps + maps.period[at]) * kTaps;
        const int16_t* src = image.data() + static_cast<size_t>(y) * pw + x;
        int32_t acc = 0;
        for (int ky = 0; ky < kSide; ++ky) {
          const int from = kRadius - span[ky];  // the kernel is zero outside its disc
          const int16_t* s = src + static_cast<size_t>(ky) * pw + from;
          const int16_t* kr = k + ky * kSide + from;
          const int n = 2 * span[ky] + 1;
          for (int kx = 0; kx < n; ++kx) {
            acc += static_cast<int32_t>(s[kx]) * kr[kx];
          }
        }
        response[at] = acc;
        absSum += acc < 0 ? -static_cast<int64_t>(acc) : acc;
      }
    }
    const int64_t meanAbs = absSum / (static_cast<int64_t>(w) * h) + 1;
    for (int32_t y = 0; y < h; ++y) {
      int16_t* dst = image.data() + static_cast<size_t>(y + kRadius) * pw + kRadius;
      for (int32_t x = 0; x < w; ++x) {
        int64_t v = static_cast<int64_t>(response[static_cast<size_t>(y) * w + x]) * kTargetMeanResponse / meanAbs;
        v = v > kRidgeFull ? kRidgeFull : (v < -kRidgeFull ? -kRidgeFull : v);
        dst[x] = static_cast<int16_t>(v);
      }
    }
  }
  std::vector<int16_t> ridges(static_cast<size_t>(w) * h);
  for (int32_t y = 0; y < h; ++y) {
    const int16_t* src = image.data() + static_cast<size_t>(y + kRadius) * pw + kRadius;
    std::copy(src, src + w, ridges.begin() + static_cast<std::ptrdiff_t>(y) * w);
  }
  return ridges;
}

}  // namespace vorsensor::synth
