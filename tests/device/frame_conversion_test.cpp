// Raw frame conversion: the stages against a per-pixel reference that follows
// one output pixel back to the raw bytes, and the edge cases of the format.
#include <gtest/gtest.h>

#include <vector>

#include "device/driver_contract.h"
#include "device/frame_conversion.h"
#include "support/random.h"

namespace vorsensor::testing {
namespace {

// Keystone margins as bands: rows first..last have margin m.
struct Band {
  int32_t first, last, margin;
};
constexpr Band kBands[] = {{0, 18, 20},    {19, 37, 19},   {38, 56, 18},   {57, 75, 17},   {76, 94, 16},
                           {95, 114, 15},  {115, 133, 14}, {134, 152, 13}, {153, 171, 12}, {172, 190, 11},
                           {191, 210, 10}, {211, 229, 9},  {230, 248, 8},  {249, 267, 7},  {268, 286, 6},
                           {287, 287, 5}};

int32_t ReferenceMargin(int32_t row) {
  for (const Band& b : kBands) {
    if (row >= b.first && row <= b.last) return b.margin;
  }
  return -1;
}

// Output pixel (x, y) computed backwards, one pixel at a time.
struct Reference {
  const std::vector<uint8_t>& raw;
  uint32_t bytes;

  int32_t Sensor(int32_t x, int32_t y) const {
    return bytes == static_cast<uint32_t>(kRawFrameBytes) ? raw[static_cast<size_t>(y * 354 + 2 + x)] : 255;
  }
  int32_t Filled(int32_t x, int32_t y) const {
    if ((x + y) % 2 != 0) return Sensor(x, y);
    int32_t sum = 0;
    int32_t n = 0;
    const int32_t dx[] = {0, -1, 1, 0};
    const int32_t dy[] = {-1, 0, 0, 1};
    for (int k = 0; k < 4; ++k) {
      const int32_t nx = x + dx[k];
      const int32_t ny = y + dy[k];
      if (nx >= 0 && nx < 352 && ny >= 0 && ny < 288) {
        sum += Sensor(nx, ny);
        ++n;
      }
    }
    return sum / n;
  }
  int32_t Keystoned(int32_t i, int32_t y) const {
    const int32_t m = ReferenceMargin(y);
    const int32_t mirroredColumn = m + i * (352 - 2 * m) / 256;
    return Filled(351 - mirroredColumn, y);
  }
  int32_t Output(int32_t x, int32_t y) const {
    if (y < 16) return Keystoned(x, y + 8);
    const int32_t k = (y - 16) / 17;
    const int32_t j = (y - 16) % 17;
    if (j == 0) return (Keystoned(x, 23 + 16 * k) + Keystoned(x, 24 + 16 * k)) / 2;
    return Keystoned(x, 24 + 16 * k + j - 1);
  }
};

std::vector<uint8_t> Convert(const std::vector<uint8_t>& raw, uint32_t bytes) {
  std::vector<uint8_t> a(kSensorPlaneBytes), b(kSensorPlaneBytes), image(kImageBytes, 0x5A);
  ConvertRawFrame(raw.data(), bytes, a.data(), b.data(), image.data());
  return image;
}

TEST(FrameConversionTest, MatchesThePerPixelReferenceOnRandomAndStructuredFrames) {
  TestRandom random(2301);
  std::vector<std::vector<uint8_t>> frames;
  for (int f = 0; f < 3; ++f) {
    std::vector<uint8_t> raw(kRawFrameBytes);
    for (uint8_t& byte : raw) byte = random.Byte();
    frames.push_back(raw);
  }
  std::vector<uint8_t> ramps(kRawFrameBytes);
  for (int32_t i = 0; i < kRawFrameBytes; ++i) ramps[static_cast<size_t>(i)] = static_cast<uint8_t>(i % 354 + i / 354);
  frames.push_back(ramps);
  for (const std::vector<uint8_t>& raw : frames) {
    const std::vector<uint8_t> image = Convert(raw, kRawFrameBytes);
    const Reference reference{raw, static_cast<uint32_t>(kRawFrameBytes)};
    for (int32_t y = 0; y < kImageHeight; ++y) {
      for (int32_t x = 0; x < kImageWidth; ++x) {
        ASSERT_EQ(image[static_cast<size_t>(y * 256 + x)], reference.Output(x, y)) << "x " << x << " y " << y;
      }
    }
  }
}

TEST(FrameConversionTest, UniformFramesStayUniformAndAnythingButAFullFrameIsWhite) {
  struct Case {
    uint8_t pixel;
    uint32_t bytes;
    uint8_t expected;
  };
  const uint32_t full = kRawFrameBytes;
  const Case cases[] = {{0xFF, full, 255}, {0, full, 0}, {1, full, 1}, {77, full, 77}, {254, full, 254},
                        {0, full - 1, 255}, {0, full + 1, 255}, {0, 0, 255}, {30, 354, 255}};
  for (const Case& c : cases) {
    std::vector<uint8_t> raw(kRawFrameBytes, c.pixel);
    EXPECT_EQ(Convert(raw, c.bytes), std::vector<uint8_t>(kImageBytes, c.expected))
        << "pixel " << int{c.pixel} << " bytes " << c.bytes;
  }
}

TEST(FrameConversionTest, RowHeaderBytesNeverReachTheImage) {
  TestRandom random(77);
  std::vector<uint8_t> raw(kRawFrameBytes);
  for (uint8_t& byte : raw) byte = random.Byte();
  const std::vector<uint8_t> image = Convert(raw, kRawFrameBytes);
  for (int32_t y = 0; y < kSensorRows; ++y) {
    raw[static_cast<size_t>(y * kRawRowBytes)] ^= 0xFF;
    raw[static_cast<size_t>(y * kRawRowBytes + 1)] ^= 0x5A;
  }
  EXPECT_EQ(Convert(raw, kRawFrameBytes), image);
}

TEST(FrameConversionTest, KeystoneTakesTheSpanFromMarginToItsMirror) {
  // Only the two columns the first and last output pixels sample are marked.
  std::vector<uint8_t> plane(kSensorPlaneBytes, 0);
  for (int32_t y = 0; y < kSensorRows; ++y) {
    const int32_t m = ReferenceMargin(y);
    ASSERT_EQ(KeystoneMargin(y), m) << y;
    plane[static_cast<size_t>(y * 352 + m)] = 1;
    plane[static_cast<size_t>(y * 352 + m + 255 * (352 - 2 * m) / 256)] = 2;
  }
  std::vector<uint8_t> out(kImageBytes);
  KeystoneResample(plane.data(), out.data());
  for (int32_t y = 0; y < kImageHeight; ++y) {
    EXPECT_EQ(out[static_cast<size_t>(y * 256)], 1) << y;
    EXPECT_EQ(out[static_cast<size_t>(y * 256 + 255)], 2) << y;
    for (int32_t x = 1; x < 255; ++x) ASSERT_EQ(out[static_cast<size_t>(y * 256 + x)], 0) << x << " " << y;
  }
  // The widest and narrowest spans.
  EXPECT_EQ(KeystoneMargin(0), 20);
  EXPECT_EQ(KeystoneMargin(287), 5);
}

TEST(FrameConversionTest, RowStretchInterpolatesEverySeventeenthRowFrom16) {
  // Source row s is labelled s (mod 256) in even columns and s - 1 in odd ones.
  const auto label = [](int32_t s) { return s & 0xFF; };
  std::vector<uint8_t> source(kImageBytes);
  for (int32_t s = 0; s < kImageHeight; ++s) {
    for (int32_t x = 0; x < 256; ++x) source[static_cast<size_t>(s * 256 + x)] = static_cast<uint8_t>(label(s - (x & 1)));
  }
  std::vector<uint8_t> out(kImageBytes);
  RowStretch(source.data(), out.data());
  int32_t interpolated = 0;
  for (int32_t y = 0; y < kImageHeight; ++y) {
    const int32_t even = out[static_cast<size_t>(y * 256)];
    const int32_t odd = out[static_cast<size_t>(y * 256 + 1)];
    if (y >= 16 && (y - 16) % 17 == 0) {
      ++interpolated;
      const int32_t k = (y - 16) / 17;
      EXPECT_EQ(even, (label(23 + 16 * k) + label(24 + 16 * k)) / 2) << y;
      // (s - 1 + s) / 2 rounds down.
      EXPECT_EQ(odd, (label(22 + 16 * k) + label(23 + 16 * k)) / 2) << y;
    } else {
      const int32_t s = y < 16 ? y + 8 : 24 + 16 * ((y - 16) / 17) + (y - 16) % 17 - 1;
      EXPECT_EQ(even, label(s)) << y;
    }
  }
  EXPECT_EQ(interpolated, 16);
  EXPECT_EQ(out[static_cast<size_t>(271 * 256)], (label(263) + label(264)) / 2);
  EXPECT_EQ(out[static_cast<size_t>(287 * 256)], label(279)) << "source rows 280..287 are dropped";
}

TEST(FrameConversionTest, CheckerboardDividesByTheNeighboursInsideThePlane) {
  // A 4 x 3 plane: filled pixels at (0,0) corner, (2,0) top edge, (1,1) inside.
  const std::vector<uint8_t> plane = {10, 20, 30, 40,   //
                                      50, 60, 70, 80,   //
                                      90, 100, 110, 120};
  std::vector<uint8_t> out(plane.size());
  CheckerboardFill(plane.data(), out.data(), 4, 3);
  const std::vector<uint8_t> expected = {(20 + 50) / 2,  20, (20 + 40 + 70) / 3,  40,
                                         50,  (20 + 50 + 70 + 100) / 4, 70, (40 + 70 + 120) / 3,
                                         (50 + 100) / 2, 100, (70 + 100 + 120) / 3, 120};
  EXPECT_EQ(out, expected);
}

}  // namespace
}  // namespace vorsensor::testing
