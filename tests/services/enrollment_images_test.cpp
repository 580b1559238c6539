// The services on the extraction entry: capture templates and the
// component's enrolment run on the committed generated fingerprints
// (data/synth: 6 fingers x 4 impressions, 256 x 288, 500 dpi).
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/engine_configuration.h"
#include "imageio/image_io.h"
#include "services/capture_template.h"
#include "services/enrollment_run.h"
#include "services/match_templates.h"
#include "services/template_cipher.h"
#include "support/test_paths.h"

namespace vorsensor::testing {
namespace {

constexpr int32_t kFingers = 6;
constexpr int32_t kImpressions = 4;

std::vector<uint8_t> Impression(int32_t finger, int32_t impression) {
  char name[32];
  std::snprintf(name, sizeof name, "f%02d_i%d.png", finger, impression);
  const imageio::ImageResult read = imageio::ReadImage((SourceDir() / "data" / "synth" / name).string());
  EXPECT_TRUE(read.ok()) << read.error;
  EXPECT_EQ(read.image.width, 256);
  EXPECT_EQ(read.image.height, 288);
  return read.image.pixels;
}

class ServicesOnImages : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_GE(InitEngine(), 0); }
  void TearDown() override { ReleaseEngine(); }

  using Sealed = std::array<uint8_t, kSealedTemplateBytes>;

  // The component's run over impressions of the given fingers in order.
  static int32_t Enrol(const std::vector<std::pair<int32_t, int32_t>>& captures, Sealed* sealed) {
    BeginEnrollment(kEnrollRejectionLimit);
    int32_t status = kEnrollMoreNeeded;
    for (size_t k = 0; k < captures.size() && status == kEnrollMoreNeeded; ++k) {
      std::vector<uint8_t> image = Impression(captures[k].first, captures[k].second);
      int32_t length = 0;
      EnrollStep(kEnrollResolution, 256, 288, image.data(), sealed->data(), &length, &status);
    }
    return status;
  }

  static bool Verifies(const Sealed& reference, const Sealed& sample) {
    const uint8_t* references[] = {reference.data()};
    int32_t index = -1;
    int32_t status = kTemplatesNoMatch;
    MatchTemplates(sample.data(), references, 1, &index, &status);
    return status == kTemplatesMatchFound;
  }

  static Sealed Capture(int32_t finger, int32_t impression) {
    std::vector<uint8_t> image = Impression(finger, impression);
    Sealed sealed{};
    int32_t length = 0;
    int32_t quality = 0;
    EXPECT_EQ(MakeCaptureTemplate(kEnrollResolution, 256, 288, image.data(), sealed.data(), &length, &quality), 1);
    return sealed;
  }
};

TEST(CaptureTemplateStopped, NoTemplateWithoutTheEngine) {
  std::vector<uint8_t> image = Impression(1, 1);
  std::array<uint8_t, kSealedTemplateBytes> sealed{};
  int32_t length = 0;
  int32_t quality = 0;
  EXPECT_EQ(MakeCaptureTemplate(kEnrollResolution, 256, 288, image.data(), sealed.data(), &length, &quality), 0);
  EXPECT_EQ(quality, -1);
}

TEST_F(ServicesOnImages, OneFingerEnrolsAndVerifiesItsOtherImpressions) {
  int32_t completed = 0;
  int32_t enrolledHits = 0;
  int32_t singleHits = 0;
  for (int32_t finger = 1; finger <= kFingers; ++finger) {
    Sealed enrolled{};
    if (Enrol({{finger, 1}, {finger, 2}, {finger, 3}}, &enrolled) != kEnrollComplete) continue;
    ++completed;
    const Sealed probe = Capture(finger, 4);
    enrolledHits += Verifies(enrolled, probe) ? 1 : 0;
    singleHits += Verifies(Capture(finger, 1), probe) ? 1 : 0;
  }
  std::printf("generated fingers: %d of %d enrolled from impressions 1-3; impression 4 verified against the "
              "enrolled template %d times, against impression 1 alone %d times\n",
              completed, kFingers, enrolledHits, singleHits);
  EXPECT_EQ(completed, kFingers);
  EXPECT_GE(enrolledHits, singleHits);
}

TEST_F(ServicesOnImages, DifferentFingersNeverComplete) {
  std::vector<std::pair<int32_t, int32_t>> captures;
  for (int32_t finger = 1; finger <= kFingers; ++finger) captures.emplace_back(finger, 1 + finger % kImpressions);
  Sealed sealed{};
  EXPECT_EQ(Enrol(captures, &sealed), kEnrollMoreNeeded);
}

}  // namespace
}  // namespace vorsensor::testing
