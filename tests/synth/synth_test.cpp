// The synthetic fingerprint generator: its own elementary functions, plausible
// ridge spacing, consistent ground truth, and output pinned by the committed set.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "imageio/image_io.h"
#include "synth/finger_set.h"
#include "synth/impression.h"
#include "synth/master_fingerprint.h"
#include "synth/pattern_model.h"
#include "synth/synth_math.h"
#include "tests/support/test_paths.h"

namespace vorsensor::synth {
namespace {

// Winding of the ridge orientation around (x, y), in half turns (+1 core, -1 delta).
int PoincareHalfTurns(const PatternModel& model, double x, double y, double radius) {
  constexpr int kSteps = 64;
  double total = 0.0;
  double previous = DoubledOrientation(model, x + radius, y);
  for (int i = 1; i <= kSteps; ++i) {
    const double a = 2.0 * kPi * i / kSteps;
    const double current = DoubledOrientation(model, x + radius * std::cos(a), y + radius * std::sin(a));
    double d = current - previous;
    while (d > kPi) d -= 2.0 * kPi;
    while (d < -kPi) d += 2.0 * kPi;
    total += d;
    previous = current;
  }
  return static_cast<int>(std::lround(total / (2.0 * kPi)));
}

// Ridge period of the strongest spatial frequency in a square window (plain DFT).
double DominantPeriod(const imageio::GreyImage& im, int x0, int y0, int side) {
  double mean = 0.0;
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      mean += im.At(x0 + x, y0 + y);
    }
  }
  mean /= side * side;
  std::vector<double> cosines(static_cast<size_t>(side));
  std::vector<double> sines(static_cast<size_t>(side));
  for (int k = 0; k < side; ++k) {
    cosines[static_cast<size_t>(k)] = std::cos(2.0 * M_PI * k / side);
    sines[static_cast<size_t>(k)] = std::sin(2.0 * M_PI * k / side);
  }
  double bestPower = -1.0;
  double bestPeriod = 0.0;
  const int maxK = side / 5;  // periods down to 5 pixels
  for (int v = 0; v <= maxK; ++v) {
    for (int u = -maxK; u <= maxK; ++u) {
      const double r = std::sqrt(static_cast<double>(u * u + v * v));
      if (r < side / 16.0 || (v == 0 && u <= 0)) {
        continue;
      }
      double re = 0.0;
      double imag = 0.0;
      for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
          const auto k = static_cast<size_t>(((u * x + v * y) % side + side) % side);
          const double p = im.At(x0 + x, y0 + y) - mean;
          re += p * cosines[k];
          imag -= p * sines[k];
        }
      }
      if (re * re + imag * imag > bestPower) {
        bestPower = re * re + imag * imag;
        bestPeriod = side / r;
      }
    }
  }
  return bestPeriod;
}

TEST(SynthMathTest, ElementaryFunctionsMatchTheLibrary) {
  for (double x = -40.0; x <= 40.0; x += 0.0137) {
    EXPECT_NEAR(Sin(x), std::sin(x), 1e-13) << x;
    EXPECT_NEAR(Cos(x), std::cos(x), 1e-13) << x;
  }
  for (double x = -60.0; x <= 10.0; x += 0.0311) {
    EXPECT_NEAR(Exp(x) / std::exp(x), 1.0, 1e-13) << x;
  }
  EXPECT_EQ(Exp(-800.0), 0.0);
  for (double a = -3.14; a <= 3.14; a += 0.0173) {
    for (double r : {1e-3, 1.0, 250.0}) {
      EXPECT_NEAR(Atan2(r * std::sin(a), r * std::cos(a)), std::atan2(std::sin(a), std::cos(a)), 1e-12) << a;
    }
  }
  EXPECT_EQ(Atan2(0.0, 0.0), 0.0);
  EXPECT_NEAR(Atan2(0.0, -1.0), kPi, 1e-15);
  EXPECT_EQ(RoundToInt(-2.5), -3);
  EXPECT_EQ(FloorToInt(-0.25), -1);
}

TEST(SynthTest, ImpressionSizeRangeAndRidgePeriod) {
  for (int32_t finger = 0; finger < kPatternClassCount; ++finger) {
    const MasterFingerprint master = MakeMaster(FingerSeed(5, finger), PatternOfFinger(finger));
    const Impression imp = MakeImpression(master, ImpressionSeed(5, finger, 0), ImpressionOptions{});
    ASSERT_EQ(imp.image.width, 256);
    ASSERT_EQ(imp.image.height, 288);
    ASSERT_EQ(imp.image.pixels.size(), 256u * 288u);
    EXPECT_EQ(imp.image.dpi, 500);
    uint8_t lo = 255;
    uint8_t hi = 0;
    for (uint8_t p : imp.image.pixels) {
      lo = std::min(lo, p);
      hi = std::max(hi, p);
    }
    EXPECT_LT(lo, 90) << "ridges are dark";
    EXPECT_GT(hi, 190) << "valleys and background are light";
    const double period = DominantPeriod(imp.image, 64, 80, 128);
    EXPECT_GE(period, 8.0) << PatternClassName(master.pattern);
    EXPECT_LE(period, 12.0) << PatternClassName(master.pattern);
  }
  ImpressionOptions odd;
  odd.width = 77;
  odd.height = 401;
  const MasterFingerprint master = MakeMaster(FingerSeed(5, 0), PatternOfFinger(0));
  const Impression imp = MakeImpression(master, 9, odd);
  EXPECT_EQ(imp.image.width, 77);
  EXPECT_EQ(imp.image.height, 401);
  EXPECT_EQ(imp.image.pixels.size(), 77u * 401u);
}

TEST(SynthTest, ClassTruthMatchesTheRidgeFlow) {
  std::vector<bool> seen(kPatternClassCount, false);
  for (int32_t finger = 0; finger < 2 * kPatternClassCount; ++finger) {
    const PatternClass pattern = PatternOfFinger(finger);
    seen[static_cast<size_t>(pattern)] = true;
    PatternClass parsed = PatternClass::kArch;
    ASSERT_TRUE(ParsePatternClass(PatternClassName(pattern), parsed));
    EXPECT_EQ(parsed, pattern);

    SynthRandom random(FingerSeed(3, finger));
    const PatternModel model = MakePatternModel(pattern, 200.0, 250.0, random);
    std::vector<SingularPoint> cores;
    std::vector<SingularPoint> deltas;
    for (const SingularPoint& s : model.singular) {
      (s.kind == SingularKind::kCore ? cores : deltas).push_back(s);
      // The field really turns around each point the way its label says.
      EXPECT_EQ(PoincareHalfTurns(model, s.x, s.y, 6.0), s.kind == SingularKind::kCore ? 1 : -1)
          << PatternClassName(pattern) << " " << SingularKindName(s.kind);
    }
    // Away from the points the field does not turn.
    EXPECT_EQ(PoincareHalfTurns(model, 200.0, 420.0, 10.0), 0);
    switch (pattern) {
      case PatternClass::kArch:
        EXPECT_TRUE(model.singular.empty());
        break;
      case PatternClass::kTentedArch:
        ASSERT_EQ(cores.size(), 1u);
        ASSERT_EQ(deltas.size(), 1u);
        EXPECT_GT(deltas[0].y, cores[0].y);
        EXPECT_LT(std::abs(deltas[0].x - cores[0].x), 20.0);
        break;
      case PatternClass::kLeftLoop:
      case PatternClass::kRightLoop:
        ASSERT_EQ(cores.size(), 1u);
        ASSERT_EQ(deltas.size(), 1u);
        EXPECT_GT(deltas[0].y, cores[0].y);
        // A left loop's ridges open to the left, so its delta lies to the right.
        EXPECT_EQ(deltas[0].x > cores[0].x + 50.0, pattern == PatternClass::kLeftLoop);
        EXPECT_EQ(deltas[0].x < cores[0].x - 50.0, pattern == PatternClass::kRightLoop);
        break;
      case PatternClass::kWhorl:
        ASSERT_EQ(cores.size(), 2u);
        ASSERT_EQ(deltas.size(), 2u);
        EXPECT_LT(std::min(deltas[0].x, deltas[1].x), cores[0].x);
        EXPECT_GT(std::max(deltas[0].x, deltas[1].x), cores[0].x);
        break;
    }
  }
  EXPECT_EQ(std::count(seen.begin(), seen.end(), true), kPatternClassCount);
}

TEST(SynthTest, ImpressionTruthFollowsPlacement) {
  const MasterFingerprint master = MakeMaster(FingerSeed(8, 2), PatternClass::kWhorl);
  ASSERT_EQ(master.singular.size(), 4u);
  for (int32_t i = 0; i < 4; ++i) {
    const Impression imp = MakeImpression(master, ImpressionSeed(8, 2, i), ImpressionOptions{});
    ASSERT_EQ(imp.singular.size(), master.singular.size());
    for (size_t k = 0; k < imp.singular.size(); ++k) {
      EXPECT_EQ(imp.singular[k].kind, master.singular[k].kind);
      if (imp.singular[k].kind == SingularKind::kCore) {
        EXPECT_TRUE(InsideImage(imp, imp.singular[k]));  // placement keeps the cores on the sensor
      }
      // Distances between the points survive up to the skin's moderate distortion.
      for (size_t j = 0; j < k; ++j) {
        const double dm = std::hypot(master.singular[k].x - master.singular[j].x,
                                     master.singular[k].y - master.singular[j].y);
        const double di = std::hypot(imp.singular[k].x - imp.singular[j].x, imp.singular[k].y - imp.singular[j].y);
        EXPECT_NEAR(di, dm, 0.1 * dm + 3.0);
      }
    }
    // The rotation of the impression is that of the line through the two deltas.
    const double am = std::atan2(master.singular[3].y - master.singular[2].y,
                                 master.singular[3].x - master.singular[2].x);
    const double ai = std::atan2(imp.singular[3].y - imp.singular[2].y, imp.singular[3].x - imp.singular[2].x);
    EXPECT_NEAR(ai - am, imp.rotation, 0.08);
  }
}

// The committed set in data/synth is what the generator makes for it now
// (fingers of three classes here, for time; scripts/make_data.sh --check
// compares every file byte for byte): any change of the generator's output
// must come with the set regenerated by scripts/make_data.sh.
TEST(SynthTest, CommittedDataSetMatchesTheGenerator) {
  const std::filesystem::path dir = testing::SourceDir() / "data" / "synth";
  ASSERT_TRUE(std::filesystem::exists(dir / "truth.csv"));
  constexpr uint64_t kSetSeed = 1;
  for (int32_t f = 0; f < 6; f += 2) {
    const SynthFinger finger = MakeFinger(kSetSeed, f, 4);
    for (int32_t i = 0; i < 4; ++i) {
      const Impression& imp = finger.impressions[static_cast<size_t>(i)];
      const std::string name = "f0" + std::to_string(f + 1) + "_i" + std::to_string(i + 1) + ".png";
      const imageio::ImageResult stored = imageio::ReadImage((dir / name).string());
      ASSERT_TRUE(stored.ok()) << stored.error;
      EXPECT_EQ(stored.image.pixels, imp.image.pixels) << name;
      EXPECT_EQ(stored.image.dpi, 500);
    }
  }
}

}  // namespace
}  // namespace vorsensor::synth
