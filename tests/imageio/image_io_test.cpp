// Image files in and out: round trips, every supported layout read from files
// made here with known pixels, and damaged files.
#include "imageio/image_io.h"

#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "image_file_builders.h"
#include "tests/support/random.h"

namespace vorsensor::imageio {
namespace {

std::string TempPath(const std::string& name) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  return (std::filesystem::temp_directory_path() /
          ("vs_imageio_" + std::string(info->name()) + "_" + std::to_string(::getpid()) + "_" + name))
      .string();
}

GreyImage RandomImage(int32_t w, int32_t h, uint64_t seed) {
  testing::TestRandom random(seed);
  GreyImage im;
  im.width = w;
  im.height = h;
  for (int32_t i = 0; i < w * h; ++i) {
    im.pixels.push_back(random.Byte());
  }
  return im;
}

uint8_t Luma(int r, int g, int b) { return static_cast<uint8_t>((299 * r + 587 * g + 114 * b + 500) / 1000); }

// A PNG in memory through libpng's simplified writer.
Bytes MakePng(uint32_t w, uint32_t h, uint32_t format, const void* pixels, const void* colourMap = nullptr,
              uint32_t colours = 0) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = w;
  image.height = h;
  image.format = format;
  image.colormap_entries = colours;
  png_alloc_size_t size = 0;
  EXPECT_NE(png_image_write_to_memory(&image, nullptr, &size, 0, pixels, 0, colourMap), 0);
  Bytes out(size);
  EXPECT_NE(png_image_write_to_memory(&image, out.data(), &size, 0, pixels, 0, colourMap), 0);
  out.resize(size);
  return out;
}

Bytes Pgm(const std::string& header, const Bytes& samples) {
  Bytes b(header.begin(), header.end());
  b.insert(b.end(), samples.begin(), samples.end());
  return b;
}

TEST(ImageIoTest, PngAndPgmRoundTripsKeepEveryPixel) {
  for (const auto& [w, h] : {std::pair{1, 1}, std::pair{37, 23}, std::pair{256, 288}}) {
    GreyImage im = RandomImage(w, h, static_cast<uint64_t>(w * 1000 + h));
    im.dpi = 500;
    const std::string png = TempPath("a.png");
    const std::string pgm = TempPath("a.pgm");
    ASSERT_TRUE(WritePng(png, im).ok());
    ASSERT_TRUE(WritePgm(pgm, im).ok());
    const ImageResult fromPng = ReadImage(png);
    const ImageResult fromPgm = ReadImage(pgm);
    ASSERT_TRUE(fromPng.ok()) << fromPng.error;
    ASSERT_TRUE(fromPgm.ok()) << fromPgm.error;
    EXPECT_EQ(fromPng.image.width, w);
    EXPECT_EQ(fromPng.image.height, h);
    EXPECT_EQ(fromPng.image.pixels, im.pixels);
    EXPECT_EQ(fromPng.image.dpi, 500);  // kept in the pHYs chunk
    EXPECT_EQ(fromPgm.image.pixels, im.pixels);
    EXPECT_EQ(fromPgm.image.dpi, 0);  // PGM states no resolution
    std::filesystem::remove(png);
    std::filesystem::remove(pgm);
  }
}

// A 2 x 1 BMP of pure red and pure blue with 5-6-5 bit-field masks after the 40-byte header.
Bytes Bmp565() {
  Bytes b = MakeBmp(2, 1, 16, {}, {0x00, 0xF8, 0x1F, 0x00});
  b[30] = 3;  // compression: bit fields
  Bytes masks;
  for (const uint32_t mask : {0xF800u, 0x07E0u, 0x001Fu}) Little32(masks, mask);
  b.insert(b.begin() + 54, masks.begin(), masks.end());
  b[10] = 54 + 12;  // pixel data now after the masks
  return b;
}

// A 2 x 1 BMP with the old 12-byte header and 3-byte palette entries.
Bytes CoreBmp() {
  Bytes b = {'B', 'M'};
  for (const uint32_t v : {0u, 0u, 14u + 12 + 6, 12u}) Little32(b, v);
  for (const uint32_t v : {2u, 1u, 1u, 1u}) Little16(b, v);  // width, height, planes, bits
  b.insert(b.end(), {0, 0, 0, 255, 255, 255, 0x40, 0, 0, 0});
  return b;
}

// Every colour depth, palette and transparency of PNG, PNM and BMP becomes grey.
TEST(ImageIoTest, EveryLayoutDecodesToGrey) {
  const uint8_t rgb[] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30};
  const uint16_t deep[] = {0, 65535, 257 * 100, 257 * 200};
  const uint8_t map[] = {0, 0, 0, 255, 255, 255, 200, 100, 50};
  const uint8_t indices[] = {2, 1, 0, 2, 2, 1};
  const uint8_t greyAlpha[] = {0, 0, 0, 255, 100, 128};
  const uint8_t m = Luma(200, 100, 50);
  const std::vector<uint32_t> palette = {0x000000, 0xFFFFFF, 0xC86432, 0x808080};
  const uint8_t c = Luma(0xC8, 0x64, 0x32);
  const uint8_t red = Luma(255, 0, 0), blue = Luma(0, 0, 255);
  const struct {
    std::string name;
    Bytes file;
    Bytes pixels;
    int32_t dpi;
  } cases[] = {
      {"rgb.png", MakePng(4, 1, PNG_FORMAT_RGB, rgb), {red, Luma(0, 255, 0), blue, Luma(10, 20, 30)}, 0},
      {"deep.png", MakePng(2, 2, PNG_FORMAT_LINEAR_Y, deep), {0, 255, 100, 200}, 0},
      {"palette.png", MakePng(3, 2, PNG_FORMAT_RGB_COLORMAP, indices, map, 3), {m, 255, 0, m, m, 255}, 0},
      // Transparent parts show the white of an empty sensor.
      {"alpha.png", MakePng(3, 1, PNG_FORMAT_GA, greyAlpha), {255, 0, (100 * 128 + 255 * 127 + 127) / 255}, 0},
      // ASCII with comments, maxval 1000; 16-bit binary samples, big-endian; binary colour.
      {"a.pgm", Pgm("P2\n# made by hand\n3 1 # width height\n1000\n0 500\n1000\n", {}), {0, 128, 255}, 0},
      {"b.pgm", Pgm("P5 2 2 65535\n", {0, 0, 1, 1, 0x80, 0x80, 0xFF, 0xFF}), {0, 1, 128, 255}, 0},
      {"c.ppm", Pgm("P6\n2 1\n255\n", {255, 0, 0, 0, 0, 255}), {red, blue}, 0},
      // 8-bit palette, 3 x 2, bottom-up, rows padded to 4 bytes.
      {"p8.bmp", MakeBmp(3, 2, 8, palette, {3, 2, 1, 0 /* bottom row */, 0, 1, 2, 0 /* top row */}, 19685), {0, 255, c, 128, c, 255}, 500},
      // 4-bit and 1-bit palettes, top-down (negative height).
      {"p4.bmp", MakeBmp(3, -1, 4, palette, {0x12, 0x30, 0, 0}), {255, c, 128}, 0},
      {"p1.bmp", MakeBmp(10, -1, 1, {0x000000, 0xFFFFFF}, {0xA5, 0x80, 0, 0}), {255, 0, 255, 0, 0, 255, 0, 255, 255, 0}, 0},
      // 24-bit (blue, green, red), 32-bit, 16-bit bit fields and the old header.
      {"rgb.bmp", MakeBmp(2, 1, 24, {}, {0, 0, 255, 255, 0, 0, 0, 0}), {red, blue}, 0},
      {"rgbx.bmp", MakeBmp(1, 1, 32, {}, {30, 20, 10, 0}), {Luma(10, 20, 30)}, 0},
      {"565.bmp", Bmp565(), {red, blue}, 0},
      {"core.bmp", CoreBmp(), {0, 255}, 0},
  };
  for (const auto& k : cases) {
    const ImageResult r = DecodeImage(k.file, k.name);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.image.pixels, k.pixels) << k.name;
    EXPECT_EQ(r.image.dpi, k.dpi) << k.name;
  }
}

// Files the reader refuses: the error names the file (and the reason, where
// given) and no pixels come back.
TEST(ImageIoTest, MalformedPnmAndBmpAreRefused) {
  Bytes rle = MakeBmp(1, 1, 8, {0}, {0, 0, 0, 0});
  rle[30] = 1;  // run-length compression
  const struct {
    std::string name;
    Bytes file;
    std::string reason;
  } cases[] = {
      {"maxval0.pgm", Pgm("P5 1 1 0\n", {0}), ""},
      {"maxval70000.pgm", Pgm("P5 1 1 70000\n", {0, 0}), ""},
      {"over.pgm", Pgm("P5 1 1 100\n", {101}), ""},
      {"over.pgm", Pgm("P2 2 1 9\n3 12\n", {}), ""},
      {"short.pgm", Pgm("P5 4 4 255\n", {1, 2, 3}), ""},
      {"noheader.pgm", Pgm("P5 4", {}), ""},
      {"bitmap.pbm", Pgm("P4 8 1\n", {0}), ""},
      {"huge.pgm", Pgm("P5 100000 100000 255\n", {0}), ""},
      {"rle.bmp", rle, "compressed BMP"},
      // A pixel that names a colour the palette does not have.
      {"index.bmp", MakeBmp(1, 1, 8, {0, 0xFFFFFF}, {5, 0, 0, 0}), "palette entry 5"},
  };
  for (const auto& k : cases) {
    const ImageResult r = DecodeImage(k.file, k.name);
    EXPECT_FALSE(r.ok()) << k.name;
    EXPECT_EQ(r.error.rfind(k.name + ": ", 0), 0u) << r.error;
    EXPECT_NE(r.error.find(k.reason), std::string::npos) << r.error;
    EXPECT_TRUE(r.image.pixels.empty()) << k.name;
  }
}

TEST(ImageIoTest, TiffWithLzwAndResolution) {
  const int w = 23;
  const int h = 17;
  const GreyImage grey = RandomImage(w, h, 7);
  const std::string path = TempPath("lzw.tif");
  WriteTiff(path, {w, h, 8, 1, PHOTOMETRIC_MINISBLACK, 5, 500.0f, RESUNIT_INCH}, grey.pixels.data());  // several strips
  ImageResult r = ReadImage(path);
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.image.width, w);
  EXPECT_EQ(r.image.height, h);
  EXPECT_EQ(r.image.pixels, grey.pixels);
  EXPECT_EQ(r.image.dpi, 500);

  // 16-bit RGB, resolution per centimetre.
  const uint16_t rgb[] = {65535, 65535, 65535, 0, 0, 65535};
  WriteTiff(path, {2, 1, 16, 3, PHOTOMETRIC_RGB, 0, 196.85f, RESUNIT_CENTIMETER}, rgb);
  r = ReadImage(path);
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.image.pixels, (Bytes{255, Luma(0, 0, 255)}));
  EXPECT_EQ(r.image.dpi, 500);
  std::filesystem::remove(path);
}

TEST(ImageIoTest, TruncatedAndCorruptFilesGiveErrors) {
  const GreyImage im = RandomImage(40, 30, 3);
  Bytes png;
  ASSERT_TRUE(EncodePng(im, png).ok());
  Bytes pgm;
  ASSERT_TRUE(EncodePgm(im, pgm).ok());
  Bytes rows(static_cast<size_t>(40 * 30));
  std::vector<uint32_t> palette;
  for (uint32_t i = 0; i < 256; ++i) {
    palette.push_back(i * 0x010101u);
  }
  const Bytes bmp = MakeBmp(40, 30, 8, palette, rows);
  const std::string tiffPath = TempPath("t.tif");
  WriteTiff(tiffPath, {40, 30, 8, 1, PHOTOMETRIC_MINISBLACK, 0, 0.0f, 0}, im.pixels.data());
  const Bytes tiff = ReadBytes(tiffPath);
  std::filesystem::remove(tiffPath);

  testing::TestRandom random(11);
  for (const auto& [name, whole] :
       std::vector<std::pair<std::string, Bytes>>{{"x.png", png}, {"x.pgm", pgm}, {"x.bmp", bmp}, {"x.tif", tiff}}) {
    ASSERT_TRUE(DecodeImage(whole, name).ok()) << name;
    // Every cut that loses pixel data is an error naming the file.
    for (size_t cut : {size_t{1}, size_t{5}, size_t{13}, size_t{30}, whole.size() / 2, whole.size() - 400}) {
      const Bytes part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
      const ImageResult r = DecodeImage(part, name);
      EXPECT_FALSE(r.ok()) << name << " cut at " << cut;
      EXPECT_EQ(r.error.rfind(name + ": ", 0), 0u) << r.error;
    }
    // Random damage: an image or an error, never a crash or an overread.
    for (int round = 0; round < 200; ++round) {
      Bytes damaged = whole;
      const int hits = random.Range(1, 8);
      for (int k = 0; k < hits; ++k) {
        damaged[static_cast<size_t>(random.Range(0, static_cast<int32_t>(std::min<size_t>(damaged.size(), 200)) - 1))] =
            random.Byte();
      }
      const ImageResult r = DecodeImage(damaged, name);
      if (r.ok()) {
        EXPECT_EQ(r.image.pixels.size(), static_cast<size_t>(r.image.width) * static_cast<size_t>(r.image.height));
      } else {
        EXPECT_FALSE(r.error.empty());
      }
    }
  }
  // A header promising an enormous bitmap.
  Bytes huge = bmp;
  huge[18] = 0xFF;
  huge[19] = 0xFF;
  huge[20] = 0xFF;
  huge[21] = 0x7F;
  EXPECT_FALSE(DecodeImage(huge, "huge.bmp").ok());
}

TEST(ImageIoTest, MissingUnknownAndUnwritable) {
  ImageResult r = ReadImage("/nonexistent/finger.png");
  EXPECT_FALSE(r.ok());
  EXPECT_NE(r.error.find("/nonexistent/finger.png"), std::string::npos);
  r = DecodeImage({}, "empty.png");
  EXPECT_EQ(r.error, "empty.png: file is empty");
  r = DecodeImage({'G', 'I', 'F', '8', '9', 'a'}, "x.gif");
  EXPECT_EQ(r.error, "x.gif: GIF images are not supported (expected PNG, BMP, TIFF or PGM/PNM)");
  r = DecodeImage({'G', 'I', 'F'}, "x.bin");
  EXPECT_EQ(r.error, "x.bin: unrecognised image format (expected PNG, BMP, TIFF or PGM/PNM)");

  GreyImage bad = RandomImage(4, 4, 1);
  bad.pixels.pop_back();
  EXPECT_FALSE(WritePng(TempPath("bad.png"), bad).ok());
  EXPECT_FALSE(WritePgm(TempPath("bad.pgm"), GreyImage{}).ok());
  const WriteResult w = WritePng("/nonexistent/dir/out.png", RandomImage(4, 4, 1));
  EXPECT_FALSE(w.ok());
  EXPECT_NE(w.error.find("/nonexistent/dir/out.png"), std::string::npos);
}

}  // namespace
}  // namespace vorsensor::imageio
