// The simulated sensor's optics against the device's frame conversion: a
// generated fingerprint sent through the driver and ReadFrame comes back
// close to itself, and is detected as a finger where the blank sensor is not.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "device/driver_contract.h"
#include "device/finger_detection.h"
#include "device/frame_acquisition.h"
#include "device/frame_conversion.h"
#include "device/sensor_commands.h"
#include "imageio/image_io.h"
#include "sim/finger_source.h"
#include "support/sensor_rig.h"
#include "support/test_paths.h"

namespace vorsensor::testing {
namespace {

std::vector<std::vector<uint8_t>> GeneratedFingers() {
  std::vector<std::vector<uint8_t>> images;
  for (int f = 1; f <= 6; ++f) {
    for (int i = 1; i <= 4; ++i) {
      const std::filesystem::path path =
          SourceDir() / "data/synth" / ("f0" + std::to_string(f) + "_i" + std::to_string(i) + ".png");
      const imageio::ImageResult read = imageio::ReadImage(path.string());
      EXPECT_TRUE(read.ok()) << read.error;
      if (read.ok() && read.image.width == kImageWidth && read.image.height == kImageHeight) {
        images.push_back(read.image.pixels);
      }
    }
  }
  return images;
}

double MeanAbsoluteDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  int64_t sum = 0;
  for (size_t i = 0; i < a.size(); ++i) sum += std::abs(a[i] - b[i]);
  return static_cast<double>(sum) / static_cast<double>(a.size());
}

std::vector<uint8_t> RoundTrip(const std::vector<uint8_t>& image) {
  const std::vector<uint8_t> raw = sim::RawFrameOf(image.data());
  std::vector<uint8_t> a(kSensorPlaneBytes), b(kSensorPlaneBytes), back(kImageBytes);
  EXPECT_TRUE(ConvertRawFrame(raw.data(), static_cast<uint32_t>(raw.size()), a.data(), b.data(), back.data()));
  return back;
}

TEST(FingerSourceTest, OpticsAndConversionAgreeOnTheContract) {
  EXPECT_EQ(sim::kFrameBytes, static_cast<uint32_t>(kRawFrameBytes));
  EXPECT_EQ(sim::kReadFrame, kReadFrameCode);
  EXPECT_EQ(sim::kStopStreaming, kStopStreamingCode);
  for (int32_t row = 0; row < kSensorRows; ++row) ASSERT_EQ(sim::OpticalMargin(row), KeystoneMargin(row)) << row;
}

TEST(FingerSourceTest, ImagesWithoutFineDetailComeBackExactly) {
  // Constant images: the neighbour fill and the mean rows average equal values.
  for (const uint8_t value : {0, 1, 128, 254, 255}) {
    const std::vector<uint8_t> image(kImageBytes, value);
    EXPECT_EQ(RoundTrip(image), image) << int{value};
  }
}

TEST(FingerSourceTest, GeneratedFingerprintsComeBackClose) {
  const std::vector<std::vector<uint8_t>> fingers = GeneratedFingers();
  ASSERT_EQ(fingers.size(), 24u);
  double worst = 0;
  double total = 0;
  for (const std::vector<uint8_t>& finger : fingers) {
    const double mad = MeanAbsoluteDifference(RoundTrip(finger), finger);
    worst = std::max(worst, mad);
    total += mad;
  }
  RecordProperty("mean_absolute_difference_mean", std::to_string(total / 24));
  RecordProperty("mean_absolute_difference_worst", std::to_string(worst));
  std::printf("round trip mean absolute difference: mean %.2f, worst %.2f grey levels\n", total / 24, worst);
  EXPECT_LT(worst, 7.0);
}

TEST(FingerSourceTest, FingersAreDetectedThroughTheDriverAndTheBlankSensorIsNot) {
  const std::vector<std::vector<uint8_t>> fingers = GeneratedFingers();
  ASSERT_FALSE(fingers.empty());
  SensorRig rig(PlainScenario());
  ASSERT_EQ(FindSensors(rig.device), 1);
  ASSERT_NE(PrepareCapture(rig.device), 0);
  ASSERT_EQ(StartCapture(rig.device), 1);
  std::vector<uint8_t> image(kImageBytes);
  ASSERT_EQ(ReadFrame(rig.device, image.data()), 1);
  const FingerEvidence blank = JudgeFingerImage(image.data(), kImageWidth, kImageHeight);
  EXPECT_FALSE(blank.present);
  EXPECT_EQ(blank.foregroundBlocks, 0);
  for (size_t f = 0; f < fingers.size(); ++f) {
    rig.driver.SetFingerImage(fingers[f].data());
    rig.driver.PlaceFinger();
    ASSERT_EQ(ReadFrame(rig.device, image.data()), 1);
    EXPECT_EQ(image, RoundTrip(fingers[f])) << "the driver serves what the optics make";
    const FingerEvidence e = JudgeFingerImage(image.data(), kImageWidth, kImageHeight);
    EXPECT_TRUE(e.present) << "finger " << f << ": " << e.foregroundBlocks << " blocks, mean " << e.meanGrey;
    EXPECT_TRUE(JudgeFingerImage(fingers[f].data(), kImageWidth, kImageHeight).present) << f;
    rig.driver.LiftFinger();
    ASSERT_EQ(ReadFrame(rig.device, image.data()), 1);
    EXPECT_EQ(HasFinger(kImageWidth, kImageHeight, image.data()), 0);
  }
}

}  // namespace
}  // namespace vorsensor::testing
