// ShowImage into display surfaces: the stretch deletes rows and columns (or
// repeats them) without blending, the palettes draw greys or black on white,
// and surfaces keep the frames drawn into them.
#include <gtest/gtest.h>

#include <vector>

#include "platform/display.h"
#include "platform/display_surface.h"

namespace vorsensor::platform {
namespace {

constexpr int32_t kW = 256;
constexpr int32_t kH = 288;

// A sensor-sized image whose every pixel tells its row and column apart.
std::vector<uint8_t> PatternImage() {
  std::vector<uint8_t> image(kW * kH);
  for (int32_t y = 0; y < kH; ++y) {
    for (int32_t x = 0; x < kW; ++x) image[y * kW + x] = static_cast<uint8_t>((x * 7 + y * 13) & 0xFF);
  }
  return image;
}

TEST(DisplayTest, StretchesToTheSurfaceByRepeatingOrDroppingPixels) {
  const std::vector<uint8_t> image = PatternImage();
  struct Case {
    int32_t width;
    int32_t height;
    // The source pixel that surface pixel (x, y) shows.
    int32_t (*sourceX)(int32_t);
    int32_t (*sourceY)(int32_t);
  };
  const Case cases[] = {
      {512, 576, [](int32_t x) { return x / 2; }, [](int32_t y) { return y / 2; }},  // twice the size
      {128, 288, [](int32_t x) { return 2 * x; }, [](int32_t y) { return y; }},      // squeezed across
      {256, 288, [](int32_t x) { return x; }, [](int32_t y) { return y; }},          // one to one
      {256, 96, [](int32_t x) { return x; }, [](int32_t y) { return 3 * y; }},       // every third row
  };
  for (const Case& c : cases) {
    DisplaySurface surface(c.width, c.height);
    ShowImage(surface.handle(), image.data(), kW, kH, PaletteKind::kGrey);
    const DisplayFrame frame = surface.Read();
    ASSERT_EQ(frame.pixels.size(), static_cast<size_t>(c.width * c.height));
    int32_t wrong = 0;
    for (int32_t y = 0; y < c.height; ++y) {
      for (int32_t x = 0; x < c.width; ++x) {
        wrong += frame.pixels[y * c.width + x] != image[c.sourceY(y) * kW + c.sourceX(x)];
      }
    }
    EXPECT_EQ(wrong, 0) << c.width << " x " << c.height;
  }
}

TEST(DisplayTest, PalettesAndTheirTables) {
  PaletteEntry grey[kPaletteEntries];
  PaletteEntry two[kPaletteEntries];
  BuildPalette(PaletteKind::kGrey, grey);
  BuildPalette(PaletteKind::kTwoColour, two);
  for (int32_t i = 0; i < kPaletteEntries; ++i) {
    EXPECT_TRUE(grey[i].blue == i && grey[i].green == i && grey[i].red == i && grey[i].reserved == 0) << i;
    const int32_t v = i == 0 ? 0 : 255;
    EXPECT_TRUE(two[i].blue == v && two[i].green == v && two[i].red == v && two[i].reserved == v) << i;
  }
  // Only pixels of value 0 draw black; an image without them draws all white.
  std::vector<uint8_t> image(kW * kH, 1);
  image[5] = 0;
  DisplaySurface surface(kW, kH);
  ShowImage(surface.handle(), image.data(), kW, kH, PaletteKind::kTwoColour);
  DisplayFrame frame = surface.Read();
  EXPECT_EQ(frame.pixels[5], 0);
  frame.pixels[5] = 255;
  for (uint8_t p : frame.pixels) ASSERT_EQ(p, 255);
}

TEST(DisplayTest, SurfacesKeepTheirFramesAndUnknownDisplaysDrawNothing) {
  const std::vector<uint8_t> image = PatternImage();
  DisplaySurface surface(16, 16, 2);
  for (int i = 0; i < 3; ++i) ShowImage(surface.handle(), image.data(), kW, kH, PaletteKind::kGrey);
  EXPECT_EQ(surface.DrawCount(), 3);
  EXPECT_EQ(surface.TakeFrames().size(), 2u);
  EXPECT_TRUE(surface.TakeFrames().empty());
  ShowImage(0, image.data(), kW, kH, PaletteKind::kGrey);
  ShowImage(surface.handle() + 1000, image.data(), kW, kH, PaletteKind::kGrey);
  EXPECT_EQ(surface.DrawCount(), 3);
  EXPECT_EQ(CreateDisplaySurface(0, 5), 0);
  EXPECT_EQ(CreateDisplaySurface(kDisplaySideMax + 1, 5), 0);
  const DisplayHandle largest = CreateDisplaySurface(kDisplaySideMax, 1);
  EXPECT_NE(largest, 0);
  DestroyDisplaySurface(largest);
  EXPECT_FALSE(IsDisplaySurface(largest));
}

}  // namespace
}  // namespace vorsensor::platform
